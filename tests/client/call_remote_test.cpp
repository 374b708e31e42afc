// The remote call procedure through its seam: the exchange is a lambda that
// records the request and hands back a scripted reply. family_calls_test runs
// the common reply cases (success, warning, server failure, result alone,
// another name, a wrong tag, a result that is no integer) through every
// export; this file keeps the precedence and boundary cases.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/call_remote.h"
#include "protocol/call_table.h"
#include "support/wire_text.h"

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

TEST(CallRemote, ReplyChecksAndTheirPrecedence)
{
    const CallDesc& d = calls::TestCase_Count_Get; // one integer output
    const std::string n = d.name;
    struct Case {
        std::string reply;
        int32_t rc;
    };
    const std::vector<Case> cases = {
        {"", -14},
        {" " + n + "=(n=00000000)(n=05000000)", -10},
        {n + std::string(2, '\0') + "=(n=00000000)(n=05000000)", -10}, // compared by length, not terminator
        {n + "=", -11},
        {n, -11},                                    // no "=": the name is the whole text, no token
        {n + "=(n=0000)(n=05000000)", -12},          // any decoder failure on the result is -12
        {n + "= (n=00000000)(n=05000000)", -12},     // a space belongs to the token after it
        {n + "=(n=f9ffffff)(n=05000000)", -7},       // and nothing is written
        {n + "=(n=ffffffff)(n=05000000)", -1},       // -1 too: every negative result is a failure
        {n + "=(n=00000000)(n=0500", -11},           // an unfinished token is dropped
        {n + "=(n=00000000) (n=05000000)", -5},
        {n + "=(n=00000000)(n=0500)", -6},
    };
    for (const Case& c : cases) {
        int32_t count = 99;
        std::string request;
        EXPECT_EQ(call(d, {&count}, c.reply, &request), c.rc) << c.reply.c_str();
        EXPECT_EQ(count, 99) << c.reply.c_str();
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
        {"(n=00000000)(n=07000000)", -11, 7, nullptr, -1},
        {"(n=00000000)(n=07000000)(s=hi)", -11, 7, "hi", -1},
        {"(n=00000000)(n=07000000)(s=hi)(d=000000000000f03f)", -5, 7, "hi", -1},
        {"(n=00000000)(n=07000000)(s=too long)(f=0000c03f)", -13, 7, nullptr, -1},
        {"(n=02000000)(n=07000000)(s=hi)(f=0000c03f)(n=00000000)", 2, 7, "hi", 1.5f},
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
        const std::size_t n = c.text ? std::strlen(c.text) + 1 : 0;
        EXPECT_EQ(std::string(buffer, n), std::string(c.text ? c.text : "", n)) << c.tail.c_str();
        EXPECT_EQ(std::string(buffer + n, sizeof buffer - n), std::string(sizeof buffer - n, kSentinel))
            << c.tail.c_str();
    }
}

TEST(CallRemote, TextBufferBoundaries)
{
    const CallDesc& d = calls::TestCase_Name_Get; // index, buffer, bufferSize
    const std::string n = d.name;
    struct Case {
        std::string token;
        int32_t bufferSize;
        int32_t rc;
        std::string written; // bytes expected at the start of the buffer (with the zero)
    };
    const std::vector<Case> cases = {
        {"(s=Attach)", 6, -13, ""},                         // L: no room for the zero
        {"(s=)", -1, -13, ""},                              // a negative size holds not even the zero
        {"(s=a(b)c)", 6, 0, std::string("a(b)c\0", 6)},
    };
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, kSentinel, sizeof buffer);
        std::string request;
        EXPECT_EQ(call(d, {int32_t(3), buffer, c.bufferSize}, n + "=(n=00000000)" + c.token, &request), c.rc)
            << c.token.c_str() << " size " << c.bufferSize;
        // The size travels even when it is zero or negative; the buffer never.
        EXPECT_EQ(request, n + "=(n=03000000)" + test::intToken(c.bufferSize));
        EXPECT_EQ(std::string(buffer, c.written.size()), c.written) << c.token.c_str();
        EXPECT_EQ(std::string(buffer + c.written.size(), sizeof buffer - c.written.size()),
                  std::string(sizeof buffer - c.written.size(), kSentinel))
            << c.token.c_str() << " size " << c.bufferSize;
    }
}

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
    const std::string n = d.name;
    const std::string ok = "(n=00000000)";
    struct Case {
        const char* what;
        std::string tail;
        int32_t capacity;
        int32_t rc;
        int xWritten; // the number of points written
        int yWritten;
    };
    const std::vector<Case> cases = {
        {"3 and 5 with capacity 5", ok + arrayToken(3, 10) + arrayToken(5, 20), 5, 0, 3, 5},
        {"x over capacity", ok + arrayToken(6, 10) + arrayToken(1, 20), 5, -13, 0, 0},
        {"y over capacity", ok + arrayToken(2, 10) + arrayToken(6, 20), 5, -13, 2, 0},
        {"only x", ok + arrayToken(2, 10), 5, -11, 2, 0},
        {"y not an array", ok + arrayToken(2, 10) + "(d=000000000000f03f)", 5, -5, 2, 0},
        {"empty arrays, capacity 0", ok + "(da=0[])(da=0[])", 0, 0, 0, 0},
        {"capacity -1", ok + "(da=0[])(da=0[])", -1, -13, 0, 0},
    };
    for (const Case& c : cases) {
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

} // namespace
