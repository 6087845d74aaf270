#include "taviron.h"

int main() { return 0; }
