// LTE measurement and results exports, each generated from its row in lte_results_calls.h.
#include "api/lte_results_calls.h"
#include "core/call_remote.h"
#include "core/export.h"

TQ_LTE_RESULTS_CALLS(TQ_DEFINE_EXPORT)
