// The emulator's handlers of the protocol and LTE measurements and their
// results handles: one typed handler per row (handle_<Name>).
#include <span>
#include <string>
#include <vector>

#include "emulator/handler_adapter.h"
#include "emulator/handlers.h"
#include "emulator/refusals.h"
#include "protocol/call_table.h"
#include "protocol/result_codes.h"

namespace tqbse::emu {
namespace {

using Kind = ResultsHandle::Kind;
constexpr int32_t kTrue = 1;

// ---- Results handles -----------------------------------------------------------

const ResultsHandle* findHandle(const Model& m, int32_t id, Kind kind)
{
    const auto it = m.handles.find(id);
    return it != m.handles.end() && it->second.kind == kind ? &it->second : nullptr;
}

const char* familyName(Kind kind) { return kind == Kind::Lte ? "LTE" : "protocol"; }

// Why findHandle found nothing: never issued or deleted, or the other family's.
ResultCode refuseHandle(Model& m, int32_t id, Kind kind)
{
    const auto it = m.handles.find(id);
    if (it == m.handles.end())
        return m.refuse(kInternalObjectError, "unknown results handle " + std::to_string(id));
    return m.refuse(kInternalObjectError, "results handle " + std::to_string(id) + " holds "
                                              + familyName(it->second.kind) + " results, not " + familyName(kind));
}

// The handle, then the trace or item number below `count`.
ResultCode checkHandleAndNumber(Model& m, int32_t handle, int32_t number, Kind kind, const char* what, int32_t count)
{
    if (!findHandle(m, handle, kind))
        return refuseHandle(m, handle, kind);
    if (number < 0 || number >= count)
        return refuseIndex(m, what, number, count);
    return kSuccess;
}

ResultCode newHandle(Model& m, Kind kind, int32_t index, int32_t& handle)
{
    handle = m.nextHandle++;
    m.handles.emplace(handle, ResultsHandle{kind, index});
    return kSuccess;
}

ResultCode handle_Results_DeleteHandle(Model& m, const CallContext&, int32_t handle)
{
    if (m.handles.erase(handle) == 0)
        return m.refuse(kInternalObjectError, "unknown results handle " + std::to_string(handle));
    return kSuccess;
}

// Trace length and trace of one results family.
template <Kind K, int32_t TraceCount>
ResultCode traceLength(Model& m, const CallContext&, int32_t handle, int32_t trace, int32_t& length)
{
    if (const ResultCode rc = checkHandleAndNumber(m, handle, trace, K, "trace", TraceCount); rc != kSuccess)
        return rc;
    length = m.config.traceLength;
    return kSuccess;
}

template <Kind K, int32_t TraceCount>
ResultCode traceValues(Model& m, const CallContext&, int32_t handle, int32_t trace, std::vector<double>& x,
                       std::vector<double>& y, int32_t capacity)
{
    if (const ResultCode rc = checkHandleAndNumber(m, handle, trace, K, "trace", TraceCount); rc != kSuccess)
        return rc;
    if (capacity < m.config.traceLength)
        return m.refuse(kBufferTooSmall, "capacity " + std::to_string(capacity) + " is below the trace length "
                                             + std::to_string(m.config.traceLength));
    makeTrace(K, trace, m.config.traceLength, &x, &y);
    return kSuccess;
}

// ---- Protocol measurement and results -----------------------------------------

ResultCode handle_Protocol_MeasurementEnabled_Set(Model& m, const CallContext&, int32_t index, int32_t enabled)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    m.protocolEnabled[std::size_t(index)] = enabled;
    return kSuccess;
}

ResultCode handle_Protocol_MeasurementEnabled_Get(Model& m, const CallContext&, int32_t index, int32_t& enabled)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    enabled = m.protocolEnabled[std::size_t(index)];
    return kSuccess;
}

ResultCode handle_Protocol_Results_Available_Get(Model& m, const CallContext&, int32_t& available)
{
    available = m.protocolResultsAvailable() ? kTrue : 0;
    return kSuccess;
}

ResultCode handle_Protocol_Results_GetHandle(Model& m, const CallContext&, int32_t& handle)
{
    if (!m.protocolResultsAvailable())
        return m.refuse(kInternalObjectError, "protocol measurement not enabled for any RF path index");
    return newHandle(m, Kind::Protocol, 0, handle);
}

constexpr auto handle_Protocol_Results_GetTraceLength = &traceLength<Kind::Protocol, kProtocolTraces>;
constexpr auto handle_Protocol_Results_GetTrace = &traceValues<Kind::Protocol, kProtocolTraces>;

