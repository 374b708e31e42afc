// LTE measurement and results exports, each generated from its row in protocol/rows/lte_results.h.
#include "protocol/rows/lte_results.h"
#include "api/export.h"

TQ_LTE_RESULTS_CALLS(TQ_DEFINE_EXPORT)
