cmp merged.jsonl whole.jsonl
