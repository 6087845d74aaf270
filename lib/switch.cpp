#include "switch.h"
