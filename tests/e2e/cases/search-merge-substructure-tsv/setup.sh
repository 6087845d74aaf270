# Three shards with the common substructure as TSV columns (QTR records: atom
# line positions, no matches); the merge keeps the columns and equals the
# unsharded screen.
args=(-q --substructure -e 9 -e 10 examples/compounds.qtr examples/nci.qtr --top 2)
for k in 1 2 3; do "$BINDIR/taviron-search" "${args[@]}" --shard $k/3 -o p$k.tsv || exit 1; done
"$BINDIR/taviron-search" "${args[@]}" -o whole.tsv
