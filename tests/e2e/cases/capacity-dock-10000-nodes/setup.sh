# A bonded pair of atoms against a chain of 5000 atoms, all of one type:
# 2 x 5000 = 10000 docking nodes, the largest graph that is searched. A clique
# holds at most two nodes (the first compound has two atoms); the first branch
# of the search already pairs the bond with a chain bond, so the score is 2.
awk 'BEGIN {
  print "ENTRY       C00001"
  print "ATOM        2"
  print "            1   X      C"
  print "            2   X      C"
  print "BOND        1"
  print "            1     1   2 1"
  print "///"
  n = 5000
  print "ENTRY       C00002"
  print "ATOM        " n
  for (i = 1; i <= n; i++) printf "            %d   X      C\n", i
  print "BOND        " n - 1
  for (i = 1; i < n; i++) printf "            %d     %d   %d 1\n", i, i, i + 1
  print "///"
}' > dock.qtr
