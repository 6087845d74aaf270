# Four shards of a ranked screen without each query's own record; the parts
# cut queries whose best rows tie across them (C00010 at 0.857143, C00108 at
# 0.483871), and the merge equals the unsharded screen.
args=(-q -e 9 -e 10 -e 20 -e 108 --top 5 --no-self examples/nci.qtr examples/nci.qtr)
for k in 1 2 3 4; do "$BINDIR/taviron-search" "${args[@]}" --shard $k/4 -o p$k.tsv || exit 1; done
"$BINDIR/taviron-search" "${args[@]}" -o whole.tsv
