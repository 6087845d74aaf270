cp "$CASE_DIR/../../../data/convert/small.smi" "$CASE_DIR/../../../data/convert/compounds.sdf" .
