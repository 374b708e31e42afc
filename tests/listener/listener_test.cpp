// The callback listener over loopback: the default answer, messages cut at
// 4096 bytes and at a zero byte, peers one at a time with the termination
// message after each, a handler that throws, large replies and peers that
// leave or stop reading, stopping and restarting on the same port; then the
// listener as Initialise and Shutdown drive it, against a fake server on
// 127.0.0.5.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
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

// Runs `work`; one still running after 10 s ends the process with a failure
// rather than leaving CI waiting. A finished worker is joined: a thread left
// to end on its own could still be running while the process exits.
void runBounded(const char* what, const std::function<void()>& work)
{
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread worker([&] {
        work();
        done.set_value();
    });
    if (finished.wait_for(10s) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not finish within 10 s\n", what);
        std::_Exit(1);
    }
    worker.join();
}

class Listener : public testing::Test {
protected:
    void SetUp() override
    {
        listener::stopListener();
        // startListener returns once its thread listens: no waiting here.
        ASSERT_EQ(listener::startListener(), 0);
        ASSERT_EQ(listener::listenerState(), ListenerState::Listening) << "no listener on port " << listenerPort();
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        listener::setMessageHandler(listener::defaultMessageHandler);
        runBounded("stopListener", [] { listener::stopListener(); });
    }
};

// Each reply is read by its exact size, so that a message cut in the wrong
// place shows as a wrong or a missing reply.
TEST_F(Listener, DefaultHandlerAnswersTheNameBeforeTheFirstZeroByteWithMinus8InPiecesOf4096)
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
        {longName + "tail", longName + "=(n=f8ffffff)tail=(n=f8ffffff)"}, // two messages
    };
    testing::internal::CaptureStdout();
    Peer peer;
    for (const auto& c : cases)
        EXPECT_EQ(peer.exchange(c.message, c.reply.size()), c.reply) << "message: " << c.message.substr(0, 40);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Accepted client: 127.0.0.1:" + std::to_string(peer.localPort()) + "\n");
}

TEST_F(Listener, PeersTakeTurnsAThrowingHandlerAnswersNothingAndTheHandlerHearsEachEnd)
{
    struct Heard {
        std::mutex mutex;
        std::vector<std::string> messages;
    };
    const auto heard = std::make_shared<Heard>();
    listener::setMessageHandler([heard](std::string_view m, uint32_t) -> std::string {
        if (m.starts_with("bad"))
            throw std::runtime_error("handler failed");
        const std::lock_guard lock(heard->mutex);
        heard->messages.emplace_back(m);
        return "ack:" + std::string(m);
    });
    Peer first;
    ASSERT_TRUE(first.send("bad=()"));
    EXPECT_TRUE(first.silentFor(200));
    EXPECT_EQ(first.exchange("first=()"), "ack:first=()");
    Peer second; // waits in the backlog while the first is served
    ASSERT_TRUE(second.send("second=()"));
    EXPECT_TRUE(second.silentFor(200));
    first.close();
    EXPECT_EQ(second.receive(), "ack:second=()");
    second.close();
    Peer third; // served only after the second's end has reached the handler
    EXPECT_EQ(third.exchange("third=()"), "ack:third=()");
    const std::vector<std::string> expected = {"first=()", "__CLIENT_REMOTE_TERMINATED__=()", "second=()",
                                               "__CLIENT_REMOTE_TERMINATED__=()", "third=()"};
    const std::lock_guard lock(heard->mutex);
    EXPECT_EQ(heard->messages, expected);
}

TEST_F(Listener, LargeReplyArrivesWholeAPeerLeavingEndsOnlyItsConnectionAndOneNotReadingDoesNotHoldUpStop)
{
    auto big = std::make_shared<std::string>(32 << 20, '\0'); // more than the socket buffers take at once
    for (std::size_t i = 0; i < big->size(); ++i)
        (*big)[i] = char('A' + (i * 7 + i / 4099) % 26);
    listener::setMessageHandler([big](std::string_view m, uint32_t) { return m == "big=()" ? *big : "ok:" + std::string(m); });
    testing::internal::CaptureStdout();
    {
        Peer reader;
        ASSERT_TRUE(reader.send("big=()"));
        const std::string got = reader.receive(big->size());
        EXPECT_TRUE(got == *big) << got.size() << " bytes";
        Peer leaving; // waits until the reader has gone
        reader.close();
        ASSERT_TRUE(leaving.send("big=()"));
        ASSERT_EQ(leaving.receive(1000).size(), 1000u);
    } // leaves with most of the reply unread: a reset
    {
        Peer next;
        EXPECT_EQ(next.exchange("next=()"), "ok:next=()");
    }
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("send() failed: "));
    Peer stuck; // asks for the large reply and stops reading it
    ASSERT_TRUE(stuck.send("big=()"));
    ASSERT_EQ(stuck.receive(1000).size(), 1000u);
    runBounded("stopListener with a peer that does not read", [] { EXPECT_EQ(listener::stopListener(), 0); });
}

