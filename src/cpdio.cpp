#include "cpdio.h"
