cmp out.tsv.part kept.part && [ -f out.tsv.resume ]
