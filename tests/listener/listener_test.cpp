// The callback listener over loopback: the default answer, messages cut at
// 4096 bytes and at a zero byte, peers served at once with the termination
// message after each, a handler that throws, large replies and peers that
// leave or stop reading, peers that are quiet, slow or flood it beside one
// that is answered promptly, more peers than its bound, each peer's own
// address and answers, stopping and restarting on the same port; then the
// listener as Initialise and Shutdown drive it, against a fake server on
// 127.0.0.5.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
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

// What a handler was given: each message with the peer's address.
struct Heard {
    std::mutex mutex;
    std::vector<std::string> messages;
    void add(std::string_view message, uint32_t peerAddress)
    {
        const std::lock_guard lock(mutex);
        messages.push_back(std::string(message) + "@" + platform::dottedText(peerAddress));
    }
    std::vector<std::string> taken()
    {
        const std::lock_guard lock(mutex);
        return messages;
    }
};

TEST_F(Listener, PeersAreServedAtOnceAThrowingHandlerAnswersNothingAndTheHandlerHearsEachEnd)
{
    const auto heard = std::make_shared<Heard>();
    listener::setMessageHandler([heard](std::string_view m, uint32_t from) -> std::string {
        if (m.starts_with("bad"))
            throw std::runtime_error("handler failed");
        heard->add(m, from);
        return "ack:" + std::string(m);
    });
    Peer first("127.0.0.2");
    ASSERT_TRUE(first.send("bad=()"));
    EXPECT_TRUE(first.silentFor(200));
    EXPECT_EQ(first.exchange("first=()"), "ack:first=()");
    Peer second("127.0.0.3"); // served while the first is still connected
    EXPECT_EQ(second.exchange("second=()"), "ack:second=()");
    EXPECT_EQ(first.exchange("again=()"), "ack:again=()");
    first.close();
    Peer third("127.0.0.4"); // its message comes after the first's end
    EXPECT_EQ(third.exchange("third=()"), "ack:third=()");
    second.close();
    third.close();
    Peer last; // after the two ends above have reached the handler
    EXPECT_EQ(last.exchange("last=()"), "ack:last=()");
    const std::vector<std::string> expected = {
        "first=()@127.0.0.2",  "second=()@127.0.0.3", "again=()@127.0.0.2",
        "__CLIENT_REMOTE_TERMINATED__=()@127.0.0.2", "third=()@127.0.0.4",
        "__CLIENT_REMOTE_TERMINATED__=()@127.0.0.3", "__CLIENT_REMOTE_TERMINATED__=()@127.0.0.4",
        "last=()@127.0.0.1"};
    EXPECT_EQ(heard->taken(), expected);
}

// Two peers from their own addresses, their messages interleaved: each gets
// its own answers, in order, made from its own address.
TEST_F(Listener, InterleavedPeersGetTheirOwnAnswersInOrderFromTheirOwnAddress)
{
    listener::setMessageHandler([](std::string_view m, uint32_t from) {
        return std::string(m) + "@" + platform::dottedText(from) + ";";
    });
    Peer a("127.0.0.2");
    Peer b("127.0.0.3");
    for (int round = 0; round < 20; ++round) {
        const std::string n = std::to_string(round);
        ASSERT_TRUE(a.send("a" + n + "=()"));
        ASSERT_TRUE(b.send("b" + n + "=()"));
        const std::string fromA = "a" + n + "=()@127.0.0.2;";
        const std::string fromB = "b" + n + "=()@127.0.0.3;";
        EXPECT_EQ(b.receive(fromB.size()), fromB);
        EXPECT_EQ(a.receive(fromA.size()), fromA);
    }
}

