// The callback listener over loopback: the default answer, messages cut at
// 4096 bytes and at a zero byte, peers one at a time with the termination
// message after each, a handler that throws, large replies and peers that
// leave or stop reading, stopping and restarting on the same port; then the
// listener as Initialise and Shutdown drive it, against a fake server on
// 127.0.0.5.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "listener/listener.h"
#include "support/fake_server.h"
#include "support/peer.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using listener::ListenerState;

bool waitForState(ListenerState state)
{
    for (int i = 0; i < 500 && listener::listenerState() != state; ++i)
        std::this_thread::sleep_for(10ms);
    return listener::listenerState() == state;
}

// Runs `work`; one still running after 10 s ends the process with a failure
// rather than leaving CI waiting.
void runBounded(const char* what, std::function<void()> work)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done, work = std::move(work)] {
        work();
        done->set_value();
    }).detach();
    if (finished.wait_for(10s) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not finish within 10 s\n", what);
        std::_Exit(1);
    }
}

// A handler that records every message and answers through `reply`.
class Recorder {
public:
    using Answer = std::function<std::string(const std::string&)>;
    listener::MessageHandler handler(Answer reply = {})
    {
        auto self = shared_;
        return [self, reply](std::string_view message) {
            {
                const std::lock_guard lock(self->mutex);
                self->messages.emplace_back(message);
            }
            self->changed.notify_all();
            return reply ? reply(std::string(message)) : std::string();
        };
    }
    std::vector<std::string> messages() const
    {
        const std::lock_guard lock(shared_->mutex);
        return shared_->messages;
    }
    bool waitForCount(std::size_t count) const
    {
        std::unique_lock lock(shared_->mutex);
        return shared_->changed.wait_for(lock, 5s, [&] { return shared_->messages.size() >= count; });
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::string> messages;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// Answers "big=()" with `size` bytes and anything else with "ok:" + message.
Recorder::Answer bigOr(std::size_t size)
{
    auto big = std::make_shared<std::string>(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        (*big)[i] = char('A' + (i * 7 + i / 4099) % 26);
    return [big](const std::string& m) { return m == "big=()" ? *big : "ok:" + m; };
}

class Listener : public testing::Test {
protected:
    void SetUp() override
    {
        listener::stopListener();
        ASSERT_EQ(listener::startListener(), 0);
        ASSERT_TRUE(waitForState(ListenerState::Listening)) << "no listener on port " << listenerPort();
    }
    void TearDown() override
    {
        listener::setMessageHandler(listener::defaultMessageHandler);
        runBounded("stopListener", [] { listener::stopListener(); });
    }
};

TEST_F(Listener, DefaultHandlerAnswersTheNameBeforeTheFirstZeroByteWithMinus8)
{
    const std::string longName(4096, 'A'); // one whole receive
    const struct {
        std::string message, reply;
    } cases[] = {
        {"tqBsePluginControlDll_RX_CentreFrequency_Set=(n=00000000)(d=0000000065cdcd41)",
         "tqBsePluginControlDll_RX_CentreFrequency_Set=(n=f8ffffff)"},
        {"=", "=(n=f8ffffff)"},
        {"no_equals_sign", "no_equals_sign=(n=f8ffffff)"},
        {"a=b=c", "a=(n=f8ffffff)"},
        {"cut\0after=(n=01000000)"s, "cut=(n=f8ffffff)"},
        {"\0leading zero"s, "=(n=f8ffffff)"},
        {longName, longName + "=(n=f8ffffff)"},
    };
    testing::internal::CaptureStdout();
    Peer peer;
    ASSERT_TRUE(peer.connected());
    for (const auto& c : cases)
        EXPECT_EQ(peer.exchange(c.message), c.reply) << "message: " << c.message.substr(0, 40);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Accepted client: 127.0.0.1:" + std::to_string(peer.localPort()) + "\n");
}

TEST_F(Listener, MessagesLongerThan4096BytesReachTheHandlerInPiecesOfAtMost4096)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler());
    Peer peer;
    ASSERT_TRUE(peer.connected());
    std::string longer;
    for (int i = 0; i < 10000; ++i)
        longer += char('a' + i % 26);
    ASSERT_TRUE(peer.send(longer));
    std::string joined;
    for (int i = 0; i < 500 && joined.size() < longer.size(); ++i) {
        std::this_thread::sleep_for(10ms);
        joined.clear();
        for (const std::string& m : recorder.messages())
            joined += m;
    }
    EXPECT_EQ(joined, longer);
    EXPECT_GE(recorder.messages().size(), 3u);
    for (const std::string& m : recorder.messages())
        EXPECT_LE(m.size(), 4096u);
}

TEST_F(Listener, PeersAreServedOneAtATimeAndTheHandlerHearsEachEnd)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler([](const std::string& m) { return "ack:" + m; }));
    Peer first;
    ASSERT_TRUE(first.connected());
    EXPECT_EQ(first.exchange("first=()"), "ack:first=()");
    Peer second; // waits in the backlog while the first is served
    ASSERT_TRUE(second.connected());
    ASSERT_TRUE(second.send("second=()"));
    EXPECT_TRUE(second.silentFor(200));
    first.close();
    EXPECT_EQ(second.receiveReply(), "ack:second=()");
    second.close();
    ASSERT_TRUE(recorder.waitForCount(4));
    const std::vector<std::string> expected = {"first=()", listener::kTerminationMessage, "second=()",
                                               listener::kTerminationMessage};
    EXPECT_EQ(recorder.messages(), expected);
}

