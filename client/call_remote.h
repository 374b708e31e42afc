// The remote call procedure every remote export follows: build the request
// from the call description, exchange it, check the reply, write outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "client/c_arguments.h"
#include "client/server_connection.h"
#include "client/function_ref.h"
#include "protocol/call_description.h"
#include "protocol/codec.h"

namespace tqbse {

// Sends one request and returns the whole reply; the empty text on failure.
using Exchange = FunctionRef<std::string(const std::string& request)>;
// Judges one reply: the call's result, and whether the reply was rejected
// by the library's own checks (then the connection is brought back in step).
using ReplyJudge = FunctionRef<int32_t(std::string_view reply, bool* rejected)>;

// What a row's reply holds whatever the arguments: its name's length, the
// tokens of a successful reply (result included), the bytes of the reply
// without its texts and arrays, and whether it has any (whose size the
// caller's arguments bound). Constant-folded where the row is known at
// compile time (every generated export), so those calls measure nothing.
struct RowFacts {
    std::size_t nameLength = 0;
    int replyTokens = 1;
    uint64_t fixedBound = 0;
    bool sized = false;
    // Whether every input is a number, so that the request has at most
    // kSmallRequest bytes and is built on the stack.
    bool smallRequest = false;
};
inline constexpr std::size_t kSmallRequest = 256;
constexpr RowFacts rowFacts(const CallDesc& call)
{
    constexpr uint64_t kNumberToken = codec::kMaxNumberToken; // the longest number token
    RowFacts facts;
    facts.nameLength = std::char_traits<char>::length(call.name);
    facts.fixedBound = facts.nameLength + 1 + kNumberToken;
    facts.smallRequest = facts.nameLength + 1 + codec::kMaxNumberToken * std::size_t(call.inputCount) <= kSmallRequest;
    for (int k = 0; k < call.inputCount; ++k) {
        const WireTag tag = traits(call.inputs[k].role).tag;
        facts.smallRequest &= tag == WireTag::Int || tag == WireTag::Float || tag == WireTag::Double;
    }
    for (int k = 0; k < call.outputCount; ++k) {
        const RoleTraits& role = traits(call.outputs[k].role);
        facts.replyTokens += role.replyTokens;
        if (role.tag == WireTag::String || role.tag == WireTag::DoubleArray)
            facts.sized = true;
        else
            facts.fixedBound += kNumberToken * role.replyTokens;
    }
    return facts;
}

// What ends a reply to `call` and the most bytes it can hold: the result
// and output tokens of its row, and its caller's buffer sizes and
// capacities in token form, with a floor of kMinReplyBound.
ReplyLimits replyLimits(const CallDesc& call, const ArgValue* args);
ReplyLimits replyLimits(const CallDesc& call, const ArgValue* args, const RowFacts& facts);
inline constexpr std::size_t kMinReplyBound = 64 * 1024;

// NULL outputs are refused before anything is sent: a NULL output pointer,
// or a NULL buffer or array with a positive size or capacity, gives
// kUnknownError (-1). 0 otherwise.
int32_t checkOutputPointers(const CallDesc& call, const ArgValue* args);

// "name=" followed by the input tokens in wire order.
std::string buildRequest(const CallDesc& call, const ArgValue* args);

// Checks a reply's name (-10), first parameter (-11) and result token (-12);
// an empty reply gives -14. On 0, `message` and `result` are filled.
int32_t checkReply(const CallDesc& call, std::string_view reply, codec::SplitMessage* message, int32_t* result);
// The same checks of a reply already cut into `message`; `nameLength`, the
// length of the row's name, when the caller knows it.
int32_t checkSplitReply(const CallDesc& call, const codec::SplitMessage& message, int32_t* result,
                        std::size_t nameLength = SIZE_MAX);

// Writes the outputs from a checked reply with a non-negative result, in
// reply order, stopping at the first failure. Returns 0 or that failure.
int32_t writeOutputs(const CallDesc& call, const ArgValue* args, const codec::SplitMessage& message);

// The whole procedure: checks the outputs, sends, judges the reply. `args`
// holds the export's arguments in C order.
// Over `exchange` (tests, no connection involved):
int32_t callRemote(const CallDesc& call, const ArgValue* args, Exchange exchange);
// Over a session's connection, taking its call lock for the call:
int32_t callRemote(ServerConnection& connection, const CallDesc& call, const ArgValue* args);
int32_t callRemote(ServerConnection& connection, const CallDesc& call, const ArgValue* args, const RowFacts& facts);
inline int32_t callRemote(ServerConnection& connection, const CallDesc& call, std::initializer_list<ArgValue> args)
{
    return callRemote(connection, call, args.begin(), rowFacts(call));
}
// Over the connection, for a caller that already holds its lock and has
// checked the outputs (checkOutputPointers):
int32_t callRemoteLocked(ServerConnection& connection, const CallDesc& call, const ArgValue* args);
// Over the connection, with its lock, for an export whose reply has checks
// of its own: `judge` turns the reply into the result.
int32_t callRemoteJudged(ServerConnection& connection, const CallDesc& call, const ArgValue* args, ReplyJudge judge);

} // namespace tqbse
