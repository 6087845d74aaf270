# Five unbonded atoms against forty, all of one type: 200 docking nodes, and
# every one-to-one map of the five atoms into the forty is a largest clique,
# 40*39*38*37*36 = 78960960 of them. The search keeps the first 10000 of the
# size found (the step budget ends it long before it could list them all).
# The first clique found maps atom k to atom k; all cliques score alike and
# it holds the first-listed pieces, so it is the one reported.
awk 'BEGIN {
  print "ENTRY       C00001"
  print "ATOM        5"
  for (i = 1; i <= 5; i++) printf "            %d   X      C\n", i
  print "///"
  print "ENTRY       C00002"
  print "ATOM        40"
  for (i = 1; i <= 40; i++) printf "            %d   X      C\n", i
  print "///"
}' > many.qtr
