cmp merged.tsv whole.tsv