// The bound of peers: with kMaxPeers connected, a newcomer closes the one
// idle longest (the first, which never sent anything) and is served; the
// others go on.
TEST_F(Listener, MorePeersThanTheBoundCloseTheIdleLongestAndServeTheNewcomer)
{
    testing::internal::CaptureStdout();
    std::vector<std::unique_ptr<Peer>> peers;
    for (std::size_t i = 0; i < listener::kMaxPeers; ++i)
        peers.push_back(std::make_unique<Peer>());
    for (std::size_t i = 1; i < peers.size(); ++i)
        EXPECT_EQ(peers[i]->exchange("p=()"), "p=(n=f8ffffff)") << i;
    EXPECT_TRUE(peers[0]->silentFor(100)) << "closed before the bound was reached";
    Peer newcomer;
    EXPECT_EQ(newcomer.exchange("new=()"), "new=(n=f8ffffff)");
    EXPECT_TRUE(peers[0]->closedByListener());
    for (std::size_t i = 1; i < peers.size(); ++i)
        EXPECT_EQ(peers[i]->exchange("still=()"), "still=(n=f8ffffff)") << i;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, testing::HasSubstr("Closed client 127.0.0.1:" + std::to_string(peers[0]->localPort())
                                        + ": idle longest of " + std::to_string(listener::kMaxPeers) + "\n"));
}

// A quiet peer, a slow one (a byte every 200 ms) and one that floods the
// listener without reading its answers, all at once: a well-formed message
// from another peer is still answered at once, the slow one gets an answer
// per byte, and the flooding one is closed once its unread answers pass the
// bound.
TEST_F(Listener, AQuietASlowAndAFloodingPeerHoldNoOtherBack)
{
    const auto bulk = std::make_shared<std::string>(256 << 10, 'x');
    listener::setMessageHandler([bulk](std::string_view m, uint32_t) {
        return m.starts_with("flood") ? *bulk : "ok:" + std::string(m);
    });
    testing::internal::CaptureStdout();
    Peer quiet;
    Peer slow;
    Peer flooding;
    const std::string slowText = "slow=()";
    std::thread slowSender([&] {
        for (const char c : slowText) {
            slow.send(std::string(1, c));
            std::this_thread::sleep_for(200ms);
        }
    });
    std::atomic<bool> floodRefused{false};
    std::thread flooder([&] {
        const std::string message = "flood=(" + std::string(4088, 'f') + ")"; // one whole receive
        const auto until = std::chrono::steady_clock::now() + 8s;
        for (int i = 0; i < 4000 && std::chrono::steady_clock::now() < until; ++i)
            if (!flooding.send(message)) {
                floodRefused = true;
                break;
            }
    });
    std::chrono::microseconds slowest{0};
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(100ms);
        Peer caller("127.0.0.2");
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(caller.exchange("ScenarioFinished=(s=A)"), "ok:ScenarioFinished=(s=A)");
        slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - begin));
    }
    slowSender.join();
    flooder.join();
    const std::string out = testing::internal::GetCapturedStdout();
    std::printf("slowest callback answer beside the three peers: %.3f ms (target 100 ms)\n",
                double(slowest.count()) / 1000.0);
    // A peer held back waits for the whole run (seconds); the bound only
    // says it was not. Under Wine every socket call goes through its
    // server, which takes a few hundred milliseconds beside a flood.
#ifdef _WIN32
    constexpr auto kNotHeldBack = 2000ms;
#else
    constexpr auto kNotHeldBack = 500ms;
#endif
    EXPECT_LT(slowest, std::chrono::microseconds(kNotHeldBack)) << "a callback was held back";
    std::string perByte;
    for (const char c : slowText)
        perByte += "ok:" + std::string(1, c);
    EXPECT_EQ(slow.receive(perByte.size()), perByte);
    EXPECT_TRUE(floodRefused.load() || flooding.closedByListener()) << "the flooding peer was never closed";
    EXPECT_THAT(out, testing::HasSubstr(" bytes of answers unread\n"));
    EXPECT_TRUE(quiet.silentFor(10)) << "the quiet peer was closed or answered";
    EXPECT_EQ(quiet.exchange("late=()"), "ok:late=()");
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
        Peer leaving; // served beside the reader
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
        listener::setMessageHandler([](std::string_view) { return std::string("mine=()"); });
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
    listener::setMessageHandler([](std::string_view) { return std::string("mine=()"); });
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
