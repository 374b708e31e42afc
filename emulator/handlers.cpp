// The emulator's handler table: every family's entries gathered and looked
// up by row. Each remote row has exactly one entry, checked at compile time
// by the family files (TQ_HANDLER_ENTRY) and here by count.
#include "emulator/handlers.h"

#include <iterator>
#include <unordered_map>

#include "protocol/call_table.h"

namespace tqbse::emu {
namespace {

// The family files together cover the whole call table.
constexpr const CallDesc* kServedRows[] = {TQ_EMULATOR_SETTINGS_CALLS(TQ_CALL_POINTER) TQ_EMULATOR_LIST_CALLS(
    TQ_CALL_POINTER) TQ_EMULATOR_RESULTS_CALLS(TQ_CALL_POINTER)};
static_assert(std::size(kServedRows) == kCallCount, "a family file for every family of the call table");

using HandlerTable = std::unordered_map<const CallDesc*, Handler>;

HandlerTable buildHandlers()
{
    HandlerTable t;
    for (const auto family : {settingsHandlers(), listHandlers(), resultsHandlers()})
        for (const HandlerEntry& e : family)
            t.emplace(e.row, e.run);
    return t;
}

const HandlerTable& handlers()
{
    static const HandlerTable table = buildHandlers();
    return table;
}

} // namespace

Handler findHandler(const CallDesc& row)
{
    const auto it = handlers().find(&row);
    return it == handlers().end() ? nullptr : it->second;
}

} // namespace tqbse::emu
