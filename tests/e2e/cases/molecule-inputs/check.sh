# taviron and taviron-depict read SMILES and SD files as the QTR records they
# convert to (tests/data/convert holds the molecules of examples/compounds.qtr
# and examples/nci.qtr, atom for atom), entries by identifier or by name.
[ -x "$BINDIR/taviron-convert" ] || { echo "no taviron-convert here (built with RDKit): nothing to compare"; exit 0; }
fail=0
same() {  # same WHAT MOLECULE-RUN... -- QTR-RUN...
  local what=$1 a=() b=()
  shift
  while [ "$1" != -- ]; do a+=("$1"); shift; done
  shift
  b=("$@")
  if ! cmp -s <("$BINDIR/${a[@]}" 2>&1; echo "status $?") <("$BINDIR/${b[@]}" 2>&1; echo "status $?"); then
    echo "$what: differs from the QTR run"
    fail=1
  fi
}
same "SMILES by name" taviron small.smi -e Phenol -f L-Tyrosine --align -- taviron examples/compounds.qtr -e 9 -f 10 --align
same "SMILES by number" taviron small.smi -e 1 -f 3 --qtroutput -- taviron examples/compounds.qtr -e 1 -f 3 --qtroutput
same "SD by identifier" taviron compounds.sdf -e C00020 -f C00021 --trick 1 -- taviron examples/nci.qtr -e C00020 -f C00021 --trick 1
same "SMILES, both by name" taviron small.smi -e Glycine -f L-Serine -- taviron examples/compounds.qtr -e 2 -f 3
same "depiction of SMILES" taviron-depict small.smi -e Phenol -f 10 -- taviron-depict examples/compounds.qtr -e 9 -f 10
# A name that is no record's is no entry; the message names what was typed.
out=$("$BINDIR/taviron" small.smi -e Nothing -f 1 2>&1)
[ $? = 9 ] && [ "$out" = "Nothing: no such entry" ] || { echo "unknown name: $out"; fail=1; }
exit $fail
