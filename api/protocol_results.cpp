// Protocol measurement and results exports, each generated from its row in protocol_results_calls.h.
#include "api/protocol_results_calls.h"
#include "core/call_remote.h"
#include "core/export.h"

TQ_PROTOCOL_RESULTS_CALLS(TQ_DEFINE_EXPORT)
