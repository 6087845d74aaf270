#!/usr/bin/env bash
# Regenerates the seed corpora in fuzz/corpus/ from the bundled example
# compounds and the end-to-end cases of taviron. The seeds are small and
# committed; run this again when new cases should seed the fuzzers.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cases="$root/tests/e2e/cases"

# Cases of other programs name them in a `prog` file.
for_taviron() { [ ! -f "$1/prog" ] || [ "$(head -n 1 "$1/prog")" = taviron ]; }

# Inputs that cases generate at run time are made here too, in a scratch
# folder; the small ones become seeds.
generated="$(mktemp -d)"
trap 'rm -rf "$generated"' EXIT
for setup in "$cases"/*/setup.sh; do
  dir=$(dirname "$setup")
  for_taviron "$dir" || continue
  mkdir -p "$generated/$(basename "$dir")"
  (cd "$generated/$(basename "$dir")" && bash "$setup" >/dev/null 2>&1) || true
done

taviron_cases=()
for dir in "$cases"/*/; do
  dir=${dir%/}
  if for_taviron "$dir"; then taviron_cases+=("$(basename "$dir")"); fi
done

rm -rf "$root/fuzz/corpus"
python3 - "$root" "$generated" "${taviron_cases[@]}" <<'PY'
import hashlib, os, sys

root, generated, names = sys.argv[1], sys.argv[2], sys.argv[3:]
cases = os.path.join(root, "tests", "e2e", "cases")
corpus = os.path.join(root, "fuzz", "corpus")

def put(target, data):
    folder = os.path.join(corpus, target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)

def records(path):
    text = open(path, "rb").read()
    return [r + b"///\n" for r in text.split(b"///\n") if r.strip()]

def small_files(folder):
    if not os.path.isdir(folder):
        return []
    paths = [os.path.join(folder, n) for n in sorted(os.listdir(folder))]
    return [p for p in paths if os.path.isfile(p) and os.path.getsize(p) < 20000]

# compare_fuzzer: two setting bytes, then QTR text.
small = records(os.path.join(root, "examples", "compounds.qtr"))
settings = [b"\x00\x00", b"\x01\x00", b"\x02\x00", b"\x03\x00", b"\x04\x00",
            b"\x1c\x00", b"\x00\x01", b"\x02\x02"]
for i in range(len(small)):
    put("compare_fuzzer", settings[i % len(settings)] + small[i] + small[(i + 1) % len(small)])
put("compare_fuzzer", b"\x00\x00" + small[0])
put("compare_fuzzer", b"\x00\x00")
nci = sorted(records(os.path.join(root, "examples", "nci.qtr")), key=len)
for i in range(0, 40, 8):
    put("compare_fuzzer", settings[i % len(settings)] + nci[i] + nci[i + 1])
for case in names:
    for path in small_files(os.path.join(cases, case, "files")) + \
            small_files(os.path.join(cases, case)) + small_files(os.path.join(generated, case)):
        name = os.path.basename(path)
        if name.endswith(".qtr") or name == "stdin" or path.startswith(generated):
            put("compare_fuzzer", b"\x00\x00" + open(path, "rb").read())

# options_fuzzer: one setting byte, then NUL-separated words. The argument
# lists of the cases run against the program's table.
for case in names:
    args_path = os.path.join(cases, case, "args")
    args = open(args_path, "rb").read().split(b"\n") if os.path.exists(args_path) else []
    if args and args[-1] == b"":
        args.pop()
    put("options_fuzzer", b"\x00" + b"\x00".join([b"taviron"] + args))
put("options_fuzzer", b"\x02" + b"\x00".join([b"/usr/bin/taviron", b"x.qtr", b"-ae1", b"--entry2=2"]))
# Tables of their own: rows, an empty word, then the arguments.
tables = [
    ([b"(tail) str", b"x flag", b"y str"], [b"p", b"a", b"b", b"-x"]),
    ([b"(all),(tail) str", b"x flag", b"(head) str,one"], [b"p", b"a", b"-x", b"b", b"--x", b"c"]),
    ([b"h,(head) str,one def", b"x toggle", b"r int,lr", b"d double 1.5"],
     [b"p", b"w", b"-x", b"-r3-7", b"--x", b"d=2e3"]),
    ([b"n str,list a\\ b c\\td (null)", b"c char,lr", b"t toggle,zero on"],
     [b"p", b"-n", b"v", b"--n=w", b"-c", b"-y", b"t=no"]),
    ([b"x int,list"], [b"p"]),
    ([b"a,b flag", b"c,a flag"], [b"p"]),
    ([b"q weird"], [b"p"]),
]
for rows, args in tables:
    put("options_fuzzer", b"\x01" + b"\x00".join(rows + [b""] + args))

# molecule_fuzzer: one setting byte (bit 0 SD, bit 1 hydrogens, bit 2 small
# pieces, bit 3 names from a data field), then SMILES lines or an SD file.
data = os.path.join(root, "tests", "data", "convert")
smiles = [l for l in open(os.path.join(data, "small.smi"), "rb").read().split(b"\n") if l]
for i, line in enumerate(smiles):
    put("molecule_fuzzer", bytes([(0, 2, 4, 6)[i % 4]]) + line + b"\n")
for text in [b"[*:1]C(=O)O R\n*OCC* W\n", b"C1CC\nc1cccc1\nCC\n", b"[O-]Cl(=O)(=O)=O\n",
             b"C/C=C/C\tbutene\nF/C=C\\F\n", b"C" * 40 + b"(C(C(C)))" + b" chain\n",
             b".".join([b"c1ccccc1"] * 5) + b"\n", b"C[C@H](N)C(=O)O |$;;;;;$| x\n#c\n\n"]:
    put("molecule_fuzzer", b"\x04" + text)
records = open(os.path.join(data, "compounds.sdf"), "rb").read().split(b"$$$$\n")
for i in range(0, 40, 4):
    put("molecule_fuzzer", bytes([(1, 3, 5, 9)[(i // 4) % 4]]) + records[i] + b"$$$$\n")
v3000 = b"""ethanol
  v3000

  0  0  0     0  0            999 V3000
M  V30 BEGIN CTAB
M  V30 COUNTS 3 2 0 0 0
M  V30 BEGIN ATOM
M  V30 1 C 0 0 0 0
M  V30 2 C 1.5 0 0 0
M  V30 3 O 2.25 1.3 0 0
M  V30 END ATOM
M  V30 BEGIN BOND
M  V30 1 1 1 2
M  V30 2 1 2 3
M  V30 END BOND
M  V30 END CTAB
M  END
$$$$
"""
put("molecule_fuzzer", b"\x01" + v3000)
put("molecule_fuzzer", b"\x05" + v3000)
PY
for t in compare_fuzzer options_fuzzer molecule_fuzzer; do
  echo "fuzz/corpus/$t: $(ls "$root/fuzz/corpus/$t" | wc -l) seeds, $(cat "$root/fuzz/corpus/$t"/* | wc -c) bytes"
done
