# Two chains of 1200 atoms whose types cycle through twelve kinds, as in a
# long polymer: each type has 100 atoms on each side, so the docking graph
# would have 12 * 100 * 100 = 120000 nodes. It is refused at once, with the
# count, instead of being searched.
awk 'function chain(entry, n) {
  print "ENTRY       " entry
  print "ATOM        " n
  for (i = 1; i <= n; i++) printf "            %d   K%d    C\n", i, i % 12
  print "BOND        " n - 1
  for (i = 1; i < n; i++) printf "            %d     %d   %d 1\n", i, i, i + 1
  print "///"
}
BEGIN { chain("C00001", 1200); chain("C00002", 1200) }' > poly.qtr
