// Fuzzes the reply side of callRemote: a representative set of rows (every
// output kind, texts into small buffers, two arrays into a small capacity)
// gets the fuzz input as its reply through the exchange seam. Every output
// is a sentinel-filled block of exactly the declared size with guard bytes
// after it, and is checked against what a call may write for its result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/guarded_call.h"
#include "protocol/call_table.h"
#include "protocol/codec.h"

namespace {

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

[[noreturn]] void fail(const CallDesc& call, int32_t rc, const char* what)
{
    std::fprintf(stderr, "%s returned %d: %s\n", call.name, rc, what);
    std::abort();
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
    const CallDesc& call = *kCalls[(data[0] & 0x7f) % std::size(kCalls)];
    std::string reply;
    if (!(data[0] & 0x80))
        reply = std::string(call.name) + '=';
    reply.append(reinterpret_cast<const char*>(data + 2), size - 2);

    tqbse::hardening::GuardedCall frame(call, data[1] % 40);
    std::string request;
    const int32_t rc = frame.call([&](const std::string& r) {
        request = r;
        return reply;
    });
    if (!request.starts_with(std::string(call.name) + '='))
        fail(call, rc, "request does not start with the call's name");
    if (!frame.guardsIntact())
        fail(call, rc, "output written past its declared size");

    // What the server said, read independently of the procedure.
    const tqbse::codec::SplitMessage split = tqbse::codec::splitMessage(reply);
    int32_t serverResult = 0;
    const bool replyOk = !reply.empty() && split.name == std::string_view(call.name) && !split.params.empty()
        && tqbse::codec::decodeInt(split.params[0], &serverResult) == 0;

    if (!replyOk || serverResult < 0) {
        if (!frame.allUntouched())
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
        for (int k = 0; k < call.outputCount; ++k)
            if (call.outputs[k].role == ParamRole::OutText && frame.bytes(k).find('\0') == std::string::npos)
                fail(call, rc, "text output without its terminating zero");
        return 0;
    }
    if (!(rc <= -2 && rc >= -6) && rc != -11 && rc != -13)
        fail(call, rc, "output failure gave an unexpected code");
    // The output that failed is the last one written to, so the last output
    // is untouched, unless a number's hex text broke off half-way (-6) or it
    // is the version, whose four numbers fill one block token by token.
    if (call.outputCount > 0) {
        const int last = call.outputCount - 1;
        const ParamRole role = call.outputs[last].role;
        const bool partialAllowed = role == ParamRole::OutVersion || (rc == -6 && isNumber(role));
        if (!partialAllowed && !frame.untouched(last))
            fail(call, rc, "output after the failing one was written");
    }
    return 0;
}
