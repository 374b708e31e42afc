// The emulator's handler for each call it serves: what the model does with
// a request's inputs and which outputs it gives, keyed by the call's row.
#include "emulator/handlers.h"
#include "emulator/refusals.h"

#include <algorithm>
#include <functional>
#include <span>
#include <unordered_map>
#include <utility>

#include "protocol/call_frame.h"
#include "protocol/call_table.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"

namespace tqbse::emu {
namespace {

// Handlers are keyed by their rows (calls::Name), so a mistyped name does
// not compile.
using HandlerTable = std::unordered_map<const CallDesc*, Handler>;

const std::string kOwnErrorText = "Emulator: no text is known for this result code";
constexpr int32_t kTrue = 1;

// ---- generic helpers for the families -------------------------------------

// A list read by index: its size and the text at an index (null when out of range).
struct ListAccess {
    const char* what; // "test case", for the reasons
    std::function<int32_t(const Model&)> count;
    std::function<const std::string*(const Model&, int32_t)> item;
};

template <typename T, typename Field>
const std::string* itemAt(const std::vector<T>& list, int32_t index, Field field)
{
    if (index < 0 || index >= int32_t(list.size()))
        return nullptr;
    return &(list[std::size_t(index)].*field);
}

void addList(HandlerTable& t, const CallDesc* countName, const CallDesc* lengthName, const CallDesc* nameName,
             const ListAccess& list)
{
    if (countName != nullptr)
        t[countName] = [list](Model& m, const WireValue*, CallFrame& r, const CallContext&) {
            r.addOutput(WireValue::ofInt(list.count(m)));
            return kSuccess;
        };
    t[lengthName] = [list](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        const std::string* item = list.item(m, a[0].asInt());
        if (!item)
            return refuseIndex(m, list.what, a[0].asInt(), list.count(m));
        r.addOutput(WireValue::ofInt(int32_t(item->size())));
        return kSuccess;
    };
    t[nameName] = [list](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        const std::string* item = list.item(m, a[0].asInt());
        if (!item)
            return refuseIndex(m, list.what, a[0].asInt(), list.count(m));
        if (int64_t(a[1].asInt()) < int64_t(item->size()) + 1)
            return refuseBuffer(m, a[1].asInt(), item->size());
        r.addOutput(WireValue::ofText(*item));
        return kSuccess;
    };
}

// Upload (replacing a text of the same name), DownloadSize and Download of
// one family of named texts.
void addFiles(HandlerTable& t, const CallDesc& upload, const CallDesc& size, const CallDesc& download,
              std::vector<NamedText> Config::*list, const char* what)
{
    const auto notUploaded = [what](Model& m, const WireValue& name) {
        return m.refuse(kInternalObjectError, std::string(what) + ' ' + quoted(name) + " not uploaded");
    };
    t[&upload] = [list, what](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        if (a[0].isNull())
            return m.refuse(kInternalObjectError, std::string(what) + " name NULL cannot be stored");
        storeNamedText(m.config.*list, std::string(a[0].text()), std::string(a[1].text()));
        return kSuccess;
    };
    t[&size] = [list, notUploaded](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        const NamedText* f = findNamedText(m.config.*list, a[0].text());
        if (a[0].isNull() || !f)
            return notUploaded(m, a[0]);
        r.addOutput(WireValue::ofInt(int32_t(f->content.size())));
        return kSuccess;
    };
    t[&download] = [list, notUploaded](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        const NamedText* f = findNamedText(m.config.*list, a[0].text());
        if (a[0].isNull() || !f)
            return notUploaded(m, a[0]);
        if (int64_t(a[1].asInt()) < int64_t(f->content.size()) + 1)
            return refuseBuffer(m, a[1].asInt(), f->content.size());
        r.addOutput(WireValue::ofText(f->content));
        return kSuccess;
    };
}

// A value per RF path: setter and getter.
template <typename T>
void addPathValue(HandlerTable& t, const CallDesc* setName, const CallDesc* getName, T Path::*field)
{
    t[setName] = [field](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        if constexpr (std::is_same_v<T, double>)
            m.config.paths[std::size_t(a[0].asInt())].*field = a[1].asDouble();
        else
            m.config.paths[std::size_t(a[0].asInt())].*field = a[1].asFloat();
        return kSuccess;
    };
    t[getName] = [field](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        if constexpr (std::is_same_v<T, double>)
            r.addOutput(WireValue::ofDouble(m.config.paths[std::size_t(a[0].asInt())].*field));
        else
            r.addOutput(WireValue::ofFloat(m.config.paths[std::size_t(a[0].asInt())].*field));
        return kSuccess;
    };
}

// A flag without index: setter and getter.
void addFlag(HandlerTable& t, const CallDesc* setName, const CallDesc* getName, int32_t Model::*field)
{
    t[setName] = [field](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        m.*field = a[0].asInt();
        return kSuccess;
    };
    t[getName] = [field](Model& m, const WireValue*, CallFrame& r, const CallContext&) {
        r.addOutput(WireValue::ofInt(m.*field));
        return kSuccess;
    };
}

const ResultsHandle* findHandle(const Model& m, int32_t id, ResultsHandle::Kind kind)
{
    const auto it = m.handles.find(id);
    return it != m.handles.end() && it->second.kind == kind ? &it->second : nullptr;
}

const char* familyName(ResultsHandle::Kind kind) { return kind == ResultsHandle::Kind::Lte ? "LTE" : "protocol"; }

// Why findHandle found nothing: never issued or deleted, or the other family's.
ResultCode refuseHandle(Model& m, int32_t id, ResultsHandle::Kind kind)
{
    const auto it = m.handles.find(id);
    if (it == m.handles.end())
        return m.refuse(kInternalObjectError, "unknown results handle " + std::to_string(id));
    return m.refuse(kInternalObjectError, "results handle " + std::to_string(id) + " holds "
                                              + familyName(it->second.kind) + " results, not " + familyName(kind));
}

// The handle, then the trace or item number below `count`.
ResultCode checkHandleAndNumber(Model& m, const WireValue* a, ResultsHandle::Kind kind, const char* what, int32_t count)
{
    if (!findHandle(m, a[0].asInt(), kind))
        return refuseHandle(m, a[0].asInt(), kind);
    if (a[1].asInt() < 0 || a[1].asInt() >= count)
        return refuseIndex(m, what, a[1].asInt(), count);
    return kSuccess;
}

// Trace length and trace of one results family.
void addTraces(HandlerTable& t, const CallDesc* lengthName, const CallDesc* traceName,
               ResultsHandle::Kind kind, int32_t traceCount)
{
    t[lengthName] = [kind, traceCount](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (const ResultCode rc = checkHandleAndNumber(m, a, kind, "trace", traceCount); rc != kSuccess)
            return rc;
        r.addOutput(WireValue::ofInt(m.config.traceLength));
        return kSuccess;
    };
    t[traceName] = [kind, traceCount](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (const ResultCode rc = checkHandleAndNumber(m, a, kind, "trace", traceCount); rc != kSuccess)
            return rc;
        if (a[2].asInt() < m.config.traceLength)
            return m.refuse(kBufferTooSmall, "capacity " + std::to_string(a[2].asInt()) + " is below the trace length "
                                                 + std::to_string(m.config.traceLength));
        std::vector<double> x, y;
        makeTrace(kind, a[1].asInt(), m.config.traceLength, &x, &y);
        r.addOutput(std::move(x));
        r.addOutput(std::move(y));
        return kSuccess;
    };
}

ResultCode newHandle(Model& m, ResultsHandle::Kind kind, int32_t index, CallFrame& r)
{
    const int32_t id = m.nextHandle++;
    m.handles.emplace(id, ResultsHandle{kind, index});
    r.addOutput(WireValue::ofInt(id));
    return kSuccess;
}

HandlerTable buildHandlers()
{
    using Kind = ResultsHandle::Kind;
    HandlerTable t;

    // Connection, result-code texts and server queries.
    t[&calls::RemoteConnection_Set] = [](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        m.connectionStatus = a[0].asInt();
        return kSuccess;
    };
    t[&calls::ConnectionStatus_Get] = [](Model& m, const WireValue*, CallFrame& r, const CallContext&) {
        r.addOutput(WireValue::ofInt(m.connectionStatus));
        return kSuccess;
    };
    t[&calls::GetErrorMsgLength] = [](Model&, const WireValue*, CallFrame& r, const CallContext&) {
        r.addOutput(WireValue::ofInt(int32_t(kOwnErrorText.size()) + 1)); // a buffer size: terminator included
        return kSuccess;
    };
    t[&calls::GetErrorMsg] = [](Model&, const WireValue*, CallFrame& r, const CallContext&) {
        r.addOutput(WireValue::ofText(kOwnErrorText));
        return kSuccess;
    };
    t[&calls::GetServerVersion] = [](Model& m, const WireValue*, CallFrame& r, const CallContext&) {
        for (int32_t v : m.config.version)
            r.addOutput(WireValue::ofInt(v));
        return kSuccess;
    };
    t[&calls::FullProtocolReset] = [](Model& m, const WireValue*, CallFrame&, const CallContext&) {
        m.fullProtocolReset();
        return kSuccess;
    };

    // RF settings and measurement state.
    addPathValue(t, &calls::RX_CentreFrequency_Set, &calls::RX_CentreFrequency_Get, &Path::rxFrequency);
    addPathValue(t, &calls::RX_InputLevel_Set, &calls::RX_InputLevel_Get, &Path::rxLevel);
    addPathValue(t, &calls::TX_CentreFrequency_Set, &calls::TX_CentreFrequency_Get, &Path::txFrequency);
    addPathValue(t, &calls::TX_ReferenceLevel_Set, &calls::TX_ReferenceLevel_Get, &Path::txReferenceLevel);
    addFlag(t, &calls::LoggingState_Set, &calls::LoggingState_Get, &Model::loggingState);
    addFlag(t, &calls::RFMeasurement_State_Set, &calls::RFMeasurement_State_Get, &Model::rfMeasurementState);
    t[&calls::ADCOverloaded_Get] = [](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        r.addOutput(WireValue::ofInt(m.adcOverloaded(a[0].asInt()) ? kTrue : 0));
        return kSuccess;
    };

    // Test cases.
    auto testCaseList = [](std::string TestCase::*field) {
        return ListAccess{"test case", [](const Model& m) { return int32_t(m.config.testCases.size()); },
                          [field](const Model& m, int32_t i) { return itemAt(m.config.testCases, i, field); }};
    };
    addList(t, &calls::TestCase_Count_Get, &calls::TestCase_NameLength_Get, &calls::TestCase_Name_Get, testCaseList(&TestCase::name));
    addList(t, nullptr, &calls::TestCase_GroupNameLength_Get, &calls::TestCase_GroupName_Get, testCaseList(&TestCase::group));
    t[&calls::TestCase_Run] = [](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        if (a[0].asInt() < 0 || a[0].asInt() >= int32_t(m.config.testCases.size()))
            return refuseIndex(m, "test case", a[0].asInt(), int32_t(m.config.testCases.size()));
        ++m.testCaseRuns;
        m.lastTestCaseRun = a[0].asInt();
        return kSuccess;
    };

    // Named lists of texts.
    auto namedList = [](std::vector<NamedText> Config::*list, const char* what) {
        return ListAccess{what, [list](const Model& m) { return int32_t((m.config.*list).size()); },
                          [list](const Model& m, int32_t i) { return itemAt(m.config.*list, i, &NamedText::name); }};
    };
    addList(t, &calls::Scenario_Count_Get, &calls::Scenario_NameLength_Get, &calls::Scenario_Name_Get, namedList(&Config::scenarios, "scenario"));
    addFiles(t, calls::Scenario_Upload, calls::Scenario_DownloadSize_Get, calls::Scenario_Download, &Config::scenarios,
             "scenario");
    addList(t, &calls::ProtocolMessageXml_Count_Get, &calls::ProtocolMessageXml_NameLength_Get, &calls::ProtocolMessageXml_Name_Get,
            namedList(&Config::protocolMessageXml, "protocol message XML file"));
    addFiles(t, calls::ProtocolMessageXml_Upload, calls::ProtocolMessageXml_DownloadSize_Get,
             calls::ProtocolMessageXml_Download, &Config::protocolMessageXml, "protocol message XML file");
    addList(t, &calls::SystemParamFile_Count_Get, &calls::SystemParamFile_NameLength_Get, &calls::SystemParamFile_Name_Get,
            ListAccess{"system parameter file", [](const Model& m) { return int32_t(m.config.systemParamFiles.size()); },
                       [](const Model& m, int32_t i) -> const std::string* {
                           const auto& l = m.config.systemParamFiles;
                           return i >= 0 && i < int32_t(l.size()) ? &l[std::size_t(i)] : nullptr;
                       }});

    // Scenario execution.
    t[&calls::Scenario_Execute] = [](Model& m, const WireValue* a, CallFrame&, const CallContext& c) {
        if (a[0].isNull() || !findNamedText(m.config.scenarios, a[0].text()))
            return m.refuse(kInternalObjectError, "scenario " + quoted(a[0]) + " not uploaded");
        m.runningScenario = std::string(a[0].text());
        m.runningUntil = c.now + std::chrono::milliseconds(m.config.scenarioRunMs);
        m.runningPeer = c.peer;
        m.scenarioEndPending = true;
        return kSuccess;
    };
    t[&calls::Scenario_IsRunning_Get] = [](Model& m, const WireValue*, CallFrame& r, const CallContext& c) {
        r.addOutput(WireValue::ofInt(m.scenarioRunning(c.now) ? kTrue : 0));
        return kSuccess;
    };

    // Debug filters: State_Set stages a change; State_Get shows the applied state.
    addList(t, &calls::DebugFilters_GetCount, &calls::DebugFilters_NameLength_Get, &calls::DebugFilters_Name_Get,
            ListAccess{"debug filter", [](const Model& m) { return int32_t(m.config.debugFilters.size()); },
                       [](const Model& m, int32_t i) { return itemAt(m.config.debugFilters, i, &DebugFilter::name); }});
    auto findFilter = [](Model& m, const WireValue& name) -> DebugFilter* {
        if (name.isNull())
            return nullptr;
        for (DebugFilter& f : m.config.debugFilters)
            if (f.name == name.text())
                return &f;
        return nullptr;
    };
    t[&calls::DebugFilters_State_Set] = [findFilter](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        DebugFilter* f = findFilter(m, a[0]);
        if (!f)
            return m.refuse(kInternalObjectError, "unknown debug filter " + quoted(a[0]));
        f->pending = a[1].asInt();
        return kSuccess;
    };
    t[&calls::DebugFilters_State_Get] = [findFilter](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        DebugFilter* f = findFilter(m, a[0]);
        if (!f)
            return m.refuse(kInternalObjectError, "unknown debug filter " + quoted(a[0]));
        r.addOutput(WireValue::ofInt(f->state));
        return kSuccess;
    };
    t[&calls::DebugFilters_AcceptChanges] = [](Model& m, const WireValue*, CallFrame&, const CallContext&) {
        for (DebugFilter& f : m.config.debugFilters)
            if (f.pending)
                f.state = *std::exchange(f.pending, std::nullopt);
        return kSuccess;
    };
    t[&calls::DebugFilters_RejectChanges] = [](Model& m, const WireValue*, CallFrame&, const CallContext&) {
        for (DebugFilter& f : m.config.debugFilters)
            f.pending.reset();
        return kSuccess;
    };

    // Protocol measurement and results.
    t[&calls::Protocol_MeasurementEnabled_Set] = [](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        m.protocolEnabled[std::size_t(a[0].asInt())] = a[1].asInt();
        return kSuccess;
    };
    t[&calls::Protocol_MeasurementEnabled_Get] = [](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        r.addOutput(WireValue::ofInt(m.protocolEnabled[std::size_t(a[0].asInt())]));
        return kSuccess;
    };
    t[&calls::Protocol_Results_Available_Get] = [](Model& m, const WireValue*, CallFrame& r, const CallContext&) {
        r.addOutput(WireValue::ofInt(m.protocolResultsAvailable() ? kTrue : 0));
        return kSuccess;
    };
    t[&calls::Protocol_Results_GetHandle] = [](Model& m, const WireValue*, CallFrame& r, const CallContext&) {
        if (!m.protocolResultsAvailable())
            return m.refuse(kInternalObjectError, "protocol measurement not enabled for any RF path index");
        return newHandle(m, Kind::Protocol, 0, r);
    };
    t[&calls::Results_DeleteHandle] = [](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        if (m.handles.erase(a[0].asInt()) == 0)
            return m.refuse(kInternalObjectError, "unknown results handle " + std::to_string(a[0].asInt()));
        return kSuccess;
    };
    addTraces(t, &calls::Protocol_Results_GetTraceLength, &calls::Protocol_Results_GetTrace, Kind::Protocol, kProtocolTraces);
    t[&calls::Protocol_Results_GetResultItem] = [](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (const ResultCode rc = checkHandleAndNumber(m, a, Kind::Protocol, "result item", kProtocolItems); rc != kSuccess)
            return rc;
        const auto [first, second] = protocolResultItem(a[1].asInt());
        r.addOutput(WireValue::ofDouble(first));
        r.addOutput(WireValue::ofDouble(second));
        return kSuccess;
    };

    // LTE measurement and results.
    // 0 for a known path index and measurement, the refusal otherwise.
    auto checkMeasurement = [](Model& m, const WireValue* a) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        if (a[1].asInt() < 0 || a[1].asInt() >= m.config.lteMeasurements)
            return refuseIndex(m, "LTE measurement", a[1].asInt(), m.config.lteMeasurements);
        return kSuccess;
    };
    t[&calls::LTE_MeasurementEnabled_Set] = [checkMeasurement](Model& m, const WireValue* a, CallFrame&, const CallContext&) {
        if (const ResultCode rc = checkMeasurement(m, a); rc != kSuccess)
            return rc;
        m.lteEnabled[{a[0].asInt(), a[1].asInt()}] = a[2].asInt();
        return kSuccess;
    };
    t[&calls::LTE_MeasurementEnabled_Get] = [checkMeasurement](Model& m, const WireValue* a, CallFrame& r,
                                                         const CallContext&) {
        if (const ResultCode rc = checkMeasurement(m, a); rc != kSuccess)
            return rc;
        const auto it = m.lteEnabled.find({a[0].asInt(), a[1].asInt()});
        r.addOutput(WireValue::ofInt(it == m.lteEnabled.end() ? 0 : it->second));
        return kSuccess;
    };
    t[&calls::LTE_Results_Available_Get] = [](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        r.addOutput(WireValue::ofInt(m.lteResultsAvailable(a[0].asInt()) ? kTrue : 0));
        return kSuccess;
    };
    t[&calls::LTE_Results_GetHandle] = [](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        if (!m.validPath(a[0].asInt()))
            return refusePath(m, a[0].asInt());
        if (!m.lteResultsAvailable(a[0].asInt()))
            return m.refuse(kInternalObjectError, "LTE measurement not enabled for index " + std::to_string(a[0].asInt()));
        return newHandle(m, Kind::Lte, a[0].asInt(), r);
    };
    t[&calls::LTE_Results_Cell_Get] = [](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
        const ResultsHandle* h = findHandle(m, a[0].asInt(), Kind::Lte);
        if (!h)
            return refuseHandle(m, a[0].asInt(), Kind::Lte);
        r.addOutput(WireValue::ofInt(m.config.lteCellId + h->index));
        return kSuccess;
    };
    addTraces(t, &calls::LTE_Results_GetTraceLength, &calls::LTE_Results_GetTrace, Kind::Lte, kLteTraces);
    const std::pair<const CallDesc*, float LteValues::*> singles[] = {
        {&calls::LTE_Results_Evm_Rms_Get, &LteValues::evmRms},
        {&calls::LTE_Results_Evm_Carrier_Get, &LteValues::evmCarrier},
        {&calls::LTE_Results_Evm_NonAllocatedCarriers_Get, &LteValues::evmNonAllocatedCarriers},
        {&calls::LTE_Results_FreqError_Get, &LteValues::freqError},
        {&calls::LTE_Results_CarrierLeak_Get, &LteValues::carrierLeak},
        {&calls::LTE_Results_SymbolClkError_Get, &LteValues::symbolClkError},
        {&calls::LTE_Results_IQGainImbalance_Get, &LteValues::iqGainImbalance},
        {&calls::LTE_Results_IQSkew_Get, &LteValues::iqSkew},
    };
    for (const auto& [name, field] : singles)
        t[name] = [field = field](Model& m, const WireValue* a, CallFrame& r, const CallContext&) {
            if (!findHandle(m, a[0].asInt(), Kind::Lte))
                return refuseHandle(m, a[0].asInt(), Kind::Lte);
            r.addOutput(WireValue::ofFloat(m.config.lte.*field));
            return kSuccess;
        };
    return t;
}

const HandlerTable& handlers()
{
    static const HandlerTable table = buildHandlers();
    return table;
}

} // namespace

const Handler* findHandler(const CallDesc& row)
{
    const auto it = handlers().find(&row);
    return it == handlers().end() ? nullptr : &it->second;
}

} // namespace tqbse::emu
