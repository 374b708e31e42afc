// What the receiver/transmitter settings and measurement-state exports do,
// and what their parameters mean. The server holds every setting; the
// library passes values through unchanged.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

#define TQ_DOC_PATH "the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged"

inline constexpr CallDoc kRfSettings[] = {
    {"RX_CentreFrequency_Set", "Sets the centre frequency of a receiver path.",
     {{"index", TQ_DOC_PATH, "0"},
      {"frequency", "the centre frequency, sent unchanged as a double (the emulator's unit: Hz)", "1.95e9"}}},
    {"RX_CentreFrequency_Get", "Reads the centre frequency of a receiver path.",
     {{"index", TQ_DOC_PATH, "0"}, {"frequency", "receives the centre frequency (the emulator's unit: Hz)"}}},
    {"RX_InputLevel_Set", "Sets the expected input level of a receiver path.",
     {{"index", TQ_DOC_PATH, "0"},
      {"level", "the input level, sent unchanged as a float (the emulator's unit: dBm)", "-10.5"}}},
    {"RX_InputLevel_Get", "Reads the expected input level of a receiver path.",
     {{"index", TQ_DOC_PATH, "0"}, {"level", "receives the input level (the emulator's unit: dBm)"}}},
    {"TX_CentreFrequency_Set", "Sets the centre frequency of a transmitter path.",
     {{"index", TQ_DOC_PATH, "0"},
      {"frequency", "the centre frequency, sent unchanged as a double (the emulator's unit: Hz)", "2.14e9"}}},
    {"TX_CentreFrequency_Get", "Reads the centre frequency of a transmitter path.",
     {{"index", TQ_DOC_PATH, "0"}, {"frequency", "receives the centre frequency (the emulator's unit: Hz)"}}},
    {"TX_ReferenceLevel_Set", "Sets the reference (output) level of a transmitter path.",
     {{"index", TQ_DOC_PATH, "0"},
      {"level", "the reference level, sent unchanged as a float (the emulator's unit: dBm)", "-30"}}},
    {"TX_ReferenceLevel_Get", "Reads the reference (output) level of a transmitter path.",
     {{"index", TQ_DOC_PATH, "0"}, {"level", "receives the reference level (the emulator's unit: dBm)"}}},
    {"LoggingState_Set", "Switches the server's logging on or off.",
     {{"state", "non-zero switches logging on, 0 off; sent unchanged", "1"}}},
    {"LoggingState_Get", "Reads whether the server's logging is on.",
     {{"state", "receives the logging flag, its 32-bit value unchanged; 0 is off"}}},
    {"RFMeasurement_State_Set", "Switches the server's RF measurement on or off.",
     {{"state", "non-zero switches the measurement on, 0 off; sent unchanged", "1"}}},
    {"RFMeasurement_State_Get", "Reads whether the server's RF measurement is on.",
     {{"state", "receives the measurement flag, its 32-bit value unchanged; 0 is off"}}},
    {"ADCOverloaded_Get",
     "Reads whether the analogue-to-digital converter of an RF path is overloaded (the emulator: when the path's "
     "RX input level is above its configured overload level, 0 dBm by default).",
     {{"index", TQ_DOC_PATH, "0"}, {"overloaded", "receives the overload flag, unchanged; 0 is not overloaded"}}},
};

#undef TQ_DOC_PATH

} // namespace tqbse::docs
