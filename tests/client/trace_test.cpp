// The call trace (TQBSE_TRACE, read at Initialise) against a fake server on
// 127.0.0.153: each call's line holds the exact request and reply bytes, the
// result and the timing; connection events, deadlines and callback messages
// get lines of their own; lines stay whole while the caller and the listener
// write at once; a trace that cannot be opened is said once and changes
// nothing else. Every line is read while the connection is still open, so a
// line that is not flushed at once is missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/trace.h"
#include "platform/host.h"
#include "protocol/ports.h"
#include "listener/listener.h"
#include "protocol/codec.h"
#include "protocol/trace_line.h"
#include "support/fake_server.h"
#include "support/peer.h"
#include "tqBsePluginControlDll.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace tqbse;
using namespace std::string_literals;
using test::ScriptedReply;

namespace {

const std::string kPrefix = "tqBsePluginControlDll_";

class Trace : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = testing::TempDir() + "tqbse-trace-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::remove(path_.c_str());
        platform::setEnvironment("TQBSE_TRACE", path_.c_str());
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        platform::setEnvironment("TQBSE_TRACE", "");
        platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", "");
        std::remove(path_.c_str());
    }
    void connect()
    {
        ASSERT_TRUE(server_.isListening());
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 153), 0);
    }
    std::string raw() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Every line, parsed; a line that does not parse fails the test.
    std::vector<TraceLine> lines(std::string_view event = {}) const
    {
        std::vector<TraceLine> all;
        std::istringstream in(raw());
        for (std::string line; std::getline(in, line);) {
            TraceLine parsed;
            EXPECT_TRUE(parseTraceLine(line, &parsed)) << line;
            if (event.empty() || parsed.event() == event)
                all.push_back(parsed);
        }
        return all;
    }

    std::string path_;
    test::FakeServer server_{"127.0.0.153"};
};

// A text reply with every kind of byte that needs escaping, and the same
// reply's bytes as they must read back.
const std::string kOddText = "q\"b\\s\x01\n\x7f\xe9\xff end";

TEST_F(Trace, EachCallHasItsExactBytesResultSendTimeAndDuration)
{
    std::vector<double> points{1.5, -2.25, 1e300};
    std::string array = kPrefix + "LTE_Results_GetTrace=(n=00000000)";
    codec::appendDoubleArray(array, points.data(), points.size());
    codec::appendDoubleArray(array, points.data(), points.size());
    const std::string replies[] = {
        kPrefix + "RX_CentreFrequency_Set=(n=00000000)",
        kPrefix + "RX_CentreFrequency_Get=(n=00000000)(d=000000e0a80edd41)",
        kPrefix + "TestCase_Name_Get=(n=00000000)(s=" + kOddText + ")",
        array,
        kPrefix + "TestCase_Run=(n=eeffffff)",       // the server's -18
        kPrefix + "Scenario_Execute=(n=00000000)",   // out of order: -10
    };
    connect();
    for (const std::string& reply : replies)
        server_.push(ScriptedReply(reply));
    const int64_t before = trace::nowMicros();
    double frequency = 0;
    char text[64];
    double x[3], y[3];
    EXPECT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Set(0, 1.95e9), 0);
    EXPECT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Get(0, &frequency), 0);
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Name_Get(2, text, sizeof text), 0);
    EXPECT_EQ(tqBsePluginControlDll_LTE_Results_GetTrace(1, 0, x, y, 3), 0);
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Run(7), TQBSE_INTERNAL_OBJECT_ERROR);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), TQBSE_REPLY_OUT_OF_ORDER);
    const int64_t after = trace::nowMicros();

    const std::vector<TraceLine> calls = lines("call");
    const std::vector<std::string> requests = server_.requests();
    ASSERT_EQ(calls.size(), 7u); // RemoteConnection_Set at Initialise, then the six
    ASSERT_EQ(requests.size(), 7u);
    const int32_t results[] = {0, 0, 0, 0, -18, -10};
    int64_t previous = before;
    for (std::size_t k = 1; k < calls.size(); ++k) {
        SCOPED_TRACE(requests[k]);
        const TraceLine& line = calls[k];
        EXPECT_EQ(line.text("request"), requests[k]);
        EXPECT_EQ(line.text("reply"), replies[k - 1]);
        EXPECT_EQ(line.text("name"), requests[k].substr(0, requests[k].find('=')));
        EXPECT_EQ(line.number("result", 99), results[k - 1]);
        EXPECT_GE(line.time(), previous);
        EXPECT_GE(line.number("us", -1), 0);
        EXPECT_LE(line.time() + line.number("us"), after);
        previous = line.time() + line.number("us");
    }
    EXPECT_EQ(calls[1].text("name"), kPrefix + "RX_CentreFrequency_Set");
    EXPECT_EQ(calls[1].text("request"), kPrefix + "RX_CentreFrequency_Set=(n=00000000)(d=000000e0a80edd41)");
    // Bytes outside printable ASCII are written \u00XX; quote and backslash escaped.
    EXPECT_THAT(raw(), testing::HasSubstr(R"((s=q\"b\\s\u0001\u000a\u007f\u00e9\u00ff end))"));
    server_.push(ScriptedReply(kPrefix + "RemoteConnection_Set=(n=00000000)"));
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    EXPECT_EQ(lines().back().event(), "close");
    EXPECT_EQ(lines().back().text("detail"), "127.0.0.153");
}

