// Test-case exports, each generated from its row in protocol/rows/test_cases.h.
#include "protocol/rows/test_cases.h"
#include "api/export.h"

TQ_TEST_CASES_CALLS(TQ_DEFINE_EXPORT)
