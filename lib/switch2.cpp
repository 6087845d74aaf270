#include "switch2.h"
