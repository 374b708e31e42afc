// The opt-in reply deadline (TQBSE_REPLY_TIMEOUT_MS, read at Initialise)
// against a fake server on 127.0.0.6 that stalls before or in the middle of
// a reply: the call gives up with -14 once the deadline has passed, the
// connection then refuses every call until the next Initialise (so a late
// reply is never read as a later call's answer), a reply inside the deadline
// is taken, and without a valid value calls wait as long as the reply takes.
// Every call runs under a watchdog, so a deadline that never fires fails the
// test instead of hanging it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;
using test::FakeServer;
using test::ScriptedReply;

namespace {

constexpr char kGet[] = "tqBsePluginControlDll_RX_CentreFrequency_Get";
// (n=0)(d=1.0): the complete reply to kGet.
const std::string kFullReply = std::string(kGet) + "=(n=00000000)(d=000000000000f03f)";
constexpr int kWatchdogMs = 10000;

struct Timed {
    int32_t code = 1;
    double value = 0;
    int64_t elapsedMs = -1;
};

// RX_CentreFrequency_Get(0) on a thread of its own, waited for at most the
// watchdog's time.
Timed timedGet()
{
    auto call = std::async(std::launch::async, [] {
        Timed t;
        const auto start = std::chrono::steady_clock::now();
        t.code = tqBsePluginControlDll_RX_CentreFrequency_Get(0, &t.value);
        t.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                          .count();
        return t;
    });
    if (call.wait_for(std::chrono::milliseconds(kWatchdogMs)) != std::future_status::ready) {
        ADD_FAILURE() << "the call was still blocked after " << kWatchdogMs << " ms";
        std::abort(); // the thread cannot be joined: end the test program
    }
    return call.get();
}

class ReplyDeadline : public ::testing::Test {
protected:
    void connect(const char* deadline)
    {
        platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", deadline);
        ASSERT_TRUE(server_.isListening());
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 6), 0);
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", "");
    }

    FakeServer server_{"127.0.0.6"};
};

TEST_F(ReplyDeadline, StallInTheMiddleOfAReplyGivesNoResponseOnceTheDeadlinePasses)
{
    connect("300");
    server_.push(test::inPieces({kFullReply.substr(0, 30), kFullReply.substr(30)}, 3000));
    const Timed t = timedGet();
    EXPECT_EQ(t.code, TQBSE_NO_RESPONSE);
    EXPECT_GE(t.elapsedMs, 300);
    EXPECT_LT(t.elapsedMs, 2500) << "the call waited for the stalled server instead of its deadline";
    EXPECT_EQ(t.value, 0.0);
}

TEST_F(ReplyDeadline, ServerSilentAfterTheRequestGivesNoResponseAndTheLateReplyIsNeverRead)
{
    connect("300");
    std::atomic<bool> lateReplySent{false};
    server_.setResponder([&](const std::string& request) {
        if (FakeServer::nameOf(request) != kGet)
            return ScriptedReply(FakeServer::okReply(request));
        // Nothing for a second, then a reply that would decode as 2.0.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        lateReplySent.store(true);
        return ScriptedReply(std::string(kGet) + "=(n=00000000)(d=0000000000000040)");
    });
    const Timed first = timedGet();
    EXPECT_EQ(first.code, TQBSE_NO_RESPONSE);
    EXPECT_LT(first.elapsedMs, 1000);

    // Refused at once, without a request, until the next Initialise.
    const std::size_t requestsBefore = server_.requestCount();
    const Timed refused = timedGet();
    EXPECT_EQ(refused.code, TQBSE_NO_RESPONSE);
    EXPECT_LT(refused.elapsedMs, 100);
    for (int i = 0; i < 300 && !lateReplySent.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(lateReplySent.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(server_.requestCount(), requestsBefore) << "a call after the deadline reached the server";

    // A new connection answers afresh; the late 2.0 is gone with the old one.
    server_.setResponder({});
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 6), 0);
    server_.push(ScriptedReply(kFullReply));
    const Timed fresh = timedGet();
    EXPECT_EQ(fresh.code, 0);
    EXPECT_EQ(fresh.value, 1.0);
}

TEST_F(ReplyDeadline, ReplyCompletedInsideTheDeadlineIsTaken)
{
    connect("2000");
    server_.push(test::inPieces({kFullReply.substr(0, 30), kFullReply.substr(30)}, 200));
    const Timed t = timedGet();
    EXPECT_EQ(t.code, 0);
    EXPECT_EQ(t.value, 1.0);
    // The connection stays usable after a reply that made it in time.
    server_.push(ScriptedReply(kFullReply));
    EXPECT_EQ(timedGet().code, 0);
}

// Empty, malformed and negative values all leave the call waiting for a
// reply that takes longer than any of them would allow; a malformed value
// is reported once on standard error, the others say nothing.
TEST_F(ReplyDeadline, WithoutAValidValueCallsWaitForTheWholeReply)
{
    struct Case {
        const char* value;
        bool reported;
    };
    for (const Case c : {Case{"", false}, Case{"abc", true}, Case{"-5", false}}) {
        SCOPED_TRACE(c.value);
        testing::internal::CaptureStderr();
        connect(c.value);
        const std::string said = testing::internal::GetCapturedStderr();
        // Only the first malformed value of the process is reported.
        if (c.reported)
            EXPECT_THAT(said, testing::HasSubstr("TQBSE_REPLY_TIMEOUT_MS=\"abc\" is not a number of milliseconds"));
        else
            EXPECT_EQ(said, "");
        server_.push(test::inPieces({kFullReply.substr(0, 30), kFullReply.substr(30)}, 600));
        const Timed t = timedGet();
        EXPECT_EQ(t.code, 0);
        EXPECT_EQ(t.value, 1.0);
        EXPECT_GE(t.elapsedMs, 600);
    }
}

} // namespace
