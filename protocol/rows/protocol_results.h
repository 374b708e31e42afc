// Rows of the protocol measurement and results exports, and the one
// results-handle release that serves protocol and LTE handles alike.
#pragma once
#include "protocol/call_description.h"

#define TQ_PROTOCOL_RESULTS_CALLS(X)                                                               \
    X(Remote, ProtocolResults, Protocol_MeasurementEnabled_Set, (InInt, index), (InBool, enabled)) \
    X(Remote, ProtocolResults, Protocol_MeasurementEnabled_Get, (InInt, index),                    \
      (OutBool, enabled))                                                                          \
    X(Remote, ProtocolResults, Protocol_Results_Available_Get, (OutBool, available))               \
    X(Remote, ProtocolResults, Protocol_Results_GetHandle, (OutInt, handle))                       \
    X(Remote, ProtocolResults, Results_DeleteHandle, (InInt, handle))                              \
    X(Remote, ProtocolResults, Protocol_Results_GetTraceLength, (InInt, handle), (InInt, trace),   \
      (OutInt, length))                                                                            \
    X(Remote, ProtocolResults, Protocol_Results_GetTrace, (InInt, handle), (InInt, trace),         \
      (OutArray, xValues, Protocol_Results_GetTraceLength),                                        \
      (OutArray, yValues, Protocol_Results_GetTraceLength), (Capacity, capacity))                  \
    X(Remote, ProtocolResults, Protocol_Results_GetResultItem, (InInt, handle), (InInt, item),     \
      (OutDouble, firstValue), (OutDouble, secondValue))

namespace tqbse::calls {
TQ_PROTOCOL_RESULTS_CALLS(TQ_DESCRIBE_CALL)
}
