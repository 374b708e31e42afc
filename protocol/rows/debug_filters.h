// Rows of the debug-filter exports.
#pragma once
#include "protocol/call_description.h"

#define TQ_DEBUG_FILTERS_CALLS(X)                                                                  \
    X(Remote, DebugFilters, DebugFilters_GetCount, (OutInt, count))                                \
    X(Remote, DebugFilters, DebugFilters_NameLength_Get, (InInt, index), (OutInt, length))         \
    X(Remote, DebugFilters, DebugFilters_Name_Get, (InInt, index),                                 \
      (OutText, buffer, DebugFilters_NameLength_Get),                                              \
      (BufferSize, bufferSize))                                                                    \
    X(Remote, DebugFilters, DebugFilters_State_Set, (InText, name), (TextLimit, nameLimit),        \
      (InBool, state))                                                                             \
    X(Remote, DebugFilters, DebugFilters_State_Get, (InText, name), (TextLimit, nameLimit),        \
      (OutBool, state))                                                                            \
    X(Remote, DebugFilters, DebugFilters_AcceptChanges)                                            \
    X(Remote, DebugFilters, DebugFilters_RejectChanges)

namespace tqbse::calls {
TQ_DEBUG_FILTERS_CALLS(TQ_DESCRIBE_CALL)
}
