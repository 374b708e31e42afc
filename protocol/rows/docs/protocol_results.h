// What the protocol measurement and results exports do, and what their
// parameters mean. Results stay on the server behind a handle.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

#define TQ_DOC_HANDLE "a results handle from Protocol_Results_GetHandle; sent unchanged, the server judges it"
#define TQ_DOC_TRACE "which trace of the results (the emulator: 0 and 1); sent unchanged"

inline constexpr CallDoc kProtocolResults[] = {
    {"Protocol_MeasurementEnabled_Set", "Switches a protocol measurement on or off.",
     {{"index", "the protocol measurement (the emulator: one per RF path); sent unchanged", "0"},
      {"enabled", "non-zero switches the measurement on, 0 off; sent unchanged", "1"}}},
    {"Protocol_MeasurementEnabled_Get", "Reads whether a protocol measurement is on.",
     {{"index", "the protocol measurement; sent unchanged", "0"},
      {"enabled", "receives the enabled flag, its 32-bit value unchanged; 0 is off"}}},
    {"Protocol_Results_Available_Get",
     "Reads whether protocol results are available (the emulator: while any protocol measurement is on).",
     {{"available", "receives the flag, unchanged; non-zero when results are available"}}},
    {"Protocol_Results_GetHandle",
     "Takes a handle on the current protocol results. Release it with Results_DeleteHandle when done.",
     {{"handle", "receives the new handle"}}},
    {"Results_DeleteHandle",
     "Releases a protocol or LTE results handle; the server answers with a negative code for a handle it does not "
     "know (the emulator: -18, also for a second release).",
     {{"handle", "the handle to release, from Protocol_Results_GetHandle or LTE_Results_GetHandle", "1"}}},
    {"Protocol_Results_GetTraceLength", "Reads the number of points of one trace of protocol results.",
     {{"handle", TQ_DOC_HANDLE, "1"}, {"trace", TQ_DOC_TRACE, "0"},
      {"length", "receives the number of points of each of the trace's two arrays"}}},
    {"Protocol_Results_GetTrace",
     "Copies the points of one trace of protocol results into two arrays. Ask Protocol_Results_GetTraceLength "
     "first: neither count is returned.",
     {{"handle", TQ_DOC_HANDLE, "1"}, {"trace", TQ_DOC_TRACE, "0"},
      {"xValues", "receives the x values (the emulator's unit: ms); written before yValues is read"},
      {"yValues", "receives the y values; untouched when the x array or the y array fails"}}},
    {"Protocol_Results_GetResultItem",
     "Reads one result item, a pair of doubles, of the protocol results behind a handle (the emulator: items 0 "
     "to 3).",
     {{"handle", TQ_DOC_HANDLE, "1"}, {"item", "which result item; sent unchanged", "0"},
      {"firstValue", "receives the item's first value"},
      {"secondValue", "receives the item's second value; a reply that lacks it gives -11 with firstValue written"}}},
};

#undef TQ_DOC_HANDLE
#undef TQ_DOC_TRACE

} // namespace tqbse::docs
