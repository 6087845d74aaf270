#include "cpdgraph.h"
