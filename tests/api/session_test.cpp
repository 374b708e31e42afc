// The session API against two emulators on 127.0.0.2 and 127.0.0.3 (one
// port, the library's server port moved to it): calls from several threads
// on both sessions and on the flat exports at once, each getting its own
// server's values; each server's events reaching only its own session, by
// queue and by handler; close ending a wait and waiting for a running
// handler; and the codes of a session that cannot be opened.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "protocol/codec.h"
#include "support/process.h"
#include "support/sockets.h"
#include "tqBsePluginControlDll.h"
#include "tqbse_session.h"

namespace tqbse::test {
namespace {

using namespace std::chrono_literals;

// Two emulators: the first sends "TickA" every 20 ms, the second sends
// "ScenarioFinished" when a scenario of 50 ms ends.
class Sessions : public ::testing::Test {
protected:
    void SetUp() override
    {
        const uint16_t port = freePort();
        first_ = std::make_unique<EmulatorProcess>("127.0.0.2", port);
        second_ = std::make_unique<EmulatorProcess>("127.0.0.3", port);
        std::string error;
        ASSERT_TRUE(first_->start({"--event-every", "20", "TickA"}, &error)) << error;
        ASSERT_TRUE(second_->start({"--config", TQBSE_EXAMPLE_CONFIG, "--callback-on-scenario-end", "--scenario-ms", "50"},
                                  &error))
            << error;
        ASSERT_EQ(tqbse_open("127.0.0.2", nullptr, &a_), 0);
        ASSERT_EQ(tqbse_open("localhost", nullptr, &b_), -14) << "localhost is 127.0.0.1, where nothing listens";
        ASSERT_EQ(tqbse_open("127.0.0.3", nullptr, &b_), 0);
    }
    void TearDown() override
    {
        if (a_ != nullptr) {
            EXPECT_EQ(tqbse_close(a_), 0);
        }
        if (b_ != nullptr) {
            EXPECT_EQ(tqbse_close(b_), 0);
        }
    }

    std::unique_ptr<EmulatorProcess> first_, second_;
    tqbse_session* a_ = nullptr;
    tqbse_session* b_ = nullptr;
};

TEST_F(Sessions, CallsFromSeveralThreadsOnTwoSessionsAndTheFlatExportsGetTheirOwnServersValues)
{
    ASSERT_EQ(tqbse_RX_CentreFrequency_Set(a_, 0, 1.0e9), 0);
    ASSERT_EQ(tqbse_RX_CentreFrequency_Set(b_, 0, 2.0e9), 0);
    // The flat exports on the second server too: the default session is one
    // more connection to it.
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), 0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    const auto caller = [&](tqbse_session* session, double expected) {
        for (int i = 0; i < 200; ++i) {
            double value = 0;
            const int32_t rc = session != nullptr ? tqbse_RX_CentreFrequency_Get(session, 0, &value)
                                                  : tqBsePluginControlDll_RX_CentreFrequency_Get(0, &value);
            if (rc != 0 || value != expected)
                ++wrong;
        }
    };
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back(caller, a_, 1.0e9);
        threads.emplace_back(caller, b_, 2.0e9);
    }
    threads.emplace_back(caller, nullptr, 2.0e9);
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    // A session outlives the default session's end.
    int32_t version[4] = {};
    EXPECT_GE(tqbse_GetServerVersion(a_, version), 0);
    EXPECT_EQ(version[0], TQBSE_VERSION_MAJOR);
    int32_t length = 0;
    EXPECT_EQ(tqbse_GetErrorMsgLength(b_, -14, &length), 0);
    EXPECT_GT(length, 1);
}

