// Protocol measurement and results exports, each generated from its row in protocol/rows/protocol_results.h.
#include "protocol/rows/protocol_results.h"
#include "api/export.h"

TQ_PROTOCOL_RESULTS_CALLS(TQ_DEFINE_EXPORT)
