#!/usr/bin/env bash
# Builds a large compound file for the reader benchmark: COPIES copies of
# examples/nci.qtr with the entries renumbered C00001, C00002, ... in the
# identifier columns (13 to 18) of the ENTRY lines.
#
# Usage: bench/make_big.sh [output [copies]]   (default bench/data/big.qtr, 20)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/bench/data/big.qtr}"
copies="${2:-20}"
src="$root/examples/nci.qtr"

mkdir -p "$(dirname "$out")"
tmp="$out.tmp.$$"
trap 'rm -f "$tmp"' EXIT

for ((i = 0; i < copies; i++)); do cat "$src"; done |
  awk '/^ENTRY/ { n++; printf "%sC%05d%s\n", substr($0, 1, 12), n, substr($0, 19); next }
       { print }' >"$tmp"
mv "$tmp" "$out"
trap - EXIT

printf '%s: %d records, %d bytes\n' "$out" \
  "$(grep -c '^ENTRY' "$out")" "$(wc -c <"$out")"
