// The remote call procedure: request from the row, exchange, reply checks, outputs.
#include "client/call_remote.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "client/c_arguments.h"
#include "client/server_connection.h"
#include "client/trace.h"
#include "protocol/reply_reader.h"
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

// A reply's tokens by index (0: the result): as cut into a SplitMessage, or
// as the reader recorded a reply it took whole (ReplyReader::flat), which
// holds exactly the row's tokens. checkedElements(k): how many elements of
// array token k the reader checked as they arrived.
struct SplitTokens {
    const codec::SplitMessage& message;
    const ReplyFramer* framer = nullptr; // the reader's, for a reply read over the connection
    const char* reply = nullptr;         // the reply `message` was cut from, then
    std::size_t count() const { return message.params.size(); }
    std::string_view operator[](std::size_t k) const { return message.params[k]; }
    std::size_t checkedElements(std::size_t k) const
    {
        return framer ? framer->checkedElements(std::size_t(message.params[k].data() - reply)) : 0;
    }
};
struct FlatTokens {
    const ReplyFramer& framer;
    const char* reply;
    std::size_t tokens;
    std::size_t count() const { return tokens; }
    std::string_view operator[](std::size_t k) const { return framer.flatToken(reply, int(k)); }
    static std::size_t checkedElements(std::size_t) { return 0; } // no array token is flat
};

// The result token's checks: -11 without one, -12 when it is no integer.
template <typename Tokens>
[[gnu::always_inline]] inline int32_t checkResult(const Tokens& tokens, int32_t* result)
{
    if (tokens.count() == 0)
        return kReplyParameterCount;
    if (codec::decodeInt(tokens[0], result) != kSuccess)
        return kNoResultCode;
    return kSuccess;
}

// Writes the outputs in reply order, stopping at the first failure.
template <typename Tokens>
[[gnu::always_inline]] inline int32_t writeOutputsFrom(const CallDesc& call, const ArgValue* args,
                                                       const Tokens& tokens)
{
    std::size_t next = 1;
    for (int k = 0; k < call.outputCount; ++k) {
        const WireOutput& out = call.outputs[k];
        const int count = traits(out.role).replyTokens;
        for (int j = 0; j < count; ++j, ++next) {
            if (tokens.count() <= next)
                return kReplyParameterCount;
            const std::size_t checked = traits(out.role).tag == WireTag::DoubleArray ? tokens.checkedElements(next) : 0;
            if (const int32_t rc = readOutput(out, args, tokens[next], j, checked); rc != kSuccess)
                return rc;
        }
    }
    return kSuccess;
}

// The call procedure's checks and outputs for one reply whose name has been
// judged (`rc`: 0, or the name's failure). These helpers are inlined into
// each caller: the connection's call path is the hot one.
template <typename Tokens>
[[gnu::always_inline]] inline int32_t judgeTokens(const CallDesc& call, const ArgValue* args, int32_t rc,
                                                  const Tokens& tokens, bool* rejected)
{
    int32_t result = 0;
    if (rc == kSuccess)
        rc = checkResult(tokens, &result);
    if (rc == kSuccess && result < 0)
        return result; // the server's failure: a whole reply, nothing written
    if (rc == kSuccess)
        rc = writeOutputsFrom(call, args, tokens);
    // A reply that fails the checks may be a stale one, or the front of one
    // that has not all arrived: the connection has to be brought back in
    // step. A missing reply (-14) and a text or array too big for the
    // caller (-13, a whole reply) leave nothing behind.
    *rejected = rc != kSuccess && rc != kNoResponse && rc != kBufferTooSmall;
    return rc == kSuccess ? result : rc;
}

// -10 unless the reply carries the row's name; `nameLength`, the length of
// the row's name, when the caller knows it (SIZE_MAX: measured here).
int32_t checkName(const CallDesc& call, std::string_view name, std::size_t nameLength)
{
    // A reply name may hold zero bytes, so the comparison goes by length,
    // never by terminator.
    const bool sameName = nameLength == SIZE_MAX
        ? name == std::string_view(call.name)
        : name.size() == nameLength && std::memcmp(call.name, name.data(), nameLength) == 0;
    if (!sameName)
        return kReplyOutOfOrder;
    return kSuccess;
}

