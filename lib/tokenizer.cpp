#include "tokenizer.h"
