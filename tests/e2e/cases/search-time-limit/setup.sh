# Two drug molecules whose proof without a budget takes minutes: they share
# only two atom types, chains of CH2 and CH3, and many ways to map them.
awk '/^ENTRY/ { keep = ($2 == "D01138" || $2 == "D01163") } keep' \
  "$CASE_DIR/../../../../bench/drugs/drugs.qtr" >hard.qtr
