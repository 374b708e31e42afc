// Fault injection against the client connection: a fake server on
// 127.0.0.30 ends connections mid-reply, drips replies, cuts them into
// random pieces and sends a 64 MiB text. Each call must return the code the
// library gives for that reply, write only what it may (sentinel-filled
// outputs with guard bytes behind them), and a later Initialise must bring
// everything back. Odd bytes in a reply are the call procedure's and the
// framer's to judge: call_remote_test, framer_test.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hardening/call_frame.h"
#include "hardening/replies.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::hardening {
namespace {

using test::FakeServer;
using test::ScriptedReply;
using test::dripCuts;
using test::randomCuts;

const CallDesc& kTextCall = calls::Scenario_Name_Get;
const CallDesc& kDownload = calls::Scenario_Download;
const CallDesc& kTrace = calls::Protocol_Results_GetTrace;
const CallDesc& kTwoDoubles = calls::Protocol_Results_GetResultItem;
const CallDesc& kFloatCall = calls::RX_InputLevel_Get;

// Rows whose replies cover every output kind.
const CallDesc* const kEveryKind[] = {
    &calls::TestCase_Count_Get, &kFloatCall, &calls::RX_CentreFrequency_Get, &kTwoDoubles, &kTextCall, &kTrace,
    &calls::FullProtocolReset,
};

class Faults : public ::testing::Test {
protected:
    static constexpr int kOctets[4] = {127, 0, 0, 30};

    void SetUp() override
    {
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.30";
        ASSERT_EQ(initialise(), 0);
    }
    void TearDown() override { tqBsePluginControlDll_Shutdown(); }

    int32_t initialise()
    {
        server_.setResponder(nullptr);
        return tqBsePluginControlDll_Initialise(kOctets[0], kOctets[1], kOctets[2], kOctets[3]);
    }

    void answerAll(const ScriptedReply& plan) { server_.answerAll(plan); }

    // A normal call after a fault: the whole reply arrives and is written.
    void expectHealthy()
    {
        server_.setResponder(nullptr);
        const ExpectedReply good = wellFormedReply(kTwoDoubles);
        answerAll(ScriptedReply{good.text});
        CallFrame frame(kTwoDoubles, 8);
        EXPECT_EQ(frame.callOverSocket(), 0);
        EXPECT_EQ(frame.bytes(0), good.outputs[0]);
        EXPECT_EQ(frame.bytes(1), good.outputs[1]);
    }

    // Runs one call whose reply is `plan` and checks the written outputs
    // against `expected` (all outputs written when `written` is true).
    void expectDelivered(const CallDesc& call, int32_t bound, const ExpectedReply& expected, ScriptedReply plan)
    {
        plan.text = expected.text;
        answerAll(plan);
        CallFrame frame(call, bound);
        ASSERT_EQ(frame.callOverSocket(), 0) << call.name;
        for (int k = 0; k < call.outputCount; ++k) {
            EXPECT_EQ(frame.bytes(k).substr(0, expected.outputs[k].size()), expected.outputs[k])
                << call.name << " output " << k;
        }
        EXPECT_TRUE(frame.guardsIntact()) << call.name;
    }

    FakeServer server_{"127.0.0.30"};
};

// ---- killed mid-reply ----------------------------------------------------

TEST_F(Faults, ConnectionKilledMidReplyGivesNoResponseUntilInitialise)
{
    for (const CallDesc* call : kEveryKind) {
        const ExpectedReply reply = wellFormedReply(*call, {40, 20});
        // Nothing at all, up to the first ")", everything but the last ")".
        const int64_t size = int64_t(reply.text.size());
        for (int64_t cut : {int64_t(0), int64_t(reply.text.find(')')), size - 1}) {
            SCOPED_TRACE(std::string(call->name) + " cut at " + std::to_string(cut));
            answerAll(ScriptedReply{reply.text, {}, 0, cut});
            CallFrame frame(*call, 64);
            EXPECT_EQ(frame.callOverSocket(), -14);
            EXPECT_TRUE(frame.allUntouched());
            EXPECT_TRUE(frame.guardsIntact());

            // The connection stays marked connected but is dead: -14 again.
            // No reconnect behind the caller's back either.
            const std::size_t before = server_.requestCount();
            const int connections = server_.connections();
            CallFrame again(*call, 64);
            EXPECT_EQ(again.callOverSocket(), -14);
            EXPECT_TRUE(again.allUntouched());
            EXPECT_EQ(server_.requestCount(), before);
            EXPECT_EQ(server_.connections(), connections);

            ASSERT_EQ(initialise(), 0);
        }
    }
    expectHealthy();
}

// ---- dripped and random pieces -------------------------------------------

TEST_F(Faults, RepliesDrippedOrInRandomPiecesArriveWhole)
{
    for (const CallDesc* call : kEveryKind) {
        const ExpectedReply reply = wellFormedReply(*call, {30, 4});
        expectDelivered(*call, 64, reply, ScriptedReply{{}, dripCuts(reply.text), 1, -1});
    }
    const CallDesc* const calls[] = {&kTextCall, &kDownload, &kTrace, &kTwoDoubles};
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        const CallDesc& call = *calls[seed % std::size(calls)];
        const ExpectedReply reply = wellFormedReply(call, ReplyShape{int(rng() % 12000), int(rng() % 700)});
        SCOPED_TRACE("seed " + std::to_string(seed) + " " + call.name);
        const int maxPiece = 1 + int(rng() % 6000);
        expectDelivered(call, 12001, reply, ScriptedReply{{}, randomCuts(reply.text, rng, maxPiece), int(rng() % 3), -1});
    }
}

// ---- a large text ----------------------------------------------------------

TEST_F(Faults, DownloadOf64MiBFillsA64MiBPlusOneBuffer)
{
    constexpr int kLength = 64 * 1024 * 1024;
    std::string reply = std::string(kDownload.name) + "=(n=00000000)(s=";
    reply.reserve(reply.size() + kLength + 1);
    const std::size_t textAt = reply.size();
    reply += patternText(kLength);
    reply += ')';
    answerAll(ScriptedReply{reply});

    CallFrame frame(kDownload, kLength + 1);
    ASSERT_EQ(frame.callOverSocket(), 0);
    const std::string got = frame.bytes(0);
    EXPECT_EQ(got.size(), std::size_t(kLength) + 1);
    EXPECT_EQ(got.back(), '\0');
    EXPECT_TRUE(std::memcmp(got.data(), reply.data() + textAt, kLength) == 0);
    EXPECT_TRUE(frame.guardsIntact());
    expectHealthy();
}

} // namespace
} // namespace tqbse::hardening
