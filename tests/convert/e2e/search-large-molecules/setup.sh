# A chain one atom over the default limit, a chain of 2,000 atoms, ethanol.
{ printf 'C%.0s' $(seq 10001); printf ' over\n'
  printf 'C%.0s' $(seq 2000); printf ' chain\n'
  printf 'CCO ethanol\n'; } > big.smi
