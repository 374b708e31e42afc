// Scenario exports, each generated from its row in protocol/rows/scenarios.h.
#include "protocol/rows/scenarios.h"
#include "api/export.h"

TQ_SCENARIOS_CALLS(TQ_DEFINE_EXPORT)
