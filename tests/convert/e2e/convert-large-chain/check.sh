awk -v atoms=10000 -v bonds=9999 -v types="C.sp3.1=2 C.sp3.2=9998" \
  -f "$(dirname "${BASH_SOURCE[0]}")/../check_layout.awk" chain.qtr
