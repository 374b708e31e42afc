// The emulator's handler table: for each call it serves, the function that
// answers it (emulator/handlers.cpp), built per family from the rows.
#pragma once

#include <cstdint>
#include <span>

#include "emulator/request_handler.h"
#include "protocol/call_frame.h"
#include "protocol/call_table.h"

// The rows each family file serves; together, every row of the call table.
#define TQ_EMULATOR_SETTINGS_CALLS(X) TQ_CORE_CALLS(X) TQ_RF_SETTINGS_CALLS(X)
#define TQ_EMULATOR_LIST_CALLS(X)                                                                  \
    TQ_TEST_CASES_CALLS(X) TQ_SCENARIOS_CALLS(X) TQ_DEBUG_FILTERS_CALLS(X) TQ_FILE_LISTS_CALLS(X)
#define TQ_EMULATOR_RESULTS_CALLS(X) TQ_PROTOCOL_RESULTS_CALLS(X) TQ_LTE_RESULTS_CALLS(X)

namespace tqbse::emu {

// A handler reads the request's inputs from the frame and adds its outputs
// in reply order; it returns the result code, and a refusal says why
// through Model::refuse. Each is a row's typed handler behind its adapter
// (emulator/handler_adapter.h).
using Handler = int32_t (*)(Model&, CallFrame&, const CallContext&);

struct HandlerEntry {
    const CallDesc* row;
    Handler run;
};

// Each family file's entries, one for every remote row of its families
// (emulator/handlers_settings.cpp, handlers_lists.cpp, handlers_results.cpp).
std::span<const HandlerEntry> settingsHandlers();
std::span<const HandlerEntry> listHandlers();
std::span<const HandlerEntry> resultsHandlers();

// The handler of `row`, or null when the emulator does not serve it.
Handler findHandler(const CallDesc& row);

} // namespace tqbse::emu