TEST_F(Listener, HandlerThatThrowsAnswersNothingAndTheListenerGoesOn)
{
    listener::setMessageHandler([](std::string_view m) -> std::string {
        if (m.starts_with("bad"))
            throw std::runtime_error("handler failed");
        return "fine";
    });
    Peer peer;
    ASSERT_TRUE(peer.connected());
    ASSERT_TRUE(peer.send("bad=()"));
    EXPECT_TRUE(peer.silentFor(200));
    ASSERT_TRUE(peer.send("good=()"));
    EXPECT_EQ(peer.receiveExactly(4), "fine");
}

TEST_F(Listener, LargeReplyArrivesWholeAndAPeerLeavingMidReplyEndsOnlyItsOwnConnection)
{
    const Recorder::Answer answer = bigOr(32 << 20); // more than the socket buffers take at once
    listener::setMessageHandler([answer](std::string_view m) { return answer(std::string(m)); });
    testing::internal::CaptureStdout();
    {
        Peer reader;
        ASSERT_TRUE(reader.connected());
        ASSERT_TRUE(reader.send("big=()"));
        const std::string got = reader.receiveExactly(32 << 20);
        EXPECT_TRUE(got == answer("big=()")) << got.size() << " bytes";
        Peer leaving; // waits until the reader has gone
        reader.close();
        ASSERT_TRUE(leaving.connected());
        ASSERT_TRUE(leaving.send("big=()"));
        ASSERT_EQ(leaving.receiveExactly(1000).size(), 1000u);
    } // leaves with most of the reply unread: a reset
    Peer next;
    ASSERT_TRUE(next.connected());
    EXPECT_EQ(next.exchange("next=()"), "ok:next=()");
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("send() failed: "));
}

TEST_F(Listener, StopWakesAnIdlePeerAndAPeerThatDoesNotRead)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler(bigOr(64 << 20)));
    Peer idle;
    ASSERT_TRUE(idle.connected());
    EXPECT_EQ(idle.exchange("idle=()"), "ok:idle=()");
    runBounded("stopListener with an idle peer", [] { EXPECT_EQ(listener::stopListener(), 0); });
    EXPECT_TRUE(idle.closedByListener());
    EXPECT_EQ(listener::listenerState(), ListenerState::None);

    ASSERT_EQ(listener::startListener(), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    listener::setMessageHandler(recorder.handler(bigOr(64 << 20)));
    Peer stuck; // asks for 64 MiB and never reads it
    ASSERT_TRUE(stuck.connected());
    ASSERT_TRUE(stuck.send("big=()"));
    ASSERT_TRUE(recorder.waitForCount(3));
    runBounded("stopListener with a peer that does not read", [] { EXPECT_EQ(listener::stopListener(), 0); });
}

// Each round's served peer leaves the port in TIME_WAIT: without the
// listener's address option the next start could not bind it.
TEST_F(Listener, RestartAfterServingAPeerGetsThePortBack)
{
    EXPECT_EQ(listener::stopListener(), 0);
    EXPECT_EQ(listener::stopListener(), -1);
    const int libraryUsers = platform::socketLibraryUsers();
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(listener::startListener(), 0);
        ASSERT_TRUE(waitForState(ListenerState::Listening));
        Peer peer;
        ASSERT_TRUE(peer.connected());
        EXPECT_EQ(peer.exchange("r=()"), "r=(n=f8ffffff)");
        if (round % 2 == 0)
            peer.close(); // odd rounds stop while the peer is idle
        runBounded("stopListener", [] { EXPECT_EQ(listener::stopListener(), 0); });
    }
    EXPECT_EQ(platform::socketLibraryUsers(), libraryUsers);
}

