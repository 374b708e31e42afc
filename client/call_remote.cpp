#include "client/call_remote.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "client/client_socket.h"
#include "client/trace.h"
#include "protocol/framer.h"
#include "protocol/result_codes.h"
#include "protocol/wire_value.h"

namespace tqbse {
namespace {

// Appends one input's token, unless the input sends nothing.
void appendInput(std::string& request, const WireInput& in, const ArgValue* args)
{
    WireValue value;
    if (inputValue(in, args, &value))
        encodeValue(request, value);
}

// Decodes one reply token into output `out`; `element` counts the tokens an
// output reads (four for the version).
int32_t readOutput(const WireOutput& out, const ArgValue* args, std::string_view token, int element)
{
    WireValue value;
    if (const int32_t rc = decodeValue(traits(out.role).tag, token, &value); rc != kSuccess)
        return rc;
    return storeOutput(out, args, value, element);
}

} // namespace

std::string sendAndReceive(const std::string& request, const ReplyLimits& limits)
{
    // Room set aside up front is address space until bytes arrive; the cap
    // keeps an oversized caller buffer from asking for absurd amounts.
    constexpr std::size_t kMaxReplyReserve = std::size_t(1) << (sizeof(void*) >= 8 ? 30 : 26);
    if (request.empty())
        return {};
    std::string reply;
    // A bulk reply is received into one allocation: no copy as it grows, no
    // second copy resident at the peak.
    if (limits.maxBytes > kMinReplyBound) {
        try {
            reply.reserve(std::min(limits.maxBytes, kMaxReplyReserve));
        } catch (const std::bad_alloc&) {
            // Then the reply grows as it arrives.
        }
    }
    ClientSocket& socket = ClientSocket::instance();
    auto exchange = [&] { return socket.exchange(request, reply, limits); };
    if ((trace::enabled() ? trace::timedExchange(request, reply, exchange) : exchange()) != 0)
        return {};
    return reply;
}

ReplyLimits replyLimits(const CallDesc& call, const ArgValue* args)
{
    constexpr uint64_t kNumberToken = 20; // "(d=" + 16 hex digits + ")", the longest
    // In 64 bits: 17 bytes times a capacity near 2^31 overflows a 32-bit size.
    uint64_t bound = std::strlen(call.name) + 1 + kNumberToken;
    int tokens = 1;
    for (int k = 0; k < call.outputCount; ++k) {
        const WireOutput& out = call.outputs[k];
        const RoleTraits& role = traits(out.role);
        tokens += role.replyTokens;
        if (role.tag == WireTag::String || role.tag == WireTag::DoubleArray) {
            const uint64_t limit = uint64_t(std::max<int32_t>(0, args[out.boundParam].i));
            // (s=text) with at most limit - 1 bytes; (da=count[e,e,...]) with
            // a count of up to 11 characters and at most limit elements of
            // 16 digits and a comma.
            bound += role.tag == WireTag::String ? 4 + limit : 18 + 17 * limit;
        } else {
            bound += kNumberToken * role.replyTokens;
        }
    }
    ReplyLimits limits;
    limits.expectedTokens = tokens;
    limits.maxBytes = std::size_t(std::min<uint64_t>(std::max<uint64_t>(bound, kMinReplyBound), SIZE_MAX));
    return limits;
}

int32_t checkOutputPointers(const CallDesc& call, const ArgValue* args)
{
    for (int k = 0; k < call.outputCount; ++k) {
        const bool missing = outputMissing(call.outputs[k], args);
        if (missing)
            return kUnknownError;
    }
    return kSuccess;
}

std::string buildRequest(const CallDesc& call, const ArgValue* args)
{
    std::string request;
    request.reserve(std::strlen(call.name) + 1 + std::size_t(call.inputCount) * 20);
    request.append(call.name);
    request.push_back('=');
    for (int k = 0; k < call.inputCount; ++k)
        appendInput(request, call.inputs[k], args);
    return request;
}

int32_t checkReply(const CallDesc& call, std::string_view reply, codec::SplitMessage* message, int32_t* result)
{
    if (reply.empty())
        return kNoResponse;
    codec::splitMessage(reply, message);
    if (message->name != std::string_view(call.name))
        return kReplyOutOfOrder;
    if (message->params.empty())
        return kReplyParameterCount;
    if (codec::decodeInt(message->params[0], result) != kSuccess)
        return kNoResultCode;
    return kSuccess;
}

int32_t writeOutputs(const CallDesc& call, const ArgValue* args, const codec::SplitMessage& message)
{
    std::size_t next = 1;
    for (int k = 0; k < call.outputCount; ++k) {
        const WireOutput& out = call.outputs[k];
        const int tokens = traits(out.role).replyTokens;
        for (int j = 0; j < tokens; ++j, ++next) {
            if (message.params.size() <= next)
                return kReplyParameterCount;
            if (const int32_t rc = readOutput(out, args, message.params[next], j); rc != kSuccess)
                return rc;
        }
    }
    return kSuccess;
}

namespace {

// The call procedure's checks and outputs for one reply.
int32_t judgeReply(const CallDesc& call, const ArgValue* args, std::string_view reply, bool* rejected)
{
    codec::SplitMessage message;
    int32_t result = 0;
    int32_t rc = checkReply(call, reply, &message, &result);
    if (rc == kSuccess && result < 0)
        return result; // the server's failure: a whole reply, nothing written
    if (rc == kSuccess)
        rc = writeOutputs(call, args, message);
    // A reply that fails the checks may be a stale one, or the front of one
    // that has not all arrived: the connection has to be brought back in
    // step. A missing reply (-14) and a text or array too big for the
    // caller (-13, a whole reply) leave nothing behind.
    *rejected = rc != kSuccess && rc != kNoResponse && rc != kBufferTooSmall;
    return rc == kSuccess ? result : rc;
}

} // namespace

int32_t callRemote(const CallDesc& call, const ArgValue* args, Exchange exchange)
{
    if (const int32_t rc = checkOutputPointers(call, args); rc != kSuccess)
        return rc;
    const std::string reply = exchange(buildRequest(call, args));
    bool rejected = false;
    return judgeReply(call, args, reply, &rejected);
}

namespace {

int32_t exchangeAndJudge(const CallDesc& call, const ArgValue* args, ReplyJudge judge)
{
    const std::string reply = sendAndReceive(buildRequest(call, args), replyLimits(call, args));
    bool rejected = false;
    const int32_t rc = judge(reply, &rejected);
    if (rejected)
        ClientSocket::instance().resynchronise();
    return rc;
}

} // namespace

int32_t callRemoteLocked(const CallDesc& call, const ArgValue* args)
{
    return exchangeAndJudge(call, args, [&](std::string_view reply, bool* rejected) {
        return judgeReply(call, args, reply, rejected);
    });
}

int32_t callRemoteJudged(const CallDesc& call, const ArgValue* args, ReplyJudge judge)
{
    // Refused before the lock: a NULL output never waits for another call.
    if (const int32_t rc = checkOutputPointers(call, args); rc != kSuccess)
        return rc;
    const std::unique_lock lock = lockConnection();
    return exchangeAndJudge(call, args, judge);
}

int32_t callRemote(const CallDesc& call, const ArgValue* args)
{
    return callRemoteJudged(call, args, [&](std::string_view reply, bool* rejected) {
        return judgeReply(call, args, reply, rejected);
    });
}

int32_t callRemote(const CallDesc& call, std::initializer_list<ArgValue> args)
{
    return callRemote(call, args.begin());
}

} // namespace tqbse