ResultCode handle_Protocol_Results_GetResultItem(Model& m, const CallContext&, int32_t handle, int32_t item,
                                                 double& first, double& second)
{
    if (const ResultCode rc = checkHandleAndNumber(m, handle, item, Kind::Protocol, "result item", kProtocolItems);
        rc != kSuccess)
        return rc;
    std::tie(first, second) = protocolResultItem(item);
    return kSuccess;
}

// ---- LTE measurement and results -----------------------------------------------

// 0 for a known path index and measurement, the refusal otherwise.
ResultCode checkMeasurement(Model& m, int32_t index, int32_t measurement)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    if (measurement < 0 || measurement >= m.config.lteMeasurements)
        return refuseIndex(m, "LTE measurement", measurement, m.config.lteMeasurements);
    return kSuccess;
}

ResultCode handle_LTE_MeasurementEnabled_Set(Model& m, const CallContext&, int32_t index, int32_t measurement,
                                             int32_t enabled)
{
    if (const ResultCode rc = checkMeasurement(m, index, measurement); rc != kSuccess)
        return rc;
    m.lteEnabled[{index, measurement}] = enabled;
    return kSuccess;
}

ResultCode handle_LTE_MeasurementEnabled_Get(Model& m, const CallContext&, int32_t index, int32_t measurement,
                                             int32_t& enabled)
{
    if (const ResultCode rc = checkMeasurement(m, index, measurement); rc != kSuccess)
        return rc;
    const auto it = m.lteEnabled.find({index, measurement});
    enabled = it == m.lteEnabled.end() ? 0 : it->second;
    return kSuccess;
}

ResultCode handle_LTE_Results_Available_Get(Model& m, const CallContext&, int32_t index, int32_t& available)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    available = m.lteResultsAvailable(index) ? kTrue : 0;
    return kSuccess;
}

ResultCode handle_LTE_Results_GetHandle(Model& m, const CallContext&, int32_t index, int32_t& handle)
{
    if (!m.validPath(index))
        return refusePath(m, index);
    if (!m.lteResultsAvailable(index))
        return m.refuse(kInternalObjectError, "LTE measurement not enabled for index " + std::to_string(index));
    return newHandle(m, Kind::Lte, index, handle);
}

ResultCode handle_LTE_Results_Cell_Get(Model& m, const CallContext&, int32_t handle, int32_t& cell)
{
    const ResultsHandle* h = findHandle(m, handle, Kind::Lte);
    if (!h)
        return refuseHandle(m, handle, Kind::Lte);
    cell = m.config.lteCellId + h->index;
    return kSuccess;
}

constexpr auto handle_LTE_Results_GetTraceLength = &traceLength<Kind::Lte, kLteTraces>;
constexpr auto handle_LTE_Results_GetTrace = &traceValues<Kind::Lte, kLteTraces>;

// One value of an LTE results handle.
template <float LteValues::*Field>
ResultCode lteValue(Model& m, const CallContext&, int32_t handle, float& value)
{
    if (!findHandle(m, handle, Kind::Lte))
        return refuseHandle(m, handle, Kind::Lte);
    value = m.config.lte.*Field;
    return kSuccess;
}

constexpr auto handle_LTE_Results_Evm_Rms_Get = &lteValue<&LteValues::evmRms>;
constexpr auto handle_LTE_Results_Evm_Carrier_Get = &lteValue<&LteValues::evmCarrier>;
constexpr auto handle_LTE_Results_Evm_NonAllocatedCarriers_Get = &lteValue<&LteValues::evmNonAllocatedCarriers>;
constexpr auto handle_LTE_Results_FreqError_Get = &lteValue<&LteValues::freqError>;
constexpr auto handle_LTE_Results_CarrierLeak_Get = &lteValue<&LteValues::carrierLeak>;
constexpr auto handle_LTE_Results_SymbolClkError_Get = &lteValue<&LteValues::symbolClkError>;
constexpr auto handle_LTE_Results_IQGainImbalance_Get = &lteValue<&LteValues::iqGainImbalance>;
constexpr auto handle_LTE_Results_IQSkew_Get = &lteValue<&LteValues::iqSkew>;

constexpr HandlerEntry kEntries[] = {TQ_EMULATOR_RESULTS_CALLS(TQ_HANDLER_ENTRY)};

} // namespace

std::span<const HandlerEntry> resultsHandlers() { return kEntries; }

} // namespace tqbse::emu
