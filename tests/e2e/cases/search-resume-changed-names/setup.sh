# An interrupted screen resumed with --names added is refused; the output and
# the kept rows stay as they were.
mapfile -t args < "$CASE_DIR/screen-args"
bash "$CASE_DIR/../../interrupt_screen.sh" INT out.tsv "${args[@]}"
cp out.tsv.part kept.part
