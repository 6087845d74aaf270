# Two compounds of 2000 atoms: a chain of 1000 heavy atoms of types T1..T1000,
# each carrying one hydrogen. In the second compound the chain is broken
# between atoms 500 and 501. The docking graph pairs each heavy atom with its
# namesake (1000 nodes); every two nodes are compatible except the pair of
# atoms 500 and 501, bonded in one compound only. So the largest cliques leave
# out one of these two: 999 aligned atoms out of 1000 + 1000 - 999.
awk 'function chain(entry, n, broken) {
  print "ENTRY       " entry
  print "ATOM        " 2 * n
  for (i = 1; i <= n; i++) printf "            %d   T%d    C\n", i, i
  for (i = 1; i <= n; i++) printf "            %d   H      H\n", n + i
  print "BOND        " 2 * n - 1 - (broken ? 1 : 0)
  b = 0
  for (i = 1; i < n; i++)
    if (!(broken && i == n / 2)) printf "            %d     %d   %d 1\n", ++b, i, i + 1
  for (i = 1; i <= n; i++) printf "            %d     %d   %d 1\n", ++b, i, n + i
  print "///"
}
BEGIN { chain("C00001", 1000, 0); chain("C00002", 1000, 1) }' > big.qtr
