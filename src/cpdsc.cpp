#include "cpdsc.h"
