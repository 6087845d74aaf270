# The 10000-node pair plus one atom of another type on each side: one more
# docking node, 10001, is past the capacity. The graph is not built and the
# result carries the refused node count.
awk 'BEGIN {
  print "ENTRY       C00001"
  print "ATOM        3"
  print "            1   X      C"
  print "            2   X      C"
  print "            3   Y      O"
  print "BOND        1"
  print "            1     1   2 1"
  print "///"
  n = 5000
  print "ENTRY       C00002"
  print "ATOM        " n + 1
  for (i = 1; i <= n; i++) printf "            %d   X      C\n", i
  printf "            %d   Y      O\n", n + 1
  print "BOND        " n - 1
  for (i = 1; i < n; i++) printf "            %d     %d   %d 1\n", i, i, i + 1
  print "///"
}' > dock.qtr
