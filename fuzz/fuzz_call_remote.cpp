// Fuzzes the reply side of callRemote: a representative set of call
// descriptions (every output kind, texts into small buffers, two arrays into
// a small capacity) gets the fuzz input as its reply through the exchange
// seam. Every caller buffer is a heap block of exactly bufferSize bytes or
// capacity elements, so ASan reports a single byte written past it, and the
// outputs are checked against what a call may write for its result.
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "api/call_table.h"
#include "core/call_remote.h"
#include "core/codec.h"

namespace {

using tqbse::ArgValue;
using tqbse::CallDesc;
using tqbse::ParamRole;

const CallDesc* const kCalls[] = {
    &tqbse::calls::TestCase_Count_Get,             // one integer
    &tqbse::calls::LoggingState_Get,               // one flag
    &tqbse::calls::RX_InputLevel_Get,              // integer in, float out
    &tqbse::calls::RX_CentreFrequency_Get,         // integer in, double out
    &tqbse::calls::Protocol_Results_GetResultItem, // two doubles
    &tqbse::calls::Scenario_Name_Get,              // text into bufferSize bytes
    &tqbse::calls::Scenario_Download,              // text in, text out
    &tqbse::calls::DebugFilters_State_Get,         // text in, flag out
    &tqbse::calls::Protocol_Results_GetTrace,      // two arrays, one capacity
    &tqbse::calls::LTE_Results_GetTrace,           // two arrays, one capacity
    &tqbse::calls::GetServerVersion,               // four integers
    &tqbse::calls::FullProtocolReset,              // no outputs
};
constexpr std::size_t kCallCount = std::size(kCalls);
constexpr uint8_t kSentinel = 0xa5;

[[noreturn]] void fail(const CallDesc& call, int32_t rc, const char* what)
{
    std::fprintf(stderr, "%s returned %d: %s\n", call.name, rc, what);
    std::abort();
}

// One output block of exactly the size the caller declared. A block of
// zero bytes points just past a one-byte allocation, because ASan lets a
// write into a zero-byte allocation pass.
struct Block {
    std::unique_ptr<uint8_t[]> storage;
    uint8_t* bytes = nullptr;
    std::size_t size = 0;
    bool untouched() const
    {
        for (std::size_t i = 0; i < size; ++i)
            if (bytes[i] != kSentinel)
                return false;
        return true;
    }
};

Block makeBlock(std::size_t size)
{
    Block b;
    b.storage.reset(new uint8_t[size ? size : 1]);
    b.bytes = size ? b.storage.get() : b.storage.get() + 1;
    b.size = size;
    std::memset(b.storage.get(), kSentinel, size ? size : 1);
    return b;
}

bool isNumber(ParamRole r)
{
    return r == ParamRole::OutInt || r == ParamRole::OutBool || r == ParamRole::OutFloat
        || r == ParamRole::OutDouble || r == ParamRole::OutVersion;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // Byte 0 picks the call and whether the input is the whole reply (so
    // that foreign names are reached too) or follows "name="; byte 1 is the
    // buffer size or array capacity.
    const CallDesc& call = *kCalls[(data[0] & 0x7f) % kCallCount];
    const bool rawReply = data[0] & 0x80;
    const int32_t bound = data[1] % 40;
    const QByteArray body(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    QByteArray reply;
    if (!rawReply) {
        reply.append(call.name);
        reply.append('=');
    }
    reply.append(body);

    std::vector<Block> blocks(call.paramCount);
    std::vector<ArgValue> args;
    for (int i = 0; i < call.paramCount; ++i) {
        switch (call.params[i].role) {
        case ParamRole::InFloat: args.emplace_back(1.0f); break;
        case ParamRole::InDouble: args.emplace_back(1.0); break;
        case ParamRole::InText: args.emplace_back(static_cast<const char*>("name")); break;
        case ParamRole::TextLimit: args.emplace_back(int32_t(16)); break;
        case ParamRole::BufferSize:
        case ParamRole::Capacity:
        case ParamRole::LocalSize: args.emplace_back(bound); break;
        case ParamRole::OutInt:
        case ParamRole::OutBool:
            blocks[i] = makeBlock(sizeof(int32_t));
            args.emplace_back(reinterpret_cast<int32_t*>(blocks[i].bytes));
            break;
        case ParamRole::OutVersion:
            blocks[i] = makeBlock(4 * sizeof(int32_t));
            args.emplace_back(reinterpret_cast<int32_t*>(blocks[i].bytes));
            break;
        case ParamRole::OutFloat:
            blocks[i] = makeBlock(sizeof(float));
            args.emplace_back(reinterpret_cast<float*>(blocks[i].bytes));
            break;
        case ParamRole::OutDouble:
            blocks[i] = makeBlock(sizeof(double));
            args.emplace_back(reinterpret_cast<double*>(blocks[i].bytes));
            break;
        case ParamRole::OutText:
            blocks[i] = makeBlock(std::size_t(bound));
            args.emplace_back(reinterpret_cast<char*>(blocks[i].bytes));
            break;
        case ParamRole::OutArray:
            blocks[i] = makeBlock(std::size_t(bound) * sizeof(double));
            args.emplace_back(reinterpret_cast<double*>(blocks[i].bytes));
            break;
        default: args.emplace_back(int32_t(2)); break;
        }
    }

    QByteArray request;
    auto exchange = [&](const QByteArray& r) {
        request = r;
        return reply;
    };
    const int32_t rc = tqbse::callRemote(call, args.data(), exchange);

    if (!request.startsWith(QByteArray(call.name) + '='))
        fail(call, rc, "request does not start with the call's name");

    // What the server said, read independently of the procedure.
    const tqbse::codec::SplitMessage split = tqbse::codec::splitMessage(reply);
    int32_t serverResult = 0;
    const bool replyOk = !reply.isEmpty() && split.name == QByteArrayView(call.name)
        && !split.params.empty() && tqbse::codec::decodeInt(split.params[0], &serverResult) == 0;
    auto allUntouched = [&] {
        for (const Block& b : blocks)
            if (!b.untouched())
                return false;
        return true;
    };

    if (!replyOk || serverResult < 0) {
        if (!allUntouched())
            fail(call, rc, "output written although the reply carries no usable result");
        if (replyOk && rc != serverResult)
            fail(call, rc, "negative server result not returned unchanged");
        if (!replyOk && rc != -10 && rc != -11 && rc != -12 && rc != -14)
            fail(call, rc, "unusable reply gave an unexpected code");
        return 0;
    }
    if (rc >= 0) {
        if (rc != serverResult)
            fail(call, rc, "success code differs from the server's");
        for (int i = 0; i < call.paramCount; ++i) {
            if (call.params[i].role == ParamRole::OutText
                && std::memchr(blocks[i].bytes, 0, blocks[i].size) == nullptr)
                fail(call, rc, "text output without its terminating zero");
        }
        return 0;
    }
    if (!(rc <= -2 && rc >= -6) && rc != -11 && rc != -13)
        fail(call, rc, "output failure gave an unexpected code");
    // The output that failed is the last one written to, so the last output
    // is untouched, unless a number's hex text broke off half-way (-6).
    if (call.outputCount > 0) {
        const tqbse::WireOutput& last = call.outputs[call.outputCount - 1];
        // Four version numbers fill one block token by token.
        const bool partialAllowed = last.role == ParamRole::OutVersion || (rc == -6 && isNumber(last.role));
        if (!partialAllowed && !blocks[last.param].untouched()) {
            // Output k failed and k < last: the last one must not be reached.
            fail(call, rc, "output after the failing one was written");
        }
    }
    return 0;
}
