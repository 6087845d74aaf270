cmp merged.jsonl whole.jsonl
grep -q "\"query_match\":\"C" merged.jsonl
