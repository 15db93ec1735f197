// Included by the files that define the C entry points: the declarations
// get default visibility while everything else in the library stays hidden.
#pragma once

#pragma GCC visibility push(default)
#include "vornal.h"
#pragma GCC visibility pop
