#include "complist.h"