TEST_F(Trace, ConnectionEventsAndAnExpiredDeadlineHaveLinesOfTheirOwn)
{
    platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", "200");
    connect();
    server_.setResponder([](const std::string& request) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return ScriptedReply(request.substr(0, request.find('=')) + "=(n=00000000)");
    });
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), TQBSE_NO_RESPONSE);
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 154), TQBSE_NO_RESPONSE); // nobody listens there

    const std::vector<TraceLine> all = lines();
    std::vector<std::string> events;
    for (const TraceLine& line : all)
        events.emplace_back(line.event());
    // The deadline closes the connection; the next Initialise only connects.
    EXPECT_THAT(events, testing::ElementsAre("connect", "call", "deadline expired", "call", "connect failed", "call"));
    EXPECT_EQ(all[0].text("detail"), "127.0.0.153:" + std::to_string(serverPort()));
    EXPECT_EQ(all[2].text("detail"), "200 ms");
    EXPECT_EQ(all[3].text("request"), kPrefix + "FullProtocolReset=");
    EXPECT_EQ(all[3].text("reply"), "");
    EXPECT_EQ(all[3].number("result"), TQBSE_NO_RESPONSE);
    EXPECT_GE(all[3].number("us"), 200000);
    EXPECT_EQ(all[4].text("detail"), "127.0.0.154:" + std::to_string(serverPort()));
    // Bytes a new exchange finds already waiting are written whole.
    trace::staleBytes("late=(n=00000000)\xff");
    EXPECT_EQ(lines().back().event(), "stale bytes discarded");
    EXPECT_EQ(lines().back().text("detail"), "late=(n=00000000)\xff");
}

TEST_F(Trace, CallbacksAndCallsWrittenAtOnceStayWholeLines)
{
    connect();
    // Initialise does not wait for the listener to listen.
    for (int k = 0; k < 500 && listener::listenerState() != listener::ListenerState::Listening; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    testing::internal::CaptureStdout(); // the listener's "Accepted client" line
    constexpr int kRounds = 200;
    std::thread callbacks([] {
        test::Peer peer;
        for (int k = 0; k < kRounds; ++k)
            EXPECT_EQ(peer.exchange("ScenarioFinished=(s=run " + std::to_string(k) + ")"),
                      "ScenarioFinished=(n=f8ffffff)");
    });
    for (int k = 0; k < kRounds; ++k)
        EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    callbacks.join();
    testing::internal::GetCapturedStdout();

    const std::vector<TraceLine> received = lines("callback");
    ASSERT_EQ(received.size(), std::size_t(kRounds));
    for (int k = 0; k < kRounds; ++k) {
        EXPECT_EQ(received[k].text("message"), "ScenarioFinished=(s=run " + std::to_string(k) + ")");
        EXPECT_EQ(received[k].text("answer"), "ScenarioFinished=(n=f8ffffff)");
    }
    EXPECT_EQ(lines("call").size(), std::size_t(kRounds) + 1);
}

TEST_F(Trace, AnUnopenableTraceIsSaidOnceAndNothingElseChanges)
{
    platform::setEnvironment("TQBSE_TRACE", "/nonexistent-folder/trace.jsonl");
    testing::internal::CaptureStderr();
    connect();
    // A second Initialise with the same path says nothing more.
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 153), 0);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_THAT(said, testing::MatchesRegex("tqBsePluginControlDll: TQBSE_TRACE=\"/nonexistent-folder/trace.jsonl\" "
                                            "cannot be opened \\(.+\\); no trace is written\n"));
    // Unset, the next Initialise stops tracing: nothing is written.
    platform::setEnvironment("TQBSE_TRACE", "");
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 153), 0);
    EXPECT_FALSE(trace::enabled());
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    EXPECT_EQ(raw(), "");
}

#ifndef _WIN32
// A trace whose writes fail (a full disk) is said once on standard error,
// however many lines fail after it, and the calls go on unchanged.
TEST_F(Trace, AFailingWriteIsSaidOnceAndTheCallsGoOn)
{
    platform::setEnvironment("TQBSE_TRACE", "/dev/full");
    testing::internal::CaptureStderr();
    connect();
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 153), 0); // the same path is not taken up again
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_THAT(said, testing::MatchesRegex("tqBsePluginControlDll: writing the trace to TQBSE_TRACE=\"/dev/full\" "
                                            "failed \\(No space left on device\\); no further lines are written "
                                            "to it\n"));
    EXPECT_FALSE(trace::enabled());
}

// Initialise with a FIFO as the trace: without a reader it is refused at
// once (said once), never waited for; with a reader the lines arrive, and a
// reader that goes away ends the trace with one message instead of a
// SIGPIPE that would end this program.
TEST_F(Trace, AFifoIsNeverWaitedForAndItsReaderGoingAwayIsSaid)
{
    std::remove(path_.c_str());
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    std::atomic<bool> done{false};
    std::atomic<int32_t> code{1};
    std::thread initialise([&] {
        code = tqBsePluginControlDll_Initialise(127, 0, 0, 153);
        done = true;
    });
    for (int k = 0; k < 500 && !done; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool returned = done;
    if (!returned) // a blocked open ends once a reader comes
        ::close(::open(path_.c_str(), O_RDONLY | O_NONBLOCK));
    initialise.join();
    ASSERT_TRUE(returned) << "Initialise waited for a reader of the FIFO";
    EXPECT_EQ(code, 0);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("cannot be opened (a FIFO that no program reads); no trace is written"));
    EXPECT_FALSE(trace::enabled());

    const int reader = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    tqBsePluginControlDll_Shutdown();
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 153), 0);
    EXPECT_TRUE(trace::enabled());
    char got[4096] = {};
    const ssize_t n = ::read(reader, got, sizeof got - 1);
    EXPECT_GT(n, 0);
    EXPECT_THAT(std::string(got), testing::StartsWith("{\"t\":"));
    ::close(reader);
    testing::internal::CaptureStderr();
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::MatchesRegex(".*failed \\(Broken pipe\\); no further lines are written to it\n"));
    std::remove(path_.c_str());
}
#endif

} // namespace
