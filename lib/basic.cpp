#include "basic.h"
