// Host threads that call at once, as LabVIEW's "run in any thread", C#
// thread pools and GUI polling loops do, against a fake server on
// 127.0.0.32 that answers RX_CentreFrequency_Get(i) with 1e9 + i: each call
// gets its own value; Initialise and Shutdown on one thread end a call that
// another waits in (-14) instead of waiting for a reply that may never come;
// and calls racing with reconnects never return another call's value.
// The listener and lifecycle suites run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "protocol/call_table.h"
#include "protocol/codec.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

constexpr int kThreads = 4;

double frequencyOf(int32_t index) { return 1e9 + index; }

// Answers each frequency query with the value of its own index, after
// `delayMs` (holding the server: the next request waits); everything else
// with result 0 at once.
ScriptedReply answer(const std::string& request, int delayMs)
{
    const std::string name = request.substr(0, request.find('='));
    if (name != calls::RX_CentreFrequency_Get.name)
        return ScriptedReply(name + "=(n=00000000)");
    const codec::SplitMessage m = codec::splitMessage(request);
    int32_t index = -1;
    if (m.params.empty() || codec::decodeInt(m.params[0], &index) != 0)
        return ScriptedReply(name + "=(n=f7ffffff)");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::string reply = name + "=(n=00000000)";
    codec::appendDouble(reply, frequencyOf(index));
    return ScriptedReply(reply);
}

class Threads : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.32"; }
    void TearDown() override { tqBsePluginControlDll_Shutdown(); }

    void answerAfter(int delayMs)
    {
        server_.setResponder([delayMs](const std::string& request) { return answer(request, delayMs); });
    }

    FakeServer server_{"127.0.0.32"};
};

// Callers on `threads` threads, each asking for the value of its own index
// up to `calls` times or until `done`; a result >= 0 with a value that is not
// the caller's own is the fault.
struct Callers {
    std::atomic<int> own{0}, failed{0}, foreign{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;

    Callers(int count, int calls)
    {
        for (int32_t t = 0; t < count; ++t)
            threads.emplace_back([this, t, calls] {
                for (int i = 0; i < calls && !done.load(); ++i) {
                    double f = 0;
                    const int32_t rc = tqBsePluginControlDll_RX_CentreFrequency_Get(t, &f);
                    ++(rc < 0 ? failed : f == frequencyOf(t) ? own : foreign);
                }
            });
    }
    // Stops the callers and waits for them (also when a test fails early).
    void join()
    {
        done.store(true);
        for (std::thread& t : threads)
            if (t.joinable())
                t.join();
    }
    ~Callers() { join(); }
};

TEST_F(Threads, CallsFromSeveralThreadsEachGetTheirOwnReply)
{
    answerAfter(0);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 32), 0);
    Callers callers(kThreads, 200);
    for (std::thread& t : callers.threads)
        t.join(); // all 200 calls each, not stopped early
    EXPECT_EQ(callers.own.load(), kThreads * 200);
    EXPECT_EQ(callers.failed.load(), 0);
    EXPECT_EQ(callers.foreign.load(), 0);
}

// Shutdown, and Initialise, while another thread waits for a reply the
// server holds back for 1.5 s: that call ends with -14, and nothing waits
// for the held reply.
TEST_F(Threads, InitialiseOrShutdownEndsACallThatAnotherThreadWaitsIn)
{
    for (const bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect ? "Initialise" : "Shutdown");
        answerAfter(0);
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 32), 0);
        answerAfter(1500);
        auto waiting = std::async(std::launch::async, [] {
            double f = 0;
            return tqBsePluginControlDll_RX_CentreFrequency_Get(1, &f);
        });
        ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
            << "the call did not wait for its reply";
        if (reconnect)
            tqBsePluginControlDll_Initialise(127, 0, 0, 32);
        else
            tqBsePluginControlDll_Shutdown();
        ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(1000)), std::future_status::ready)
            << "the call still waits for the held reply";
        EXPECT_EQ(waiting.get(), TQBSE_NO_RESPONSE);
        ASSERT_TRUE(server_.waitUntilSent());
    }
}

// Callers on three threads while a fourth reconnects and shuts down over
// and over: calls may fail (-14) while the connection is down, but none
// returns success with another call's value.
TEST_F(Threads, CallsRacingWithReconnectsNeverTakeAnotherCallsReply)
{
    answerAfter(1);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 32), 0);
    Callers callers(kThreads - 1, 5000);
    for (int round = 0; round < 15; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (round % 3 == 2)
            tqBsePluginControlDll_Shutdown();
        else
            tqBsePluginControlDll_Initialise(127, 0, 0, 32);
    }
    callers.join();
    EXPECT_EQ(callers.foreign.load(), 0);
    EXPECT_GT(callers.own.load(), 0);
}

} // namespace
} // namespace tqbse::test
