awk -v atoms=4800 -v bonds=4800 -v types="C.ar.2=4800" \
  -f "$(dirname "${BASH_SOURCE[0]}")/../check_layout.awk" rings.qtr
