#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ (or the folder given as $1).
#
#   compare_fuzzer  QTR reader, docking, clique search, scoring, report
#   options_fuzzer  option table facility with the program's table
#   molecule_fuzzer SMILES and SD input through RDKit, the typing and the
#                   reader (only where RDKit is installed: librdkit-dev)
#
# The library and engine sources are compiled here directly, independent of
# the CMake tree and its compiler flags. Objects are rebuilt when their source
# or any header is newer.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/build-fuzz}"
cxx="${CXX_FUZZ:-clang++-14}"
command -v "$cxx" >/dev/null || cxx=clang++
command -v "$cxx" >/dev/null || { echo "fuzz/build.sh: clang++ is needed (apt-get install clang)" >&2; exit 1; }

flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=all
       -DTAVIRON_NO_BMI2 -DTAVIRON_NO_POPCNT -pthread -I"$root/lib" -I"$root/src" -I"$root" -I"$out")
sources=(lib/complist.cpp lib/string1.cpp lib/string2.cpp lib/string3.cpp lib/tokenizer.cpp
         lib/switch2.cpp lib/switch.cpp lib/basic.cpp lib/atomic_file.cpp lib/gzinput.cpp
         src/cpdio.cpp src/cpddock.cpp src/cpdcf2.cpp src/cpdcf2_search.cpp src/cpdgraph.cpp src/cpdsc.cpp src/exe1.cpp
         src/maxclique.cpp src/mcsplit.cpp src/mcsplit_search.cpp src/reportjudge.cpp)
targets=(compare_fuzzer options_fuzzer)

# The molecule target is built on the system's RDKit, which stays
# uninstrumented; only our side of it is sanitized.
rdkit_inc=/usr/include/rdkit
rdkit_libs=(-lRDKitDescriptors -lRDKitFileParsers -lRDKitSmilesParse -lRDKitDepictor
            -lRDKitGraphMol -lRDKitRDGeometryLib -lRDKitRDGeneral)
mol_sources=(convert/molconvert.cpp convert/layout.cpp convert/limits.cpp)
if [ -f "$rdkit_inc/GraphMol/GraphMol.h" ] && [ -f /usr/include/boost/version.hpp ]; then
  targets+=(molecule_fuzzer)
else
  echo "fuzz/build.sh: molecule_fuzzer skipped (apt-get install librdkit-dev libboost-dev)" >&2
  mol_sources=()
fi

mkdir -p "$out/obj"

# The option fuzzer parses with the program's own table: its rows are taken
# from src/taviron.cpp, from the first row up to the end of the table array.
inc="$out/taviron_options.inc"
sed -n '/^char row_prog\[\]/,/nullptr};/p' "$root/src/taviron.cpp" >"$inc.tmp"
if ! grep -q '^char \*options\[\]' "$inc.tmp"; then
  echo "fuzz/build.sh: the option table was not found in src/taviron.cpp" >&2
  exit 1
fi
cmp -s "$inc.tmp" "$inc" 2>/dev/null && rm "$inc.tmp" || mv "$inc.tmp" "$inc"

headers=("$root"/lib/*.h "$root"/src/{cpdcommon,cpdio,cpddock,cpdcf2,cpdcf2_search,cpdgraph,cpdsc,exe1,maxclique,mcsplit}.h
         "$root"/convert/{molconvert,layout,limits,substructure}.h "$inc")
newest_header=$(ls -t "${headers[@]}" | head -n 1)
stale() {  # stale OBJECT SOURCE
  [ ! -e "$1" ] || [ "$2" -nt "$1" ] || [ "$newest_header" -nt "$1" ]
}

# The search and scoring loops compare small counts millions of times per
# input; tracing those comparisons slows the fuzzer down several times and
# guides nothing, so these files get edge coverage only.
untraced=" src/cpdcf2.cpp src/cpdcf2_search.cpp src/cpdgraph.cpp src/cpdsc.cpp src/maxclique.cpp src/mcsplit.cpp "

compile() {  # compile SOURCE OBJECT
  local rel="${1#"$root"/}" extra=()
  [[ "$untraced" == *" $rel "* ]] && extra=(-fno-sanitize-coverage=trace-cmp)
  [[ "$rel" == convert/* || "$rel" == fuzz/molecule_fuzzer.cpp ]] && extra+=(-isystem "$rdkit_inc")
  echo "  compiling $rel"
  "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link "${extra[@]}" -c "$1" -o "$2"
}

pending=()  # source, object, source, object, ...
for src in "${sources[@]}" "${mol_sources[@]}"; do
  obj="$out/obj/$(basename "${src%.cpp}").o"
  if stale "$obj" "$root/$src"; then pending+=("$root/$src" "$obj"); fi
done
for t in "${targets[@]}"; do
  obj="$out/obj/$t.o"
  if stale "$obj" "$root/fuzz/$t.cpp"; then pending+=("$root/fuzz/$t.cpp" "$obj"); fi
done
running=0
failed=0
for ((k = 0; k < ${#pending[@]}; k += 2)); do
  if [ "$running" -ge "${FUZZ_JOBS:-2}" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  compile "${pending[k]}" "${pending[k + 1]}" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz/build.sh: compilation failed" >&2
  exit 1
fi

lib_objs=()
for src in "${sources[@]}"; do lib_objs+=("$out/obj/$(basename "${src%.cpp}").o"); done
for t in "${targets[@]}"; do
  objs=("${lib_objs[@]}") libs=()
  if [ "$t" = molecule_fuzzer ]; then
    for src in "${mol_sources[@]}"; do objs+=("$out/obj/$(basename "${src%.cpp}").o"); done
    libs=("${rdkit_libs[@]}")
  fi
  newest_obj=$(ls -t "$out/obj/$t.o" "${objs[@]}" | head -n 1)
  if [ ! -e "$out/$t" ] || [ "$newest_obj" -nt "$out/$t" ]; then
    "$cxx" "${flags[@]}" -fsanitize=fuzzer "$out/obj/$t.o" "${objs[@]}" "${libs[@]}" -lz -o "$out/$t"
    echo "  built $out/$t"
  fi
done
