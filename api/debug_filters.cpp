// Debug-filter exports, each generated from its row in debug_filters_calls.h.
#include "api/debug_filters_calls.h"
#include "core/call_remote.h"
#include "core/export.h"

TQ_DEBUG_FILTERS_CALLS(TQ_DEFINE_EXPORT)
