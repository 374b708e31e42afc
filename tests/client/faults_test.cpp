// Replies as a slow or bulky server sends them, against a fake server on
// 127.0.0.30: bulk replies cut into random pieces, a 64 MiB text, and a
// reply that never ends. Each must arrive whole into outputs of exactly the
// declared size (sentinel-filled, with guard bytes behind them). Connections ending
// mid-reply are the client socket test's; odd bytes in a reply are the call
// procedure's and the framer's to judge: call_remote_test, framer_test.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "support/guarded_call.h"
#include "support/replies.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::hardening {
namespace {

using test::FakeServer;
using test::ScriptedReply;
using test::randomCuts;

const CallDesc& kTextCall = calls::Scenario_Name_Get;
const CallDesc& kDownload = calls::Scenario_Download;
const CallDesc& kTrace = calls::Protocol_Results_GetTrace;
const CallDesc& kTwoDoubles = calls::Protocol_Results_GetResultItem;

class Faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.30";
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 30), 0);
    }
    void TearDown() override { tqBsePluginControlDll_Shutdown(); }

    // Runs one call whose reply is sent as `plan` says and checks that every
    // output holds what the reply carried, and nothing past its size.
    void expectDelivered(const CallDesc& call, int32_t bound, const ExpectedReply& expected, ScriptedReply plan)
    {
        plan.text = expected.text;
        server_.push(plan);
        GuardedCall frame(call, bound);
        ASSERT_EQ(frame.callOverSocket(), 0) << call.name;
        for (int k = 0; k < call.outputCount; ++k) {
            const std::string written = frame.bytes(k).substr(0, expected.outputs[k].size());
            EXPECT_TRUE(written == expected.outputs[k]) << call.name << " output " << k;
        }
        EXPECT_TRUE(frame.guardsIntact()) << call.name;
    }

    FakeServer server_{"127.0.0.30"};
};

// Bulk texts and traces cut into random pieces anywhere (a byte at a time
// and every kind of output: the fault matrix).
TEST_F(Faults, BulkRepliesInRandomPiecesArriveWhole)
{
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

// The whole text and its terminator fill a buffer of exactly 64 MiB + 1, and
// the next call finds no bytes of it left on the connection.
TEST_F(Faults, DownloadOf64MiBFillsA64MiBPlusOneBuffer)
{
    constexpr int kLength = 64 * 1024 * 1024;
    expectDelivered(kDownload, kLength + 1, wellFormedReply(kDownload, {kLength, 0}), {});
    expectDelivered(kTwoDoubles, 8, wellFormedReply(kTwoDoubles), {});
}

// A reply that grows past what the call can deliver (a 64-byte name, so the
// 64 KiB floor) ends the call with -14 and closes the connection, instead of
// taking in everything the server sends and then waiting for the end of a
// text that never comes; every later call is -14 without a request until
// the next Initialise.
TEST_F(Faults, AReplyLongerThanTheCallCanDeliverEndsTheConnection)
{
    ScriptedReply endless(std::string(kTextCall.name) + "=(n=00000000)(s=" + std::string(16 << 20, 'a'));
    endless.holdMs = 20000; // then silent, the connection open
    server_.push(endless);
    auto call = std::async(std::launch::async, [] {
        char name[64];
        return tqBsePluginControlDll_Scenario_Name_Get(0, name, sizeof name);
    });
    if (call.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        ADD_FAILURE() << "the call still reads an endless reply after 5 s";
    EXPECT_EQ(call.get(), TQBSE_NO_RESPONSE);
    const std::size_t requests = server_.requests().size();
    char name[64];
    EXPECT_EQ(tqBsePluginControlDll_Scenario_Name_Get(0, name, sizeof name), TQBSE_NO_RESPONSE);
    EXPECT_EQ(server_.requests().size(), requests);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 30), 0);
    expectDelivered(kTextCall, 64, wellFormedReply(kTextCall, {63, 0}), {});
}

} // namespace
} // namespace tqbse::hardening