TEST_F(Sessions, EachServersEventsReachOnlyItsOwnSessionByQueueAndByHandler)
{
    char buffer[64];
    int32_t length = 0;
    // The first server's events in order (the first may have come before
    // the session was ready for it, and been answered -8).
    int32_t first = 0;
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(tqbse_wait_event(a_, 5000, buffer, sizeof buffer, &length), 0);
        const std::string event(buffer, std::size_t(length));
        ASSERT_EQ(event.rfind("TickA=", 0), 0u) << event;
        int32_t n = 0;
        ASSERT_EQ(codec::decodeInt(event.substr(6), &n), 0) << event;
        if (k == 0)
            first = n;
        EXPECT_EQ(n, first + k);
    }
    // Too small a buffer keeps the event queued.
    ASSERT_EQ(tqbse_wait_event(a_, 5000, buffer, 5, &length), -13);
    const std::string next = "TickA=" + codec::encodeInt(first + 3);
    EXPECT_EQ(length, int32_t(next.size()));
    ASSERT_EQ(tqbse_wait_event(a_, 0, buffer, sizeof buffer, &length), 0);
    EXPECT_EQ(std::string(buffer), next);

    // The second server's scenario end goes to its handler, answered with
    // the handler's code; nothing of the first server's reaches it.
    struct Heard {
        std::atomic<int> calls{0};
        std::string message;
    } heard;
    ASSERT_EQ(tqbse_set_event_handler(
                  b_, "ScenarioFinished",
                  [](tqbse_session*, const char* message, int32_t length, void* user) -> int32_t {
                      auto* h = static_cast<Heard*>(user);
                      h->message.assign(message, std::size_t(length));
                      ++h->calls;
                      return 3;
                  },
                  &heard),
              0);
    ASSERT_EQ(tqbse_Scenario_Execute(b_, "Power_Sweep", 100), 0);
    for (int i = 0; i < 250 && heard.calls == 0; ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(heard.calls, 1);
    EXPECT_EQ(heard.message.rfind("ScenarioFinished=", 0), 0u) << heard.message;
    const std::string answered = "answered: ScenarioFinished=" + codec::encodeInt(3);
    for (int i = 0; i < 100 && second_->log().find(answered) == std::string::npos; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(second_->log().find(answered), std::string::npos) << second_->log();
    EXPECT_EQ(tqbse_wait_event(b_, 100, buffer, sizeof buffer, &length), -14) << buffer;
    uint64_t dropped = 99;
    EXPECT_EQ(tqbse_events_dropped(b_, &dropped), 0);
    EXPECT_EQ(dropped, 0u);
}

TEST_F(Sessions, CloseEndsAWaitAndWaitsForTheRunningHandler)
{
    std::atomic<int32_t> waited{1};
    std::thread waiter([&] {
        char buffer[64];
        waited = tqbse_wait_event(b_, -1, buffer, sizeof buffer, nullptr);
    });
    struct Slow {
        std::atomic<bool> entered{false}, finished{false};
    } slow;
    ASSERT_EQ(tqbse_set_event_handler(
                  a_, nullptr,
                  [](tqbse_session*, const char*, int32_t, void* user) -> int32_t {
                      auto* s = static_cast<Slow*>(user);
                      s->entered = true;
                      std::this_thread::sleep_for(200ms);
                      s->finished = true;
                      return 0;
                  },
                  &slow),
              0);
    for (int i = 0; i < 500 && !slow.entered; ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(slow.entered);
    EXPECT_EQ(tqbse_close(a_), 0);
    a_ = nullptr;
    EXPECT_TRUE(slow.finished) << "close returned while the session's handler still ran";
    EXPECT_EQ(tqbse_close(b_), 0);
    b_ = nullptr;
    waiter.join();
    EXPECT_EQ(waited, -14);
}

// A handler that calls a flat export while another thread connects the flat
// exports again: Initialise stops the listener, whose thread ends only once
// the handler returns, so it must not hold the lock the handler waits for.
TEST_F(Sessions, InitialiseAgainWhileAHandlerCallsAFlatExportEndsBoth)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), 0);
    struct Shared {
        std::atomic<bool> entered{false};
        std::atomic<int32_t> flatResult{1};
    } shared;
    ASSERT_EQ(tqbse_set_event_handler(
                  a_, "TickA",
                  [](tqbse_session*, const char*, int32_t, void* user) -> int32_t {
                      auto* s = static_cast<Shared*>(user);
                      if (s->entered.exchange(true))
                          return 0;
                      std::this_thread::sleep_for(100ms); // Initialise takes the lock meanwhile
                      double value = 0;
                      s->flatResult = tqBsePluginControlDll_RX_CentreFrequency_Get(0, &value);
                      return 0;
                  },
                  &shared),
              0);
    for (int i = 0; i < 500 && !shared.entered; ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(shared.entered);
    std::atomic<bool> done{false};
    std::atomic<int32_t> again{1};
    std::thread connecting([&] {
        again = tqBsePluginControlDll_Initialise(127, 0, 0, 3);
        done = true;
    });
    for (int i = 0; i < 1000 && !done; ++i)
        std::this_thread::sleep_for(10ms);
    if (!done) {
        ADD_FAILURE() << "Initialise and the handler wait for each other";
        std::fflush(nullptr);
        std::_Exit(1); // neither thread can be ended
    }
    connecting.join();
    EXPECT_EQ(again, 0);
    EXPECT_NE(shared.flatResult, 1) << "the handler's flat call never returned";
    tqbse_set_event_handler(a_, "TickA", nullptr, nullptr);
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
}

TEST(SessionOpen, NullArgumentsAndAnUnreachableServerLeaveNothingOpen)
{
    tqbse_session* session = reinterpret_cast<tqbse_session*>(1);
    EXPECT_EQ(tqbse_open(nullptr, nullptr, &session), -1);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(tqbse_open("127.0.0.2", nullptr, nullptr), -1);
    const tqbse_options options{0, 500};
    session = reinterpret_cast<tqbse_session*>(1);
    EXPECT_EQ(tqbse_open("127.0.0.9", &options, &session), -14);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(tqbse_open("no-such-host.invalid", &options, &session), -14);
    EXPECT_EQ(session, nullptr);
    double value = 0;
    EXPECT_EQ(tqbse_RX_CentreFrequency_Get(nullptr, 0, &value), -1);
    EXPECT_EQ(tqbse_close(nullptr), -1);
    EXPECT_EQ(tqbse_wait_event(nullptr, 0, nullptr, 0, nullptr), -1);
    EXPECT_EQ(tqbse_set_event_handler(nullptr, nullptr, nullptr, nullptr), -1);
}

} // namespace
} // namespace tqbse::test
