// Request handling without sockets: checking a request against its row of
// the call table, running the model's handler and encoding the reply
// generically from the row's outputs. Where a request ends is decided by
// tqbse::RequestFramer (protocol/request_framer.h).
#pragma once

#include <cstddef>
#include <cstdint>
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

// A refusal's reason is at most this long in a reply.
inline constexpr std::size_t kMaxReasonBytes = 200;

// One request's answer: the reply, its result code and, for a negative
// code, why.
struct Answer {
    std::string reply;
    std::string_view name; // the call without its prefix, or the name as sent when unknown
    int32_t result = 0;
    std::string reason; // empty for a result >= 0
};

// One reply for one request: name, "=", the result code, then the outputs of
// the call's row in order. Any bytes get a well-formed reply: -8 unknown
// name, -9 wrong token count, -20 a token of the wrong kind, -2/-6 a token
// that does not decode, or the model's own refusal. A negative result is
// followed by one text token saying why (reasonToken) and nothing else:
// NAME=(n=eeffffff)(s=unknown results handle 7). `name` points into
// `request` or the call table.
Answer answerRequest(Model& model, std::string_view request, const CallContext& context);
std::string handleRequest(Model& model, std::string_view request);
std::string handleRequest(Model& model, std::string_view request, const CallContext& context);

// "(s=REASON)": the first kMaxReasonBytes bytes, parentheses turned into
// brackets and control bytes into '?', so that the token always balances.
std::string reasonToken(std::string_view reason);

// The name part of a message (everything before the first "=").
std::string_view messageName(std::string_view message);

// Names of remote rows that have no handler (empty when all are served).
std::vector<std::string_view> callsWithoutHandler();

} // namespace tqbse::emu