// replyLimits, inlined into the call path.
[[gnu::always_inline]] inline ReplyLimits limitsOf(const CallDesc& call, const ArgValue* args,
                                                   const RowFacts& facts)
{
    // In 64 bits: 17 bytes times a capacity near 2^31 overflows a 32-bit size.
    uint64_t bound = facts.fixedBound;
    for (int k = 0; facts.sized && k < call.outputCount; ++k) {
        const WireOutput& out = call.outputs[k];
        const WireTag tag = traits(out.role).tag;
        if (tag == WireTag::String || tag == WireTag::DoubleArray) {
            const uint64_t limit = uint64_t(std::max<int32_t>(0, args[out.boundParam].i));
            // (s=text) with at most limit - 1 bytes; (da=count[e,e,...]) with
            // a count of up to 11 characters and at most limit elements of
            // 16 digits and a comma.
            bound += tag == WireTag::String ? 4 + limit : 18 + 17 * limit;
        }
    }
    ReplyLimits limits;
    limits.name = std::string_view(call.name, facts.nameLength);
    limits.expectedTokens = facts.replyTokens;
    limits.maxBytes = std::size_t(std::min<uint64_t>(std::max<uint64_t>(bound, kMinReplyBound), SIZE_MAX));
    return limits;
}

} // namespace

ReplyLimits replyLimits(const CallDesc& call, const ArgValue* args)
{
    return limitsOf(call, args, rowFacts(call));
}

