# Branches nested 20,000 deep, then a small molecule that is still converted.
{ printf 'C(%.0s' $(seq 20000); printf 'C'; printf ')%.0s' $(seq 20000); printf ' deep\n'
  printf 'CCO ethanol\n'; } > nested.smi
