// The remote call procedure every remote export follows: build the request
// from the call description, exchange it, check the reply, write outputs.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "client/function_ref.h"
#include "protocol/call_description.h"
#include "protocol/codec.h"

namespace tqbse {

// Sends one request and returns the whole reply; the empty text on failure.
using Exchange = FunctionRef<std::string(const std::string& request)>;

// The exchange over the process-wide ClientSocket. An empty request is not sent.
// `replyBytesHint`, when larger than one receive chunk, is room the reply
// gets before the first byte arrives, so that a bulk reply is received into
// one allocation: no copy as it grows, no second copy resident at the peak.
std::string sendAndReceive(const std::string& request, std::size_t replyBytesHint = 0);

// The most bytes a successful reply to `call` can hold, from the caller's
// buffer sizes and capacities (an upper bound; untouched room costs no
// memory).
std::size_t replySizeBound(const CallDesc& call, const ArgValue* args);

// "name=" followed by the input tokens in wire order.
std::string buildRequest(const CallDesc& call, const ArgValue* args);

// Checks a reply's name (-10), first parameter (-11) and result token (-12);
// an empty reply gives -14. On 0, `message` and `result` are filled.
int32_t checkReply(const CallDesc& call, std::string_view reply, codec::SplitMessage* message, int32_t* result);

// Writes the outputs from a checked reply with a non-negative result, in
// reply order, stopping at the first failure. Returns 0 or that failure.
int32_t writeOutputs(const CallDesc& call, const ArgValue* args, const codec::SplitMessage& message);

// The whole procedure. `args` holds the export's arguments in C order.
int32_t callRemote(const CallDesc& call, const ArgValue* args, Exchange exchange);
int32_t callRemote(const CallDesc& call, std::initializer_list<ArgValue> args);

} // namespace tqbse
