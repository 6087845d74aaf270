# Three shards of a screen with the common substructure in JSON lines (the
# matches are strings here); the merge keeps the columns and equals the
# unsharded screen.
args=(-q --substructure --names --pairs "$CASE_DIR/../../../data/convert/small.smi" --top 2 --format jsonl)
for k in 1 2 3; do "$BINDIR/taviron-search" "${args[@]}" --shard $k/3 -o p$k.jsonl || exit 1; done
"$BINDIR/taviron-search" "${args[@]}" -o whole.jsonl
