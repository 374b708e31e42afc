// Rows of the receiver/transmitter settings and measurement-state exports.
#pragma once
#include "protocol/call_description.h"

#define TQ_RF_SETTINGS_CALLS(X)                                                                    \
    X(Remote, RfSettings, RX_CentreFrequency_Set, (InInt, index), (InDouble, frequency))           \
    X(Remote, RfSettings, RX_CentreFrequency_Get, (InInt, index), (OutDouble, frequency))          \
    X(Remote, RfSettings, RX_InputLevel_Set, (InInt, index), (InFloat, level))                     \
    X(Remote, RfSettings, RX_InputLevel_Get, (InInt, index), (OutFloat, level))                    \
    X(Remote, RfSettings, TX_CentreFrequency_Set, (InInt, index), (InDouble, frequency))           \
    X(Remote, RfSettings, TX_CentreFrequency_Get, (InInt, index), (OutDouble, frequency))          \
    X(Remote, RfSettings, TX_ReferenceLevel_Set, (InInt, index), (InFloat, level))                 \
    X(Remote, RfSettings, TX_ReferenceLevel_Get, (InInt, index), (OutFloat, level))                \
    X(Remote, RfSettings, LoggingState_Set, (InBool, state))                                       \
    X(Remote, RfSettings, LoggingState_Get, (OutBool, state))                                      \
    X(Remote, RfSettings, RFMeasurement_State_Set, (InBool, state))                                \
    X(Remote, RfSettings, RFMeasurement_State_Get, (OutBool, state))                               \
    X(Remote, RfSettings, ADCOverloaded_Get, (InInt, index), (OutBool, overloaded))

namespace tqbse::calls {
TQ_RF_SETTINGS_CALLS(TQ_DESCRIBE_CALL)
}
