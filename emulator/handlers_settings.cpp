// The emulator's handlers of the connection, result-code texts, server
// queries and RF settings: one typed handler per row (handle_<Name>).
#include <array>
#include <span>
#include <string>

#include "emulator/handler_adapter.h"
#include "emulator/handlers.h"
#include "emulator/refusals.h"
#include "protocol/call_table.h"
#include "protocol/result_codes.h"

namespace tqbse::emu {
namespace {

const std::string kOwnErrorText = "Emulator: no text is known for this result code";
constexpr int32_t kTrue = 1;

// ---- Connection, result-code texts and server queries ----------------------

ResultCode handle_RemoteConnection_Set(Model& m, const CallContext&, int32_t state)
{
    m.connectionStatus = state;
    return kSuccess;
}

ResultCode handle_ConnectionStatus_Get(Model& m, const CallContext&, int32_t& connected)
{
    connected = m.connectionStatus;
    return kSuccess;
}

ResultCode handle_GetErrorMsgLength(Model&, const CallContext&, int32_t& length)
{
    length = int32_t(kOwnErrorText.size()) + 1; // a buffer size: terminator included
    return kSuccess;
}

ResultCode handle_GetErrorMsg(Model&, const CallContext&, std::string& text)
{
    text = kOwnErrorText;
    return kSuccess;
}

ResultCode handle_GetServerVersion(Model& m, const CallContext&, std::array<int32_t, 4>& version)
{
    version = m.config.version;
    return kSuccess;
}

ResultCode handle_FullProtocolReset(Model& m, const CallContext&)
{
    m.fullProtocolReset();
    return kSuccess;
}

// ---- RF settings and measurement state ---------------------------------------

// A value per RF path: setter and getter of one field.
template <auto Field, typename T>
ResultCode setPathValue(Model& m, const CallContext&, int32_t index, T value)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    m.config.paths[std::size_t(index)].*Field = value;
    return kSuccess;
}

template <auto Field, typename T>
ResultCode getPathValue(Model& m, const CallContext&, int32_t index, T& value)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    value = m.config.paths[std::size_t(index)].*Field;
    return kSuccess;
}

constexpr auto handle_RX_CentreFrequency_Set = &setPathValue<&Path::rxFrequency, double>;
constexpr auto handle_RX_CentreFrequency_Get = &getPathValue<&Path::rxFrequency, double>;
constexpr auto handle_RX_InputLevel_Set = &setPathValue<&Path::rxLevel, float>;
constexpr auto handle_RX_InputLevel_Get = &getPathValue<&Path::rxLevel, float>;
constexpr auto handle_TX_CentreFrequency_Set = &setPathValue<&Path::txFrequency, double>;
constexpr auto handle_TX_CentreFrequency_Get = &getPathValue<&Path::txFrequency, double>;
constexpr auto handle_TX_ReferenceLevel_Set = &setPathValue<&Path::txReferenceLevel, float>;
constexpr auto handle_TX_ReferenceLevel_Get = &getPathValue<&Path::txReferenceLevel, float>;

// A flag of the model without index: setter and getter.
template <int32_t Model::*Field>
ResultCode setFlag(Model& m, const CallContext&, int32_t state)
{
    m.*Field = state;
    return kSuccess;
}

template <int32_t Model::*Field>
ResultCode getFlag(Model& m, const CallContext&, int32_t& state)
{
    state = m.*Field;
    return kSuccess;
}

constexpr auto handle_LoggingState_Set = &setFlag<&Model::loggingState>;
constexpr auto handle_LoggingState_Get = &getFlag<&Model::loggingState>;
constexpr auto handle_RFMeasurement_State_Set = &setFlag<&Model::rfMeasurementState>;
constexpr auto handle_RFMeasurement_State_Get = &getFlag<&Model::rfMeasurementState>;

ResultCode handle_ADCOverloaded_Get(Model& m, const CallContext&, int32_t index, int32_t& overloaded)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    overloaded = m.adcOverloaded(index) ? kTrue : 0;
    return kSuccess;
}

constexpr HandlerEntry kEntries[] = {TQ_EMULATOR_SETTINGS_CALLS(TQ_HANDLER_ENTRY)};

} // namespace

std::span<const HandlerEntry> settingsHandlers() { return kEntries; }

} // namespace tqbse::emu
