// What the LTE measurement and results exports do, and what their
// parameters mean. Handles are released with Results_DeleteHandle.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

#define TQ_DOC_PATH "the RF path the LTE measurement runs on; sent unchanged"
#define TQ_DOC_HANDLE "an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it"
#define TQ_DOC_VALUE(what) {{"handle", TQ_DOC_HANDLE, "1"}, {"value", "receives the " what " as a float"}}

inline constexpr CallDoc kLteResults[] = {
    {"LTE_MeasurementEnabled_Set", "Switches one LTE measurement of an RF path on or off.",
     {{"index", TQ_DOC_PATH, "0"},
      {"measurement", "which LTE measurement (the emulator: 0 .. 7); sent unchanged", "0"},
      {"enabled", "non-zero switches the measurement on, 0 off; sent unchanged", "1"}}},
    {"LTE_MeasurementEnabled_Get", "Reads whether one LTE measurement of an RF path is on.",
     {{"index", TQ_DOC_PATH, "0"}, {"measurement", "which LTE measurement; sent unchanged", "0"},
      {"enabled", "receives the enabled flag, its 32-bit value unchanged; 0 is off"}}},
    {"LTE_Results_Available_Get",
     "Reads whether LTE results of an RF path are available (the emulator: while any of its LTE measurements is "
     "on).",
     {{"index", TQ_DOC_PATH, "0"}, {"available", "receives the flag, unchanged; non-zero when results are available"}}},
    {"LTE_Results_GetHandle",
     "Takes a handle on the current LTE results of an RF path. Release it with Results_DeleteHandle when done.",
     {{"index", TQ_DOC_PATH, "0"}, {"handle", "receives the new handle"}}},
    {"LTE_Results_Cell_Get", "Reads the cell the LTE results behind a handle were measured on.",
     {{"handle", TQ_DOC_HANDLE, "1"}, {"cell", "receives the cell number"}}},
    {"LTE_Results_GetTraceLength", "Reads the number of points of one trace of LTE results.",
     {{"handle", TQ_DOC_HANDLE, "1"}, {"trace", "which trace of the results (the emulator: 0 .. 2); sent unchanged", "0"},
      {"length", "receives the number of points of each of the trace's two arrays"}}},
    {"LTE_Results_GetTrace",
     "Copies the points of one trace of LTE results into two arrays. Ask LTE_Results_GetTraceLength first: "
     "neither count is returned.",
     {{"handle", TQ_DOC_HANDLE, "1"}, {"trace", "which trace of the results; sent unchanged", "0"},
      {"xValues", "receives the x values (the emulator's unit: Hz, one point per subcarrier); written before "
                  "yValues is read"},
      {"yValues", "receives the y values; untouched when the x array or the y array fails"}}},
    {"LTE_Results_Evm_Rms_Get", "Reads the RMS error vector magnitude of the LTE results behind a handle.",
     TQ_DOC_VALUE("RMS error vector magnitude")},
    {"LTE_Results_Evm_Carrier_Get", "Reads the error vector magnitude of the allocated carriers.",
     TQ_DOC_VALUE("carrier error vector magnitude")},
    {"LTE_Results_Evm_NonAllocatedCarriers_Get", "Reads the error vector magnitude of the non-allocated carriers.",
     TQ_DOC_VALUE("error vector magnitude of the non-allocated carriers")},
    {"LTE_Results_FreqError_Get", "Reads the frequency error of the LTE results behind a handle.",
     TQ_DOC_VALUE("frequency error")},
    {"LTE_Results_CarrierLeak_Get", "Reads the carrier leakage of the LTE results behind a handle.",
     TQ_DOC_VALUE("carrier leakage")},
    {"LTE_Results_SymbolClkError_Get", "Reads the symbol clock error of the LTE results behind a handle.",
     TQ_DOC_VALUE("symbol clock error")},
    {"LTE_Results_IQGainImbalance_Get", "Reads the I/Q gain imbalance of the LTE results behind a handle.",
     TQ_DOC_VALUE("I/Q gain imbalance")},
    {"LTE_Results_IQSkew_Get", "Reads the I/Q skew of the LTE results behind a handle.", TQ_DOC_VALUE("I/Q skew")},
};

#undef TQ_DOC_PATH
#undef TQ_DOC_HANDLE
#undef TQ_DOC_VALUE

} // namespace tqbse::docs
