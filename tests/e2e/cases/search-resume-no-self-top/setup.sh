# The screen is interrupted by SIGINT once it has saved rows; the case then
# resumes it (with another thread count) and must write what an uninterrupted
# run writes.
mapfile -t args < "$CASE_DIR/screen-args"
bash "$CASE_DIR/../../interrupt_screen.sh" INT out.tsv "${args[@]}"
