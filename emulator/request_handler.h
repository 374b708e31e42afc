// Request handling without sockets: checking a request against its row of
// the call table, running the model's handler and encoding the reply
// generically from the row's outputs. Where a request ends is decided by
// tqbse::RequestFramer (protocol/request_framer.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "emulator/model.h"

namespace tqbse::emu {

// Where a request came from and when it is handled.
struct CallContext {
    std::string peer = "127.0.0.1";
    Clock::time_point now = Clock::now();
};

// One reply for one request: name, "=", the result code, then the outputs of
// the call's row in order (only the result code when it is negative). Any
// bytes get a well-formed reply: -8 unknown name, -9 wrong token count,
// -20 a token of the wrong kind, -2/-6 a token that does not decode.
std::string handleRequest(Model& model, std::string_view request);
std::string handleRequest(Model& model, std::string_view request, const CallContext& context);

// The name part of a message (everything before the first "=").
std::string_view messageName(std::string_view message);

// Names of remote rows that have no handler (empty when all are served).
std::vector<std::string_view> callsWithoutHandler();

} // namespace tqbse::emu
