// The emulator's handlers of what the server lists by index or by name: test
// cases, scenarios, debug filters and file lists; one typed handler per row
// (handle_<Name>).
#include <chrono>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "emulator/handler_adapter.h"
#include "emulator/handlers.h"
#include "emulator/refusals.h"
#include "protocol/call_table.h"
#include "protocol/result_codes.h"

namespace tqbse::emu {
namespace {

constexpr int32_t kTrue = 1;

// ---- Lists read by index ------------------------------------------------------

// A list read by index: its size and the text at an index (null when out of range).
struct ListAccess {
    const char* what; // "test case", for the reasons
    int32_t (*count)(const Model&);
    const std::string* (*item)(const Model&, int32_t);
};

template <typename T, typename Field>
const std::string* itemAt(const std::vector<T>& list, int32_t index, Field field)
{
    if (index < 0 || index >= int32_t(list.size()))
        return nullptr;
    return &(list[std::size_t(index)].*field);
}

// The list of the `Field` of every element of the configuration's `List`.
template <auto List, auto Field>
constexpr ListAccess listOf(const char* what)
{
    return {what, [](const Model& m) { return int32_t((m.config.*List).size()); },
            [](const Model& m, int32_t i) { return itemAt(m.config.*List, i, Field); }};
}

template <const ListAccess& L>
ResultCode listCount(Model& m, const CallContext&, int32_t& count)
{
    count = L.count(m);
    return kSuccess;
}

template <const ListAccess& L>
ResultCode listItemLength(Model& m, const CallContext&, int32_t index, int32_t& length)
{
    const std::string* item = L.item(m, index);
    if (!item)
        return refuseIndex(m, L.what, index, L.count(m));
    length = int32_t(item->size());
    return kSuccess;
}

template <const ListAccess& L>
ResultCode listItemName(Model& m, const CallContext&, int32_t index, std::string& name, int32_t bufferSize)
{
    const std::string* item = L.item(m, index);
    if (!item)
        return refuseIndex(m, L.what, index, L.count(m));
    if (int64_t(bufferSize) < int64_t(item->size()) + 1)
        return refuseBuffer(m, bufferSize, item->size());
    name = *item;
    return kSuccess;
}

// ---- Named texts: upload, size and download --------------------------------

struct NamedTexts {
    std::vector<NamedText> Config::*list;
    const char* what; // "scenario", for the reasons
};

ResultCode refuseNotUploaded(Model& m, const NamedTexts& f, WireText name)
{
    return m.refuse(kInternalObjectError, std::string(f.what) + ' ' + quoted(name) + " not uploaded");
}

// Upload replaces a text of the same name.
template <const NamedTexts& F>
ResultCode uploadText(Model& m, const CallContext&, WireText name, WireText content)
{
    if (name.isNull)
        return m.refuse(kInternalObjectError, std::string(F.what) + " name NULL cannot be stored");
    storeNamedText(m.config.*F.list, std::string(name.text), std::string(content.text));
    return kSuccess;
}

template <const NamedTexts& F>
ResultCode downloadSize(Model& m, const CallContext&, WireText name, int32_t& size)
{
    const NamedText* f = findNamedText(m.config.*F.list, name.text);
    if (name.isNull || !f)
        return refuseNotUploaded(m, F, name);
    size = int32_t(f->content.size());
    return kSuccess;
}

template <const NamedTexts& F>
ResultCode downloadText(Model& m, const CallContext&, WireText name, std::string& content, int32_t bufferSize)
{
    const NamedText* f = findNamedText(m.config.*F.list, name.text);
    if (name.isNull || !f)
        return refuseNotUploaded(m, F, name);
    if (int64_t(bufferSize) < int64_t(f->content.size()) + 1)
        return refuseBuffer(m, bufferSize, f->content.size());
    content = f->content;
    return kSuccess;
}

// The handlers of the rows <Prefix>NameLength_Get and <Prefix>Name_Get of a
// list, and of <Prefix>Upload, <Prefix>DownloadSize_Get and <Prefix>Download
// of named texts: the rows of these families are named alike.
#define TQ_LIST_ITEM_HANDLERS(prefix, list)                                                        \
    constexpr auto handle_##prefix##NameLength_Get = &listItemLength<list>;                        \
    constexpr auto handle_##prefix##Name_Get = &listItemName<list>;
#define TQ_NAMED_TEXT_HANDLERS(prefix, texts)                                                      \
    constexpr auto handle_##prefix##Upload = &uploadText<texts>;                                   \
    constexpr auto handle_##prefix##DownloadSize_Get = &downloadSize<texts>;                       \
    constexpr auto handle_##prefix##Download = &downloadText<texts>;

// ---- Test cases ----------------------------------------------------------------

constexpr ListAccess kTestCaseNames = listOf<&Config::testCases, &TestCase::name>("test case");
constexpr ListAccess kTestCaseGroups = listOf<&Config::testCases, &TestCase::group>("test case");

constexpr auto handle_TestCase_Count_Get = &listCount<kTestCaseNames>;
TQ_LIST_ITEM_HANDLERS(TestCase_, kTestCaseNames)
TQ_LIST_ITEM_HANDLERS(TestCase_Group, kTestCaseGroups)

ResultCode handle_TestCase_Run(Model& m, const CallContext&, int32_t index)
{
    if (!kTestCaseNames.item(m, index))
        return refuseIndex(m, "test case", index, kTestCaseNames.count(m));
    ++m.testCaseRuns;
    m.lastTestCaseRun = index;
    return kSuccess;
}

// ---- Scenarios -------------------------------------------------------------------

constexpr NamedTexts kScenarios{&Config::scenarios, "scenario"};
constexpr ListAccess kScenarioNames = listOf<&Config::scenarios, &NamedText::name>("scenario");

constexpr auto handle_Scenario_Count_Get = &listCount<kScenarioNames>;
TQ_LIST_ITEM_HANDLERS(Scenario_, kScenarioNames)
TQ_NAMED_TEXT_HANDLERS(Scenario_, kScenarios)

ResultCode handle_Scenario_Execute(Model& m, const CallContext& c, WireText name)
{
    if (name.isNull || !findNamedText(m.config.scenarios, name.text))
        return refuseNotUploaded(m, kScenarios, name);
    m.runningScenario = std::string(name.text);
    m.runningUntil = c.now + std::chrono::milliseconds(m.config.scenarioRunMs);
    m.runningPeer = c.peer;
    m.scenarioEndPending = true;
    return kSuccess;
}

ResultCode handle_Scenario_IsRunning_Get(Model& m, const CallContext& c, int32_t& running)
{
    running = m.scenarioRunning(c.now) ? kTrue : 0;
    return kSuccess;
}

// ---- Debug filters: State_Set stages a change; State_Get shows the applied state.

constexpr ListAccess kDebugFilterNames = listOf<&Config::debugFilters, &DebugFilter::name>("debug filter");

constexpr auto handle_DebugFilters_GetCount = &listCount<kDebugFilterNames>;
TQ_LIST_ITEM_HANDLERS(DebugFilters_, kDebugFilterNames)

DebugFilter* findFilter(Model& m, WireText name)
{
    if (name.isNull)
        return nullptr;
    for (DebugFilter& f : m.config.debugFilters)
        if (f.name == name.text)
            return &f;
    return nullptr;
}

ResultCode handle_DebugFilters_State_Set(Model& m, const CallContext&, WireText name, int32_t state)
{
    DebugFilter* f = findFilter(m, name);
    if (!f)
        return m.refuse(kInternalObjectError, "unknown debug filter " + quoted(name));
    f->pending = state;
    return kSuccess;
}

ResultCode handle_DebugFilters_State_Get(Model& m, const CallContext&, WireText name, int32_t& state)
{
    DebugFilter* f = findFilter(m, name);
    if (!f)
        return m.refuse(kInternalObjectError, "unknown debug filter " + quoted(name));
    state = f->state;
    return kSuccess;
}

ResultCode handle_DebugFilters_AcceptChanges(Model& m, const CallContext&)
{
    for (DebugFilter& f : m.config.debugFilters)
        if (f.pending)
            f.state = *std::exchange(f.pending, std::nullopt);
    return kSuccess;
}

ResultCode handle_DebugFilters_RejectChanges(Model& m, const CallContext&)
{
    for (DebugFilter& f : m.config.debugFilters)
        f.pending.reset();
    return kSuccess;
}

// ---- File lists ------------------------------------------------------------------

constexpr NamedTexts kMessageXml{&Config::protocolMessageXml, "protocol message XML file"};
constexpr ListAccess kMessageXmlNames =
    listOf<&Config::protocolMessageXml, &NamedText::name>("protocol message XML file");
constexpr ListAccess kSystemParamFiles{
    "system parameter file", [](const Model& m) { return int32_t(m.config.systemParamFiles.size()); },
    [](const Model& m, int32_t i) -> const std::string* {
        const auto& l = m.config.systemParamFiles;
        return i >= 0 && i < int32_t(l.size()) ? &l[std::size_t(i)] : nullptr;
    }};

constexpr auto handle_ProtocolMessageXml_Count_Get = &listCount<kMessageXmlNames>;
TQ_LIST_ITEM_HANDLERS(ProtocolMessageXml_, kMessageXmlNames)
TQ_NAMED_TEXT_HANDLERS(ProtocolMessageXml_, kMessageXml)
constexpr auto handle_SystemParamFile_Count_Get = &listCount<kSystemParamFiles>;
TQ_LIST_ITEM_HANDLERS(SystemParamFile_, kSystemParamFiles)

constexpr HandlerEntry kEntries[] = {TQ_EMULATOR_LIST_CALLS(TQ_HANDLER_ENTRY)};

} // namespace

std::span<const HandlerEntry> listHandlers() { return kEntries; }

} // namespace tqbse::emu
