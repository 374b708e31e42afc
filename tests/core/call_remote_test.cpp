// The remote call procedure through its seam: the exchange is a lambda that
// records the request and hands back a scripted reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/call_remote.h"
#include "protocol/call_table.h"
#include "core/wire_text.h"

using namespace tqbse;

namespace {

constexpr char kSentinel = '\x5a';
constexpr double kUnset = -12345.0;

// Runs callRemote with a fake exchange; checks it was called exactly once.
int32_t call(const CallDesc& d, std::initializer_list<ArgValue> args, const std::string& reply,
             std::string* request = nullptr)
{
    const std::vector<ArgValue> a(args);
    int exchanges = 0;
    auto exchange = [&](const std::string& r) {
        ++exchanges;
        if (request)
            *request = r;
        return reply;
    };
    const int32_t rc = callRemote(d, a.data(), exchange);
    EXPECT_EQ(exchanges, 1);
    return rc;
}

std::string nameOf(const CallDesc& d) { return std::string(d.name); }

std::string bytes(const char* p, std::size_t n) { return std::string(p, n); }

TEST(CallRemote, ReplyChecksAndTheirPrecedence)
{
    const CallDesc& d = calls::TestCase_Count_Get; // one integer output
    const std::string n = nameOf(d);
    struct Case {
        std::string reply;
        int32_t rc;
        int32_t count; // the output afterwards (sentinel 99 when untouched)
    };
    const std::vector<Case> cases = {
        {"", -14, 99},
        {"tqBsePluginControlDll_Scenario_Count_Get=(n=00000000)(n=05000000)", -10, 99},
        {" " + n + "=(n=00000000)(n=05000000)", -10, 99},
        {n + "=", -11, 99},
        {n, -11, 99},                                    // no "=": the name is the whole text, no token
        {n + "=(n=00000000", -11, 99},                   // unfinished token is dropped
        {n + "=(d=000000000000f03f)(n=05000000)", -12, 99},
        {n + "=(n=0000)(n=05000000)", -12, 99},          // any decoder failure on the result is -12
        {n + "=((n=00000000))(n=05000000)", -12, 99},    // the result token opened twice
        {n + "=)(n=00000000)(n=05000000)", -12, 99},     // a stray ")" before the result
        {n + "= (n=00000000)(n=05000000)", -12, 99},
        {n + "=(n=f8ffffff)", -8, 99},
        {n + "=(n=f9ffffff)(n=05000000)", -7, 99},       // and nothing is written
        {n + "=(n=ffffffff)(n=05000000)", -1, 99},       // -1 too: every negative result is a failure
        {n + "=(n=00000000)", -11, 99},
        {n + "=(n=01000000)", -11, 99},                  // a warning without its value
        {n + "=(n=00000000)(n=0500", -11, 99},
        {n + "=(n=00000000)(n=05000000)", 0, 5},
        {n + "=(n=01000000)(n=05000000)", 1, 5},         // a warning comes back with its output
        {n + "=(n=00000000)(n=05000000)(d=xx)(s=junk", 0, 5}, // extra tokens are ignored
        {n + "=(n=00000000)(s=5)", -5, 99},
        {n + "=(n=00000000) (n=05000000)", -5, 99},
        {n + "=(n=00000000)(n=0500)", -6, 99},
    };
    for (const Case& c : cases) {
        int32_t count = 99;
        std::string request;
        EXPECT_EQ(call(d, {&count}, c.reply, &request), c.rc) << c.reply.c_str();
        EXPECT_EQ(count, c.count) << c.reply.c_str();
        EXPECT_EQ(request, n + "=");
    }
}

// A row with three outputs of different kinds, to follow the outputs one by one.
constexpr CallDesc kMixed = makeCall("tq_Mixed", CallKind::Remote, Family::TestCases,
                                     {{ParamRole::InInt, "index"},
                                      {ParamRole::OutInt, "count"},
                                      {ParamRole::OutText, "buffer", "TestCase_NameLength_Get"},
                                      {ParamRole::BufferSize, "bufferSize"},
                                      {ParamRole::OutFloat, "level"}});

TEST(CallRemote, OutputsAreWrittenInOrderUpToTheFirstFailure)
{
    struct Case {
        std::string tail; // after "tq_Mixed="
        int32_t rc;
        int32_t count;     // 99 when untouched
        const char* text;  // nullptr when the buffer is untouched
        float level;       // -1 when untouched
    };
    const std::vector<Case> cases = {
        {"(n=00000000)", -11, 99, nullptr, -1},
        {"(n=00000000)(n=07000000)", -11, 7, nullptr, -1},
        {"(n=00000000)(n=07000000)(s=hi)", -11, 7, "hi", -1},
        {"(n=00000000)(n=07000000)(s=hi)(d=000000000000f03f)", -5, 7, "hi", -1},
        {"(n=00000000)(n=07000000)(n=01000000)(f=0000c03f)", -5, 7, nullptr, -1},
        {"(n=00000000)(n=07000000)(s=too long)(f=0000c03f)", -13, 7, nullptr, -1},
        {"(n=00000000)(s=x)(s=hi)(f=0000c03f)", -5, 99, nullptr, -1},
        {"(n=00000000)(n=07000000)(s=hi)(f=0000c03f)", 0, 7, "hi", 1.5f},
        {"(n=02000000)(n=07000000)(s=hi)(f=0000c03f)(n=00000000)", 2, 7, "hi", 1.5f},
        {"(n=feffffff)(n=07000000)(s=hi)(f=0000c03f)", -2, 99, nullptr, -1},
    };
    for (const Case& c : cases) {
        int32_t count = 99;
        char buffer[8];
        std::memset(buffer, kSentinel, sizeof buffer);
        float level = -1;
        std::string request;
        const int32_t rc = call(kMixed, {int32_t(1), &count, buffer, int32_t(4), &level},
                                "tq_Mixed=" + c.tail, &request);
        EXPECT_EQ(rc, c.rc) << c.tail.c_str();
        EXPECT_EQ(request, std::string("tq_Mixed=(n=01000000)(n=04000000)"));
        EXPECT_EQ(count, c.count) << c.tail.c_str();
        EXPECT_EQ(level, c.level) << c.tail.c_str();
        if (c.text) {
            const std::size_t n = std::strlen(c.text) + 1;
            EXPECT_EQ(bytes(buffer, n), bytes(c.text, n)) << c.tail.c_str();
            EXPECT_EQ(bytes(buffer + n, sizeof buffer - n), std::string(sizeof buffer - n, kSentinel));
        } else {
            EXPECT_EQ(bytes(buffer, sizeof buffer), std::string(sizeof buffer, kSentinel)) << c.tail.c_str();
        }
    }
}

TEST(CallRemote, TextBufferBoundaries)
{
    const CallDesc& d = calls::TestCase_Name_Get; // index, buffer, bufferSize
    const std::string n = nameOf(d);
    struct Case {
        std::string token;
        int32_t bufferSize;
        int32_t rc;
        std::string written; // bytes expected at the start of the buffer (with the zero)
    };
    const std::string attach("Attach\0", 7);
    const std::vector<Case> cases = {
        {"(s=Attach)", 6, -13, ""},          // L: no room for the zero
        {"(s=Attach)", 7, 0, attach},        // L + 1: exactly L + 1 bytes
        {"(s=Attach)", 0, -13, ""},
        {"(s=)", 1, 0, std::string(1, '\0')},
        {"(s=)", 0, -13, ""},
        {"(s=NULL)", 1, 0, std::string(1, '\0')}, // the null text arrives as the empty text
        {"(s=NULL)", 0, -13, ""},
        {"(s=a(b)c)", 6, 0, std::string("a(b)c\0", 6)},
        {"(s=a(b)c)", 5, -13, ""},
        {"(n=01000000)", 16, -5, ""},
    };
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, kSentinel, sizeof buffer);
        std::string request;
        EXPECT_EQ(call(d, {int32_t(3), buffer, c.bufferSize}, n + "=(n=00000000)" + c.token, &request), c.rc)
            << c.token.c_str() << " size " << c.bufferSize;
        // The size travels even when it is zero or negative; the buffer never.
        EXPECT_EQ(request, n + "=(n=03000000)" + test::intToken(c.bufferSize));
        EXPECT_EQ(bytes(buffer, c.written.size()), c.written) << c.token.c_str();
        EXPECT_EQ(bytes(buffer + c.written.size(), sizeof buffer - c.written.size()),
                  std::string(sizeof buffer - c.written.size(), kSentinel))
            << c.token.c_str() << " size " << c.bufferSize;
    }
}

