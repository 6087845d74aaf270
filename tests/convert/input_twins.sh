#!/usr/bin/env bash
# Inputs in another dress read as their plain twins: a gzip-compressed file,
# a CSV or TSV table with a header line, molecules on standard input told by
# --in. Each row of the table runs one program twice and compares standard
# output and standard error (with the input's name made the same) byte for byte.
# usage: input_twins.sh BINDIR EXAMPLESDIR SDFILE
set -u
bin=$1 examples=$2 sdfile=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

# Line 2 is broken, so the twins must also agree on warnings and on the gap
# it leaves in the identifiers; names hold blanks, and a comma in the CSV.
printf 'Oc1ccccc1\tPhenol\nC1CC\ttypo\nCc1ccccc1\tToluene, pure\nN[C@@H](Cc1ccc(O)cc1)C(=O)O\tL-Tyrosine\n' > m.smi
printf 'id,smiles,name\n1,Oc1ccccc1,Phenol\n2,C1CC,typo\n\n3,Cc1ccccc1,"Toluene, pure"\n4,N[C@@H](Cc1ccc(O)cc1)C(=O)O,L-Tyrosine\n' > m.csv
printf 'Title\tSMI\nPhenol\tOc1ccccc1\ntypo\tC1CC\nToluene, pure\tCc1ccccc1\nL-Tyrosine\tN[C@@H](Cc1ccc(O)cc1)C(=O)O\n' > m.tsv
cp "$sdfile" m.sdf
cp "$examples/compounds.qtr" m.qtr
for f in m.smi m.sdf m.qtr m.csv; do gzip -c "$f" > "$f.gz"; done
cp m.smi.gz M.SMI.GZ

fail=0 n=0
# twin NAME PROG "PLAIN ARGS" "OTHER ARGS" [STDIN]: the words of each are split at blanks.
twin() {
  local name=$1 prog=$2 plain=$3 other=$4 input=${5:-/dev/null}
  [ "$prog" = taviron-search ] && prog="$prog -q"  # no summary: it holds timings
  n=$((n + 1))
  # shellcheck disable=SC2086
  "$bin"/$prog $plain < /dev/null > a.out 2> a.err
  local sa=$?
  # shellcheck disable=SC2086
  "$bin"/$prog $other < "$input" > b.out 2> b.err
  local sb=$?
  # Warnings name their input: the plain twin's name stands for the other's.
  # Warnings name their input and line: a table's lines count its header.
  sed -i -E 's/(m\.(smi|csv|tsv|sdf)(\.gz)?|M\.SMI\.GZ|stdin):[0-9]+:/INPUT:LINE:/' a.err b.err
  if [ $sa != $sb ] || ! cmp -s a.out b.out || ! cmp -s a.err b.err || [ ! -s a.out ]; then
    echo "FAIL $name: status $sa vs $sb"
    diff a.out b.out | head -n 10
    diff a.err b.err | head -n 10
    fail=$((fail + 1))
  fi
}

S=taviron-search C=taviron-convert
twin search-smi-gz $S "--names m.smi m.smi" "--names m.smi.gz m.smi.gz"
twin search-upper-gz $S "--names m.smi m.smi" "--names M.SMI.GZ M.SMI.GZ"
twin search-sdf-gz $S "--names m.sdf m.qtr" "--names m.sdf.gz m.qtr.gz"
twin search-qtr-gz $S "--top 2 -e 9 m.qtr m.qtr" "--top 2 -e 9 m.qtr.gz m.qtr.gz"
twin search-csv $S "--names m.smi m.smi" "--names m.csv m.csv"
twin search-csv-gz $S "--names m.smi m.smi" "--names m.csv.gz m.csv.gz"
twin search-tsv-columns $S "--names m.smi m.smi" \
  "--names --smiles-column smi --name-column title m.tsv m.tsv"
twin search-stdin-smi $S "--names -e C00003 m.smi m.qtr" "--names -e C00003 --in smi - m.qtr" m.smi
twin search-stdin-csv $S "--names m.smi m.qtr" "--names --in csv - m.qtr" m.csv
twin search-stdin-sdf $S "--names m.sdf m.sdf" "--names --in sdf - -" m.sdf
twin search-stdin-qtr $S "m.qtr m.smi" "--in qtr - m.smi" m.qtr
twin convert-smi-gz $C "m.smi" "m.smi.gz"
twin convert-sdf-gz $C "--name-field NAME m.sdf" "--name-field NAME m.sdf.gz"
twin convert-csv $C "m.smi" "m.csv"
twin convert-csv-gz $C "m.smi" "m.csv.gz"
twin convert-tsv $C "m.smi" "--smiles-column SMI --name-column Title m.tsv"
twin convert-stdin-csv $C "m.smi" "--in csv -" m.csv
twin convert-forced-gz $C "m.smi" "--in smi M.SMI.GZ"

# Refusals: a table without the column asked for, data that is not gzip.
printf 'garbage\n' > bad.smi.gz
head -c 40 m.smi.gz > cut.smi.gz
refuse() {  # refuse NAME EXPECTED-STDERR PROG ARGS...
  local name=$1 expected=$2
  shift 2
  n=$((n + 1))
  "$bin"/$@ < /dev/null > /dev/null 2> r.err
  local status=$?
  if [ $status != 9 ] || [ "$(cat r.err)" != "$expected" ]; then
    echo "FAIL $name: status $status, stderr: $(cat r.err)"
    fail=$((fail + 1))
  fi
}
refuse convert-no-column "taviron-convert: m.csv:1: no column 'SMI' in the header line (--smiles-column)" \
  $C --smiles-column SMI m.csv
refuse search-no-name-column \
  "taviron-search: cannot read m.tsv: m.tsv:1: no column 'label' in the header line (--name-column)" \
  $S --smiles-column SMI --name-column label m.tsv m.tsv
refuse convert-not-gzip "taviron-convert: cannot read bad.smi.gz: not gzip data" $C bad.smi.gz
refuse search-cut-gzip "taviron-search: cannot read cut.smi.gz: corrupt gzip data (unexpected end of file)" \
  $S cut.smi.gz cut.smi.gz
refuse search-bad-in "taviron-search: bad value for --in: 'pdb' (expected qtr, sdf, smi, csv or tsv)" \
  $S --in pdb - -

echo "$((n - fail)) passed, $fail failed"
[ $fail = 0 ]
