// Debug-filter exports, each generated from its row in protocol/rows/debug_filters.h.
#include "protocol/rows/debug_filters.h"
#include "api/export.h"

TQ_DEBUG_FILTERS_CALLS(TQ_DEFINE_EXPORT)
