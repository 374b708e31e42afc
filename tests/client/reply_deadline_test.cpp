// The opt-in reply deadline (TQBSE_REPLY_TIMEOUT_MS, read at Initialise)
// against a fake server on 127.0.0.6 that stalls before or in the middle of
// a reply for longer than the deadline: the call gives up with -14 instead
// of taking the late reply, the connection then refuses every call until the
// next Initialise (so a late reply is never read as a later call's answer),
// and without a valid value calls wait as long as the reply takes. Every
// call runs under a watchdog, so a hang fails the test instead of CI.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/host.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;
using test::ScriptedReply;

namespace {

constexpr char kGet[] = "tqBsePluginControlDll_RX_CentreFrequency_Get";
// (n=0)(d=1.0): the complete reply to kGet.
const std::string kFullReply = std::string(kGet) + "=(n=00000000)(d=000000000000f03f)";

struct Result {
    int32_t code = 1;
    double value = 0;
};

// RX_CentreFrequency_Get(0) on a thread of its own, waited for at most 10 s.
Result get()
{
    auto call = std::async(std::launch::async, [] {
        Result r;
        r.code = tqBsePluginControlDll_RX_CentreFrequency_Get(0, &r.value);
        return r;
    });
    if (call.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the call was still blocked after 10 s";
        std::abort(); // the thread cannot be joined: end the test program
    }
    return call.get();
}

// The reply in two pieces, `pauseMs` apart.
ScriptedReply stalled(std::size_t at, int pauseMs)
{
    return test::inPieces({kFullReply.substr(0, at), kFullReply.substr(at)}, pauseMs);
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
    test::FakeServer server_{"127.0.0.6"};
};

TEST_F(ReplyDeadline, StallLongerThanTheDeadlineGivesNoResponseAndDropsTheConnection)
{
    for (std::size_t at : {std::size_t(0), std::size_t(30)}) { // before any byte, mid-reply
        SCOPED_TRACE(at);
        connect("300");
        if (at == 0)
            server_.setResponder([](const std::string&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2000));
                return ScriptedReply(kFullReply);
            });
        else
            server_.push(stalled(at, 2000));
        const Result late = get();
        EXPECT_EQ(late.code, TQBSE_NO_RESPONSE);
        EXPECT_EQ(late.value, 0.0);
        // Refused without a request until the next Initialise.
        const std::size_t requests = server_.requests().size();
        EXPECT_EQ(get().code, TQBSE_NO_RESPONSE);
        EXPECT_EQ(server_.requests().size(), requests);
        // Without a deadline, the next Initialise waits for the stalled
        // server to come round to the new connection.
        server_.setResponder({});
        platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", "");
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 6), 0);
        server_.push(ScriptedReply(kFullReply));
        const Result fresh = get();
        EXPECT_EQ(fresh.code, 0);
        EXPECT_EQ(fresh.value, 1.0);
    }
}

TEST_F(ReplyDeadline, ReplyCompletedInsideTheDeadlineIsTaken)
{
    connect("2000");
    server_.push(stalled(30, 200));
    const Result r = get();
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.value, 1.0);
}

// A reply that keeps trickling in, a byte every 40 ms, never beats the
// deadline: the call ends with -14 at the deadline rather than taking the
// reply once it is whole.
TEST_F(ReplyDeadline, AReplyThatKeepsTricklingInEndsAtTheDeadline)
{
    connect("300");
    std::vector<std::size_t> cuts;
    for (std::size_t at = 1; at < kFullReply.size(); ++at)
        cuts.push_back(at);
    server_.push(ScriptedReply(kFullReply, cuts, 40));
    const Result r = get();
    EXPECT_EQ(r.code, TQBSE_NO_RESPONSE);
    EXPECT_EQ(r.value, 0.0);
}

// The deadline covers sending: a 32 MiB upload to a server that has stopped
// reading ends with -14 instead of blocking until the server reads again.
TEST_F(ReplyDeadline, ASendToAServerThatStoppedReadingEndsAtTheDeadline)
{
    connect("300");
    ScriptedReply thenDeaf(std::string(calls::FullProtocolReset.name) + "=(n=00000000)");
    thenDeaf.holdMs = 6000;
    server_.push(thenDeaf);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    const std::string content(32 << 20, 'c');
    auto upload = std::async(std::launch::async, [&content] {
        return tqBsePluginControlDll_Scenario_Upload("s", 1, content.c_str(), int32_t(content.size()));
    });
    if (upload.wait_for(std::chrono::seconds(3)) != std::future_status::ready)
        ADD_FAILURE() << "still sending after 3 s with a 300 ms deadline";
    EXPECT_EQ(upload.get(), TQBSE_NO_RESPONSE);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), TQBSE_NO_RESPONSE); // the connection was given up
}

// Empty, zero, malformed and negative values leave the call waiting for a
// reply slower than any deadline they could mean; a malformed one is said
// once a process, on standard error.
TEST_F(ReplyDeadline, WithoutAValidValueCallsWaitForTheWholeReply)
{
    for (const char* value : {"", "0", "abc", "-5", "12x"}) {
        SCOPED_TRACE(value);
        testing::internal::CaptureStderr();
        connect(value);
        const std::string said = testing::internal::GetCapturedStderr();
        if (std::string(value) == "abc")
            EXPECT_THAT(said, testing::HasSubstr("TQBSE_REPLY_TIMEOUT_MS=\"abc\" is not a number of milliseconds"));
        else
            EXPECT_EQ(said, "");
        server_.push(stalled(30, 600));
        const Result r = get();
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.value, 1.0);
    }
}

} // namespace
