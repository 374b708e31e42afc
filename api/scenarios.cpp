// Scenario exports, each generated from its row in scenarios_calls.h.
#include "api/scenarios_calls.h"
#include "core/call_remote.h"
#include "core/export.h"

TQ_SCENARIOS_CALLS(TQ_DEFINE_EXPORT)
