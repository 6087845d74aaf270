#include "string3.h"
