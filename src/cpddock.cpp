#include "cpddock.h"
