# Parts written with and without --names do not merge.
args=(-q -e 9 examples/compounds.qtr examples/nci.qtr)
"$BINDIR/taviron-search" "${args[@]}" --names --shard 1/2 -o p1.tsv || exit 1
"$BINDIR/taviron-search" "${args[@]}" --shard 2/2 -o p2.tsv || exit 1
