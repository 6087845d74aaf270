# Three shards written with --names; the merge keeps the name columns and
# equals the unsharded screen.
args=(-q --names -e 9 -e 10 examples/compounds.qtr examples/nci.qtr --top 2 --format jsonl)
for k in 1 2 3; do "$BINDIR/taviron-search" "${args[@]}" --shard $k/3 -o p$k.jsonl || exit 1; done
"$BINDIR/taviron-search" "${args[@]}" -o whole.jsonl
