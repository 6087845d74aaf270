#include "string2.h"
