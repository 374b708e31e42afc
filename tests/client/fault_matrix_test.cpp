// Replies as faulty servers and networks deliver them, against a fake server
// on 127.0.0.31: split after the result, at every token, at random bytes
// (after a ")" too) or dripped a byte at a time, sent twice, followed by a
// stray reply, or with the outputs later than the quiet wait, for exports
// with no output, one, several, the version's four, a text and two arrays,
// with and without the reply deadline. Every reply carries values of its
// own, so the property holds or fails visibly: a call returns its own
// outputs with a result >= 0, or a negative result, never another call's
// outputs; and the connection is in step again for the next call.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/guarded_call.h"
#include "support/replies.h"
#include "platform/host.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::hardening {
namespace {

using test::ScriptedReply;

const CallDesc* const kExports[] = {
    &calls::RX_CentreFrequency_Set,          // no output
    &calls::TestCase_Count_Get,              // one int
    &calls::RX_CentreFrequency_Get,          // one double
    &calls::Protocol_Results_GetResultItem,  // two doubles
    &calls::GetServerVersion,                // four ints, its own export
    &calls::Scenario_Name_Get,               // a text
    &calls::Protocol_Results_GetTrace,       // two arrays
};

// Where the tokens of a reply end (after each ")" that closes one).
std::vector<std::size_t> tokenEnds(const std::string& reply)
{
    std::vector<std::size_t> ends;
    int depth = 0;
    for (std::size_t i = reply.find('=') + 1; i < reply.size(); ++i) {
        depth += (reply[i] == '(') - (reply[i] == ')');
        if (reply[i] == ')' && depth == 0 && i + 1 < reply.size())
            ends.push_back(i + 1);
    }
    return ends;
}

ScriptedReply splitAfterResult(const std::string& r, int pauseMs)
{
    const auto ends = tokenEnds(r);
    return ScriptedReply(r, {ends.empty() ? r.size() : ends[0]}, pauseMs);
}

ScriptedReply cutAnywhere(const std::string& r, int maxPiece, int pauseMs)
{
    std::mt19937 rng(unsigned(r.size()));
    return ScriptedReply(r, test::randomCuts(r, rng, maxPiece), pauseMs);
}

const std::string kStray = wellFormedReply(calls::TestCase_Run, {}, 0, 99).text;

struct Pattern {
    const char* what;
    ScriptedReply (*plan)(const std::string& reply);
    // The outputs come later than the quiet wait: the call may fail, and
    // what arrives after it is a fragment the next call may meet.
    bool late = false;
    // More bytes follow the reply at once and may be read with it: extra
    // tokens, which fail the version's exact count (-11).
    bool trailing = false;
};

const Pattern kPatterns[] = {
    {"whole", [](const std::string& r) { return ScriptedReply(r); }},
    // Gaps well inside the 100 ms quiet wait, so that a loaded machine (the
    // sanitizer stages) cannot stretch them past it.
    {"split after the result, 20 ms", [](const std::string& r) { return splitAfterResult(r, 20); }},
    {"split at every token, 10 ms", [](const std::string& r) { return ScriptedReply(r, tokenEnds(r), 10); }},
    {"dripped a byte at a time", [](const std::string& r) { return cutAnywhere(r, 1, 1); }},
    {"random pieces", [](const std::string& r) { return cutAnywhere(r, 7, 3); }},
    {"sent twice", [](const std::string& r) { return ScriptedReply(r + r, {r.size()}, 0); }, false, true},
    {"twice in one write", [](const std::string& r) { return ScriptedReply(r + r); }, false, true},
    {"then a stray reply", [](const std::string& r) { return ScriptedReply(r + kStray, {r.size()}, 0); }, false, true},
    {"outputs after 250 ms", [](const std::string& r) { return splitAfterResult(r, 250); }, true},
};

class FaultMatrix : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.31";
        platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", GetParam());
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 31), 0);
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", "");
    }

    // One call of `call` whose reply (values salted with `salt`) goes out
    // as `plan` says. True when the call kept the property; `strict` also
    // requires success.
    ::testing::AssertionResult call(const CallDesc& call, int salt, ScriptedReply (*plan)(const std::string&),
                                    bool strict)
    {
        const ExpectedReply reply = wellFormedReply(call, {7, 3}, 0, salt);
        server_.push(plan(reply.text));
        GuardedCall frame(call, 16);
        const int32_t rc = &call == &calls::GetServerVersion
                               ? tqBsePluginControlDll_GetServerVersion(frame.args()[0].intOut)
                               : frame.callOverSocket();
        if (!frame.guardsIntact())
            return ::testing::AssertionFailure() << "wrote past an output";
        if (rc < 0)
            return strict ? ::testing::AssertionFailure() << "result " << rc : ::testing::AssertionSuccess();
        for (int k = 0; k < call.outputCount; ++k)
            if (frame.bytes(k).substr(0, reply.outputs[k].size()) != reply.outputs[k])
                return ::testing::AssertionFailure() << "result " << rc << " with output " << k << " not its own";
        return ::testing::AssertionSuccess();
    }

    test::FakeServer server_{"127.0.0.31"};
};

TEST_P(FaultMatrix, EveryCallGetsItsOwnOutputsOrFails)
{
    int salt = 0;
    const auto whole = kPatterns[0].plan;
    for (const Pattern& p : kPatterns) {
        for (const CallDesc* e : kExports) {
            SCOPED_TRACE(std::string(p.what) + ", " + e->name);
            const bool strict = !p.late && !(p.trailing && e == &calls::GetServerVersion);
            EXPECT_TRUE(call(*e, ++salt, p.plan, strict)) << "the faulty reply";
            // The late outputs reach the next call while it waits: it may
            // fail, but it must not take them as its own.
            if (p.late) {
                EXPECT_TRUE(call(*e, ++salt, whole, false)) << "the call that meets the rest";
            }
            ASSERT_TRUE(server_.waitUntilSent());
            EXPECT_TRUE(call(*e, ++salt, whole, true)) << "the call after";
        }
    }
    EXPECT_EQ(server_.connections(), 1); // never reconnected behind the caller's back
}

INSTANTIATE_TEST_SUITE_P(Deadline, FaultMatrix, ::testing::Values("", "3000"),
                         [](const auto& info) { return std::string(info.param[0] ? "On" : "Off"); });

} // namespace
} // namespace tqbse::hardening
