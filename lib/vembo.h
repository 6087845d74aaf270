// Public header of the support library.
#pragma once

#include "complist.h"
#include "string1.h"
#include "string2.h"
#include "string3.h"
#include "tokenizer.h"
#include "switch2.h"
#include "switch.h"
#include "basic.h"
