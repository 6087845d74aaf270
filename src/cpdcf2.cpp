#include "cpdcf2.h"
