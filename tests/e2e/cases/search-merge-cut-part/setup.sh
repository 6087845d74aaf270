# A part cut short at a line boundary after its shard was written.
"$BINDIR/taviron-search" -q -e 9 examples/compounds.qtr examples/compounds.qtr --shard 1/1 -o cut.tsv || exit 1
head -n 3 cut.tsv >cut && mv cut cut.tsv
