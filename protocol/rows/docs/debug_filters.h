// What the debug-filter exports do, and what their parameters mean. A state
// set is a pending change until it is accepted or rejected.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

#define TQ_DOC_NAME "the filter's name; left out of the request when longer than nameLimit"

inline constexpr CallDoc kDebugFilters[] = {
    {"DebugFilters_GetCount", "Reads how many debug filters the server has.",
     {{"count", "receives the number of filters"}}},
    {"DebugFilters_NameLength_Get", "Reads the length of a debug filter's name, as the server reports it.",
     {{"index", "the filter, 0 .. count-1 as DebugFilters_GetCount reports; sent unchanged", "0"},
      {"length", "receives the length, passed on unchanged"}}},
    {"DebugFilters_Name_Get", "Copies a debug filter's name into a buffer.",
     {{"index", "the filter, 0 .. count-1; sent unchanged", "0"},
      {"buffer", "receives the name and its terminating zero; untouched on -13"}}},
    {"DebugFilters_State_Set",
     "Sets a debug filter's state as a pending change; DebugFilters_AcceptChanges applies it, "
     "DebugFilters_RejectChanges discards it.",
     {{"name", TQ_DOC_NAME, "MAC"}, {"state", "the new state, non-zero on and 0 off; sent unchanged", "1"}}},
    {"DebugFilters_State_Get",
     "Reads a debug filter's state (the emulator: the applied state, not a pending change).",
     {{"name", TQ_DOC_NAME, "MAC"}, {"state", "receives the state, its 32-bit value unchanged"}}},
    {"DebugFilters_AcceptChanges", "Applies every pending debug-filter change.", {}},
    {"DebugFilters_RejectChanges", "Discards every pending debug-filter change.", {}},
};

#undef TQ_DOC_NAME

} // namespace tqbse::docs
