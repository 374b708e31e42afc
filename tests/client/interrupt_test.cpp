// The host's interrupt descriptor (TQBSE_INTERRUPT_FD, read at Initialise)
// against a fake server on 127.0.0.40: what the host wrote before a call
// does not end it, a write during a call ends its wait for a stalled reply,
// or for a server that has stopped reading, with -14 and drops the
// connection, which then refuses calls until the next Initialise. The
// descriptor in the tests is the platform's wake event (an eventfd, or a
// socket on Windows), which is readable once signalled, as a host's is.
// Every call runs under a watchdog, so a hang fails the test instead of CI.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "platform/host.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;
using test::ScriptedReply;

namespace {

constexpr char kGet[] = "tqBsePluginControlDll_RX_CentreFrequency_Get";
const std::string kFullReply = std::string(kGet) + "=(n=00000000)(d=000000000000f03f)";

// `call` on a thread of its own; the interrupt is signalled after
// `signalAfterMs` (never when negative); waited for at most 10 s.
template <typename Call>
int32_t run(Call call, const platform::WakeEvent* interrupt, int signalAfterMs)
{
    auto done = std::async(std::launch::async, call);
    if (interrupt != nullptr && signalAfterMs >= 0
        && done.wait_for(std::chrono::milliseconds(signalAfterMs)) != std::future_status::ready)
        platform::signalWakeEvent(*interrupt);
    if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the call was still blocked after 10 s";
        std::abort(); // the thread cannot be joined: end the test program
    }
    return done.get();
}

int32_t get(double* value) { return tqBsePluginControlDll_RX_CentreFrequency_Get(0, value); }

class HostInterrupt : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.isListening());
        ASSERT_EQ(platform::openWakeEvent(&interrupt_), 0);
        platform::setEnvironment("TQBSE_INTERRUPT_FD", std::to_string(interrupt_.handles[0]).c_str());
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 40), 0);
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        platform::setEnvironment("TQBSE_INTERRUPT_FD", "");
        platform::closeWakeEvent(&interrupt_);
    }
    test::FakeServer server_{"127.0.0.40"};
    platform::WakeEvent interrupt_;
};

TEST_F(HostInterrupt, WhatWasWrittenBeforeACallIsDrainedAndTheCallIsAnswered)
{
    for (int round = 0; round < 2; ++round) {
        platform::signalWakeEvent(interrupt_);
        server_.push(test::inPieces({kFullReply.substr(0, 30), kFullReply.substr(30)}, 100));
        double value = 0;
        EXPECT_EQ(run([&] { return get(&value); }, nullptr, -1), 0);
        EXPECT_EQ(value, 1.0);
    }
}

TEST_F(HostInterrupt, AWriteDuringAStalledReplyEndsTheCallAndDropsTheConnection)
{
    server_.setResponder([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return ScriptedReply(kFullReply);
    });
    double value = 0;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run([&] { return get(&value); }, &interrupt_, 100), TQBSE_NO_RESPONSE);
    // Well before the stalled reply would have come.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
    EXPECT_EQ(value, 0.0);
    const std::size_t requests = server_.requests().size();
    EXPECT_EQ(get(&value), TQBSE_NO_RESPONSE); // refused without a request
    EXPECT_EQ(server_.requests().size(), requests);
}

// A 32 MiB upload to a server that has stopped reading blocks in sending,
// which the interrupt ends as well.
TEST_F(HostInterrupt, AWriteWhileSendingToAServerThatStoppedReadingEndsTheCall)
{
    ScriptedReply thenDeaf(std::string(calls::FullProtocolReset.name) + "=(n=00000000)");
    thenDeaf.holdMs = 4000;
    server_.push(thenDeaf);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    const std::string content(32 << 20, 'c');
    EXPECT_EQ(run([&] { return tqBsePluginControlDll_Scenario_Upload("s", 1, content.c_str(), int32_t(content.size())); },
                  &interrupt_, 300),
              TQBSE_NO_RESPONSE);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), TQBSE_NO_RESPONSE);
}

} // namespace