// Odd rounds stop while the peer is idle: the stop must wake it, and it
// leaves the listener's side of the connection in TIME_WAIT, so without the
// listener's address option the next start could not bind the port. Each
// start replaces the handler found with the default one.
TEST_F(Listener, RestartGetsThePortBackWakesAnIdlePeerAndRestoresTheDefaultHandler)
{
    EXPECT_EQ(listener::stopListener(), 0);
    EXPECT_EQ(listener::stopListener(), -1);
    const int libraryUsers = platform::socketLibraryUsers();
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        listener::setMessageHandler([](std::string_view, uint32_t) { return std::string("mine=()"); });
        ASSERT_EQ(listener::startListener(), 0);
        ASSERT_EQ(listener::listenerState(), ListenerState::Listening);
        Peer peer; // connects at once: never refused
        EXPECT_EQ(peer.exchange("r=()"), "r=(n=f8ffffff)");
        if (round % 2 == 0)
            peer.close();
        runBounded("stopListener", [] { EXPECT_EQ(listener::stopListener(), 0); });
        EXPECT_TRUE(round % 2 == 0 || peer.closedByListener()) << "the stop did not end the idle peer's connection";
    }
    EXPECT_EQ(platform::socketLibraryUsers(), libraryUsers);
}

// For the thread sanitizer: the handler slot is swapped while messages flow.
TEST_F(Listener, HandlerCanBeReplacedWhileMessagesFlow)
{
    const listener::MessageHandler other = [](std::string_view, uint32_t) { return std::string("m=(n=01000000)"); };
    Peer peer;
    std::vector<std::string> replies;
    std::thread talker([&] {
        for (int i = 0; i < 200; ++i)
            replies.push_back(peer.exchange("m=()"));
    });
    for (int i = 0; i < 400; ++i) {
        if (i % 2)
            listener::setMessageHandler(listener::defaultMessageHandler);
        else
            listener::setMessageHandler(other);
        std::this_thread::sleep_for(200us);
    }
    talker.join();
    for (const std::string& r : replies)
        EXPECT_TRUE(r == "m=(n=01000000)" || r == "m=(n=f8ffffff)") << r;
}

// As Initialise and Shutdown drive it, against a fake server on 127.0.0.5:
// a port already taken ends the listener and the exports go on; Shutdown
// leaves it running, the next Initialise keeps it (and its peer) with the
// default handler, and an Initialise while connected restarts it.
TEST_F(Listener, InitialiseStartsAndRestartsItAndShutdownLeavesItRunning)
{
    const FakeServer server("127.0.0.5");
    ASSERT_TRUE(server.isListening()) << "cannot listen on 127.0.0.5";
    listener::stopListener();
    const platform::SocketHandle holder = boundSocket("0.0.0.0", 0, true);
    ASSERT_NE(holder, platform::kInvalidSocket);
    platform::Endpoint held{};
    ASSERT_EQ(platform::localEndpoint(holder, &held), 0);
    setPortsForTesting(0, held.port);
    testing::internal::CaptureStdout();
    const int32_t initialised = tqBsePluginControlDll_Initialise(127, 0, 0, 5);
    const ListenerState afterFailedBind = listener::listenerState(); // settled when Initialise returns
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "bind() failed: " + std::to_string(kAddressInUseError) + " (callback port " + std::to_string(held.port)
                  + ": " + platform::socketErrorText(kAddressInUseError) + ")\n");
    EXPECT_EQ(initialised, 0);
    EXPECT_EQ(afterFailedBind, ListenerState::Ended);
    EXPECT_EQ(tqBsePluginControlDll_RemoteConnection_Set(-1), 0);
    platform::closeSocket(holder);

    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0); // replaces the listener that ended
    ASSERT_EQ(listener::listenerState(), ListenerState::Listening);
    Peer kept;
    listener::setMessageHandler([](std::string_view, uint32_t) { return std::string("mine=()"); });
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    EXPECT_EQ(kept.exchange("afterShutdown=()"), "mine=()");
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    EXPECT_EQ(kept.exchange("afterInitialise=()"), "afterInitialise=(n=f8ffffff)");
    runBounded("Initialise while connected", [] { EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0); });
    EXPECT_TRUE(kept.closedByListener());
    ASSERT_EQ(listener::listenerState(), ListenerState::Listening);
    Peer next;
    EXPECT_EQ(next.exchange("next=()"), "next=(n=f8ffffff)");
}

} // namespace
} // namespace tqbse::test
