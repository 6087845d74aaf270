#include "exe1.h"
