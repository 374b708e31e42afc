// Export definitions use the public header's TQBSE_API: only functions
// defined with it are visible in the shared object (everything else is
// built with hidden visibility).
#pragma once
#include "tqBsePluginControlDll.h"

#define TQ_EXPORT extern "C" TQBSE_API
