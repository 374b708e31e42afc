// The one export macro: only functions defined with it are visible in the
// shared object (everything else is built with hidden visibility).
#pragma once
#include "tqBsePluginControlDll.h"

#define TQ_EXPORT extern "C" __attribute__((visibility("default")))
