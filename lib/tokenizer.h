// Stateful tokenizer: remembers, per string address, where the last returned
// token ended, so that repeated calls walk through a string's tokens.
#pragma once

typedef struct _String_Tokenizer_Struct {
  char *str_ptr;   // the caller's string; its address identifies the state
  char *char_del;  // private copy of the current delimiter set, or null
  char *word_del;  // private copy of the current delimiter word, or null
  char *next_ptr;  // resume point in the caller's string, null at its end
} STS;

void strtokenizer_init();
char *strntokenizer(char *s, const char *char_del, int number);
char *strtokenizer(char *s, const char *char_del);
char *strwntokenizer(char *s, const char *word_del, int number);
char *strwtokenizer(char *s, const char *word_del);
int strtokenizer_flush(char *s);
void strtokenizer_finish();
void strtokenizer_debug();

// Printer used by strtokenizer_debug() for one state (the position is not
// printed). Exposed for tests.
int print_STS(void *item, int position);
