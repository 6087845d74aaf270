# Two drug molecules whose atom-mode search takes minutes without a budget.
awk '/^ENTRY/ { keep = ($2 == "D00954" || $2 == "D01114") } keep' \
  "$CASE_DIR/../../../../bench/drugs/drugs.qtr" >hard.qtr
