// Rows of the LTE measurement and results exports.
#pragma once
#include "protocol/call_description.h"

#define TQ_LTE_SINGLE_VALUE(X, name) X(Remote, LteResults, name, (InInt, handle), (OutFloat, value))

#define TQ_LTE_RESULTS_CALLS(X)                                                                    \
    X(Remote, LteResults, LTE_MeasurementEnabled_Set, (InInt, index), (InInt, measurement),        \
      (InBool, enabled))                                                                           \
    X(Remote, LteResults, LTE_MeasurementEnabled_Get, (InInt, index), (InInt, measurement),        \
      (OutBool, enabled))                                                                          \
    X(Remote, LteResults, LTE_Results_Available_Get, (InInt, index), (OutBool, available))         \
    X(Remote, LteResults, LTE_Results_GetHandle, (InInt, index), (OutInt, handle))                 \
    X(Remote, LteResults, LTE_Results_Cell_Get, (InInt, handle), (OutInt, cell))                   \
    X(Remote, LteResults, LTE_Results_GetTraceLength, (InInt, handle), (InInt, trace),             \
      (OutInt, length))                                                                            \
    X(Remote, LteResults, LTE_Results_GetTrace, (InInt, handle), (InInt, trace),                   \
      (OutArray, xValues, LTE_Results_GetTraceLength),                                             \
      (OutArray, yValues, LTE_Results_GetTraceLength), (Capacity, capacity))                       \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_Evm_Rms_Get)                                                \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_Evm_Carrier_Get)                                            \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_Evm_NonAllocatedCarriers_Get)                               \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_FreqError_Get)                                              \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_CarrierLeak_Get)                                            \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_SymbolClkError_Get)                                         \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_IQGainImbalance_Get)                                        \
    TQ_LTE_SINGLE_VALUE(X, LTE_Results_IQSkew_Get)

namespace tqbse::calls {
TQ_LTE_RESULTS_CALLS(TQ_DESCRIBE_CALL)
}
