# The screen is interrupted by SIGTERM once it has saved rows; the case then
# resumes it (with another thread count) and must write what an uninterrupted
# run writes.
mapfile -t args < "$CASE_DIR/screen-args"
bash "$CASE_DIR/../../interrupt_screen.sh" TERM out.jsonl "${args[@]}"
