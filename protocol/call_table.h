// The whole call-description table: every export's row, in the order of the
// public header. Header-only, so the emulator and the command-line tool read
// exactly the rows the library is built from.
#pragma once

#include <span>
#include <string_view>

#include "protocol/rows/core.h"
#include "protocol/rows/debug_filters.h"
#include "protocol/rows/file_lists.h"
#include "protocol/rows/lte_results.h"
#include "protocol/rows/protocol_results.h"
#include "protocol/rows/rf_settings.h"
#include "protocol/rows/scenarios.h"
#include "protocol/rows/test_cases.h"

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
static_assert(kCallCount == TQBSE_EXPORT_COUNT, "a row for every export of the public header");

// The session API's own functions (open, close and three for events), which
// have no rows, and the twins of the rows that call the server.
inline constexpr std::string_view kSessionOwnFunctionNames[] = {
    "tqbse_open", "tqbse_close", "tqbse_set_event_handler", "tqbse_wait_event", "tqbse_events_dropped"};
inline constexpr std::size_t kSessionOwnFunctions = std::size(kSessionOwnFunctionNames);
constexpr std::size_t sessionTwinCount()
{
    std::size_t n = 0;
    for (const CallDesc* d : kAllCalls)
        n += hasSessionTwin(d->kind) ? 1 : 0;
    return n;
}
// Before the session header's generated part is written, it has only the
// session API's own functions.
static_assert(TQBSE_SESSION_EXPORT_COUNT == kSessionOwnFunctions
                  || TQBSE_SESSION_EXPORT_COUNT == kSessionOwnFunctions + sessionTwinCount(),
              "a session twin in the session header for every row that calls the server");

inline std::span<const CallDesc* const> allCalls() { return kAllCalls; }

// Finds a row by its full export name or by the name without the prefix.
constexpr const CallDesc* findCall(std::string_view name)
{
    if (name.starts_with(kExportPrefix))
        name.remove_prefix(kExportPrefix.size());
    for (const CallDesc* d : kAllCalls)
        if (d->shortName() == name)
            return d;
    return nullptr;
}

// The row a server answers for a request name: the full export name of a
// remote call (the prefix is part of the name on the wire). Null for a
// local export, a short name or an unknown one.
constexpr const CallDesc* findRemoteCall(std::string_view name)
{
    if (!name.starts_with(kExportPrefix))
        return nullptr;
    const CallDesc* row = findCall(name);
    return row && row->kind != CallKind::Local ? row : nullptr;
}

// The row of the query that sizes a text or array output; null for other
// parameters.
constexpr const CallDesc* sizingQuery(const ParamDesc& p)
{
    return p.sizedBy[0] != '\0' ? findCall(p.sizedBy) : nullptr;
}

// Every sizing query is a row whose only output is the integer size. Found
// by name rather than through findCall: g++ with -fsanitize=undefined does
// not fold a row's address compared with null in a constant expression.
constexpr bool sizingQueriesExist()
{
    for (const CallDesc* d : kAllCalls)
        for (int i = 0; i < d->paramCount; ++i) {
            const std::string_view sizedBy = d->params[i].sizedBy;
            if (sizedBy.empty())
                continue;
            bool found = false;
            for (const CallDesc* q : kAllCalls)
                if (q->shortName() == sizedBy)
                    found = q->outputCount == 1 && q->outputs[0].role == ParamRole::OutInt;
            if (!found)
                return false;
        }
    return true;
}
static_assert(sizingQueriesExist(), "a sizing query names no row with one integer output");

} // namespace tqbse
