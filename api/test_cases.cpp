// Test-case exports, each generated from its row in test_cases_calls.h.
#include "api/test_cases_calls.h"
#include "core/call_remote.h"
#include "core/export.h"

TQ_TEST_CASES_CALLS(TQ_DEFINE_EXPORT)
