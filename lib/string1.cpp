#include "string1.h"