ReplyLimits replyLimits(const CallDesc& call, const ArgValue* args, const RowFacts& facts)
{
    return limitsOf(call, args, facts);
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

namespace {

// "name=" and the inputs, appended to `request`; the row's name is
// `nameLength` bytes long.
void appendRequest(std::string& request, const CallDesc& call, const ArgValue* args, std::size_t nameLength)
{
    request.append(call.name, nameLength).push_back('=');
    for (int k = 0; k < call.inputCount; ++k)
        appendInput(request, call.inputs[k], args);
}

// The request: "name=" and the inputs, written into `small` when every input
// is a number (facts.smallRequest), else appended to `buffer`.
[[gnu::always_inline]] inline std::string_view writeRequest(char (&small)[kSmallRequest], std::string& buffer,
                                                           const CallDesc& call, const ArgValue* args,
                                                           const RowFacts& facts)
{
    if (!facts.smallRequest) {
        buffer.clear();
        appendRequest(buffer, call, args, facts.nameLength);
        return buffer;
    }
    // Room for every token the row's facts bound: no capacity checks.
    std::memcpy(small, call.name, facts.nameLength);
    small[facts.nameLength] = '=';
    char* end = small + facts.nameLength + 1;
    for (int k = 0; k < call.inputCount; ++k)
        end = writeNumberInput(end, call.inputs[k], args);
    return std::string_view(small, std::size_t(end - small));
}

} // namespace

std::string buildRequest(const CallDesc& call, const ArgValue* args)
{
    char small[kSmallRequest];
    std::string request;
    const std::string_view written = writeRequest(small, request, call, args, rowFacts(call));
    if (written.data() == small)
        request.assign(written);
    return request;
}

int32_t checkReply(const CallDesc& call, std::string_view reply, codec::SplitMessage* message, int32_t* result)
{
    if (reply.empty())
        return kNoResponse;
    codec::splitMessage(reply, message);
    return checkSplitReply(call, *message, result);
}

int32_t checkSplitReply(const CallDesc& call, const codec::SplitMessage& message, int32_t* result,
                        std::size_t nameLength)
{
    if (const int32_t rc = checkName(call, message.name, nameLength); rc != kSuccess)
        return rc;
    return checkResult(SplitTokens{message}, result);
}

int32_t writeOutputs(const CallDesc& call, const ArgValue* args, const codec::SplitMessage& message)
{
    return writeOutputsFrom(call, args, SplitTokens{message});
}

namespace {

// The call procedure's checks and outputs for one reply, cut into `message`
// (an empty reply is not looked at).
// `framer`: the reader's, when the reply was read over the connection.
int32_t judgeSplitReply(const CallDesc& call, const ArgValue* args, std::string_view reply,
                        const codec::SplitMessage& message, bool* rejected, std::size_t nameLength = SIZE_MAX,
                        const ReplyFramer* framer = nullptr)
{
    const int32_t rc = reply.empty() ? kNoResponse : checkName(call, message.name, nameLength);
    return judgeTokens(call, args, rc, SplitTokens{message, framer, reply.data()}, rejected);
}

// Room set aside up front is address space until bytes arrive; the cap
// keeps an oversized caller buffer from asking for absurd amounts.
constexpr std::size_t kMaxReplyReserve = std::size_t(1) << (sizeof(void*) >= 8 ? 30 : 26);

// Builds the request in the connection's buffer and exchanges it; the reply
// is then in the connection's reader (empty or partial on failure).
bool exchangeOverConnection(ServerConnection& connection, const CallDesc& call, const ArgValue* args, const RowFacts& facts)
{
    char small[kSmallRequest];
    const std::string_view request = writeRequest(small, connection.requestBuffer(), call, args, facts);
    const ReplyLimits limits = limitsOf(call, args, facts);
    // A bulk reply is received into one allocation: no copy as it grows, no
    // second copy resident at the peak.
    const std::size_t reserve = limits.maxBytes > kMinReplyBound ? std::min(limits.maxBytes, kMaxReplyReserve) : 0;
    auto exchange = [&] { return connection.exchange(request, limits, reserve); };
    if (!trace::enabled())
        return exchange() == 0;
    return trace::timedExchange(request, exchange, [&] { return connection.reader().reply(); }) == 0;
}

// With the lock held: exchanges, judges the reply (by `judge`, or by the
// call procedure's checks when null), and brings the connection back in
// step after a rejected reply. A request buffer a bulk call grew is let go
// after it; the reply buffer is kept (see ReplyReader).
int32_t exchangeAndJudge(ServerConnection& connection, const CallDesc& call, const ArgValue* args,
                         const ReplyJudge* judge, const RowFacts& facts)
{
    ReplyReader& reader = connection.reader();
    const bool received = exchangeOverConnection(connection, call, args, facts);
    const std::string_view reply = received ? reader.reply() : std::string_view();
    bool rejected = false;
    int32_t rc = 0;
    if (judge != nullptr) {
        rc = (*judge)(reply, &rejected);
    } else if (received && reader.flat()) {
        // The reader matched the row's name and found exactly its tokens.
        const FlatTokens tokens{reader.framer(), reader.reply().data(), std::size_t(facts.replyTokens)};
        rc = judgeTokens(call, args, kSuccess, tokens, &rejected);
    } else {
        codec::SplitMessage& message = connection.splitReply();
        if (received)
            reader.split(&message);
        rc = judgeSplitReply(call, args, reply, message, &rejected, facts.nameLength,
                             received ? &reader.framer() : nullptr);
    }
    if (connection.requestBuffer().capacity() > ReplyReader::kKeptBytes)
        std::string().swap(connection.requestBuffer());
    if (rejected)
        connection.resynchronise();
    return rc;
}

// The whole procedure over the connection: NULL outputs are refused before
// the lock, so a NULL output never waits for another call.
int32_t lockedCall(ServerConnection& connection, const CallDesc& call, const ArgValue* args, const ReplyJudge* judge,
                   const RowFacts& facts)
{
    if (const int32_t rc = checkOutputPointers(call, args); rc != kSuccess)
        return rc;
    const std::unique_lock lock = connection.lock();
    return exchangeAndJudge(connection, call, args, judge, facts);
}

} // namespace

int32_t callRemote(const CallDesc& call, const ArgValue* args, Exchange exchange)
{
    if (const int32_t rc = checkOutputPointers(call, args); rc != kSuccess)
        return rc;
    const RowFacts facts = rowFacts(call);
    const std::string reply = exchange(buildRequest(call, args));
    bool rejected = false;
    // Judged as over the connection: a reply the reader would take whole,
    // from the token ends its framer records; any other, cut.
    ReplyFramer framer;
    framer.reset(facts.replyTokens, std::string_view(call.name, facts.nameLength));
    if (framer.takeFlat(reply))
        return judgeTokens(call, args, kSuccess, FlatTokens{framer, reply.data(), std::size_t(facts.replyTokens)},
                           &rejected);
    codec::SplitMessage message;
    if (!reply.empty())
        codec::splitMessage(reply, &message);
    return judgeSplitReply(call, args, reply, message, &rejected);
}

int32_t callRemoteLocked(ServerConnection& connection, const CallDesc& call, const ArgValue* args)
{
    return exchangeAndJudge(connection, call, args, nullptr, rowFacts(call));
}

int32_t callRemoteJudged(ServerConnection& connection, const CallDesc& call, const ArgValue* args, ReplyJudge judge)
{
    return lockedCall(connection, call, args, &judge, rowFacts(call));
}

int32_t callRemote(ServerConnection& connection, const CallDesc& call, const ArgValue* args)
{
    return lockedCall(connection, call, args, nullptr, rowFacts(call));
}

int32_t callRemote(ServerConnection& connection, const CallDesc& call, const ArgValue* args, const RowFacts& facts)
{
    return lockedCall(connection, call, args, nullptr, facts);
}

} // namespace tqbse