struct TraceCase {
    const char* what;
    std::string tail;
    int32_t capacity;
    int32_t rc;
    int xWritten; // -1: untouched; otherwise the number of points written
    int yWritten;
};

std::string arrayToken(int count, double first)
{
    std::vector<double> v;
    for (int i = 0; i < count; ++i)
        v.push_back(first + i);
    std::string t;
    codec::appendDoubleArray(t, v.data(), v.size());
    return t;
}

TEST(CallRemote, TraceWritesXBeforeLookingAtY)
{
    const CallDesc& d = calls::Protocol_Results_GetTrace; // handle, trace, x, y, capacity
    const std::string n = nameOf(d);
    const std::string ok = "(n=00000000)";
    const std::vector<TraceCase> cases = {
        {"3 and 5 with capacity 5", ok + arrayToken(3, 10) + arrayToken(5, 20), 5, 0, 3, 5},
        {"warning", "(n=01000000)" + arrayToken(2, 10) + arrayToken(1, 20) + "(n=00000000)", 5, 1, 2, 1},
        {"x over capacity", ok + arrayToken(6, 10) + arrayToken(1, 20), 5, -13, -1, -1},
        {"y over capacity", ok + arrayToken(2, 10) + arrayToken(6, 20), 5, -13, 2, -1},
        {"only x", ok + arrayToken(2, 10), 5, -11, 2, -1},
        {"nothing", ok, 5, -11, -1, -1},
        {"y not an array", ok + arrayToken(2, 10) + "(d=000000000000f03f)", 5, -5, 2, -1},
        {"empty arrays, capacity 0", ok + "(da=0[])(da=0[])", 0, 0, 0, 0},
        {"capacity 0", ok + arrayToken(1, 10) + arrayToken(1, 20), 0, -13, -1, -1},
        {"capacity -1", ok + "(da=0[])(da=0[])", -1, -13, -1, -1},
    };
    for (const TraceCase& c : cases) {
        double x[6], y[6];
        for (int i = 0; i < 6; ++i)
            x[i] = y[i] = kUnset;
        std::string request;
        EXPECT_EQ(call(d, {int32_t(9), int32_t(2), x, y, c.capacity}, n + "=" + c.tail, &request), c.rc) << c.what;
        EXPECT_EQ(request, n + "=(n=09000000)(n=02000000)" + test::intToken(c.capacity)) << c.what;
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(x[i], i < c.xWritten ? 10.0 + i : kUnset) << c.what << " x[" << i << "]";
            EXPECT_EQ(y[i], i < c.yWritten ? 20.0 + i : kUnset) << c.what << " y[" << i << "]";
        }
    }
}

TEST(CallRemote, EightBitBytesPassUnchangedBothWays)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(char(b));

    // Out: a text input goes into the request byte for byte.
    std::string request;
    call(calls::Scenario_Execute, {all.c_str(), int32_t(255)}, "", &request);
    EXPECT_EQ(request, std::string(calls::Scenario_Execute.name) + "=(s=" + std::string(all.data(), 255) + ")");

    // In: a text output arrives in the buffer byte for byte.
    const CallDesc& d = calls::TestCase_Name_Get;
    char buffer[300];
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(call(d, {int32_t(0), buffer, int32_t(256)},
                   nameOf(d) + "=(n=00000000)(s=" + std::string(all.data(), 255) + ")"),
              0);
    EXPECT_EQ(bytes(buffer, 255), all);
    EXPECT_EQ(buffer[255], '\0');
    EXPECT_EQ(buffer[256], kSentinel);
}

} // namespace
