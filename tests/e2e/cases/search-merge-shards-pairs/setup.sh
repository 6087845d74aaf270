# Three shards of one screen, written as parts for the merge.
mapfile -t args < "$CASE_DIR/shard-args"
for k in 1 2 3; do "$BINDIR/taviron-search" -q "${args[@]}" --shard $k/3 -o p$k.tsv || exit 1; done
