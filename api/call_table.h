// The whole call-description table: every export's row, in the order of the
// public header. Header-only, so the emulator and the command-line tool read
// exactly the rows the library is built from.
#pragma once

#include <span>
#include <string_view>

#include "api/debug_filters_calls.h"
#include "api/file_lists_calls.h"
#include "api/lte_results_calls.h"
#include "api/protocol_results_calls.h"
#include "api/rf_settings_calls.h"
#include "api/scenarios_calls.h"
#include "api/test_cases_calls.h"
#include "core/core_calls.h"

#define TQ_ALL_CALLS(X)                                                                            \
    TQ_CORE_CALLS(X)                                                                               \
    TQ_RF_SETTINGS_CALLS(X)                                                                        \
    TQ_TEST_CASES_CALLS(X)                                                                         \
    TQ_PROTOCOL_RESULTS_CALLS(X)                                                                   \
    TQ_LTE_RESULTS_CALLS(X)                                                                        \
    TQ_SCENARIOS_CALLS(X)                                                                          \
    TQ_DEBUG_FILTERS_CALLS(X)                                                                      \
    TQ_FILE_LISTS_CALLS(X)

namespace tqbse {

inline constexpr const CallDesc* kAllCalls[] = {TQ_ALL_CALLS(TQ_CALL_POINTER)};
inline constexpr std::size_t kCallCount = std::size(kAllCalls);
static_assert(kCallCount == 75, "the library has 75 exports");

inline std::span<const CallDesc* const> allCalls() { return kAllCalls; }

// Finds a row by its full export name or by the name without the prefix.
inline const CallDesc* findCall(std::string_view name)
{
    if (name.starts_with(kExportPrefix))
        name.remove_prefix(kExportPrefix.size());
    for (const CallDesc* d : kAllCalls)
        if (d->shortName() == name)
            return d;
    return nullptr;
}

} // namespace tqbse
