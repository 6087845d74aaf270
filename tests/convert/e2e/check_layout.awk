# Checks one converted record: its atom and bond counts, the count of each
# environment type, and that no two atoms were put in the same place.
# usage: awk -v atoms=N -v bonds=M -v types="T1=n1 T2=n2" -f check_layout.awk FILE
/^ATOM/ { section = "atom"; header_atoms = $2; next }
/^BOND/ { section = "bond"; header_bonds = $2; next }
/^[A-Z\/]/ { section = ""; next }
section == "atom" { ++n; ++count[$2]; place = $4 " " $5; if (place in seen) same++; seen[place] = 1 }
section == "bond" { ++m }
END {
  bad = 0
  if (n != atoms || header_atoms != atoms) { print "atoms: " n " (header " header_atoms "), expected " atoms; bad = 1 }
  if (m != bonds || header_bonds != bonds) { print "bonds: " m " (header " header_bonds "), expected " bonds; bad = 1 }
  k = split(types, want, " ")
  for (i = 1; i <= k; ++i) {
    split(want[i], tn, "=")
    if (count[tn[1]] != tn[2]) { print tn[1] ": " count[tn[1]] + 0 ", expected " tn[2]; bad = 1 }
  }
  if (same > 0) { print same " atoms share a place with another"; bad = 1 }
  exit bad
}