TEST_F(Listener, StartingAgainKeepsTheConnectionAndRestoresTheDefaultHandler)
{
    listener::setMessageHandler([](std::string_view) { return std::string("mine"); });
    Peer peer;
    ASSERT_TRUE(peer.connected());
    ASSERT_TRUE(peer.send("a=()"));
    EXPECT_EQ(peer.receiveExactly(4), "mine");
    EXPECT_EQ(listener::startListener(), 0);
    EXPECT_EQ(peer.exchange("b=()"), "b=(n=f8ffffff)");
}

// For the thread sanitizer: the handler slot is swapped while messages flow.
TEST_F(Listener, HandlerCanBeReplacedWhileMessagesFlow)
{
    const listener::MessageHandler other = [](std::string_view) { return std::string("m=(n=01000000)"); };
    Peer peer;
    ASSERT_TRUE(peer.connected());
    std::vector<std::string> replies;
    std::thread talker([&] {
        for (int i = 0; i < 200; ++i)
            replies.push_back(peer.exchange("m=()"));
    });
    for (int i = 0; i < 400; ++i) {
        listener::setMessageHandler(i % 2 ? listener::MessageHandler(listener::defaultMessageHandler) : other);
        std::this_thread::sleep_for(200us);
    }
    talker.join();
    for (const std::string& r : replies)
        EXPECT_TRUE(r == "m=(n=f8ffffff)" || r == "m=(n=01000000)") << r;
}

// ---- As Initialise and Shutdown drive it ------------------------------------

class ListenerLifecycle : public testing::Test {
protected:
    void SetUp() override
    {
        listener::stopListener();
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.5";
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        runBounded("stopListener", [] { listener::stopListener(); });
    }
    static void expectAnswering(const std::string& name)
    {
        Peer peer(kSocketTimeoutMs, 2000);
        ASSERT_TRUE(peer.connected());
        EXPECT_EQ(peer.exchange(name + "=()"), name + "=(n=f8ffffff)");
    }
    FakeServer server_{"127.0.0.5"};
};

TEST_F(ListenerLifecycle, InitialiseStartsTheListenerAndASecondOneRestartsIt)
{
    EXPECT_EQ(listener::listenerState(), ListenerState::None);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    Peer served;
    ASSERT_TRUE(served.connected());
    EXPECT_EQ(served.exchange("one=()"), "one=(n=f8ffffff)");
    runBounded("second Initialise", [] { EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0); });
    EXPECT_TRUE(served.closedByListener());
    expectAnswering("two");
}

TEST_F(ListenerLifecycle, ShutdownLeavesTheListenerRunningAndTheNextInitialiseKeepsIt)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    Peer kept;
    ASSERT_TRUE(kept.connected());
    EXPECT_EQ(kept.exchange("before=()"), "before=(n=f8ffffff)");
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    EXPECT_EQ(kept.exchange("afterShutdown=()"), "afterShutdown=(n=f8ffffff)");
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    EXPECT_EQ(kept.exchange("afterInitialise=()"), "afterInitialise=(n=f8ffffff)");
}

TEST_F(ListenerLifecycle, PortTakenPrintsBindFailedAndTheExportsKeepWorking)
{
    const platform::SocketHandle holder = boundSocket("0.0.0.0", 0, true);
    ASSERT_NE(holder, platform::kInvalidSocket);
    platform::Endpoint held{};
    ASSERT_TRUE(platform::localEndpoint(holder, &held));
    setPortsForTesting(0, held.port);
    testing::internal::CaptureStdout();
    const int32_t initialised = tqBsePluginControlDll_Initialise(127, 0, 0, 5);
    const bool ended = waitForState(ListenerState::Ended);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bind() failed: " + std::to_string(kAddressInUseError) + "\n");
    EXPECT_EQ(initialised, 0);
    EXPECT_TRUE(ended);
    EXPECT_EQ(tqBsePluginControlDll_RemoteConnection_Set(-1), 0);
    platform::closeSocket(holder);
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    expectAnswering("free");
}

} // namespace
} // namespace tqbse::test
