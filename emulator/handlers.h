// The emulator's handler for each call it serves (emulator/handlers.cpp).
#pragma once

#include <cstdint>
#include <functional>

#include "emulator/request_handler.h"
#include "protocol/call_frame.h"

namespace tqbse::emu {

// A handler reads the request's inputs in wire order and adds its outputs
// to the frame in reply order; it returns the result code, and a refusal
// says why through Model::refuse.
using Handler = std::function<int32_t(Model&, const WireValue*, CallFrame&, const CallContext&)>;

// The handler of `row`, or null when the emulator does not serve it.
const Handler* findHandler(const CallDesc& row);

} // namespace tqbse::emu
