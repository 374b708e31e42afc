// Load on the callback port, on the real listener that Initialise starts
// against a fake server on 127.0.0.31: a thousand peers one after another,
// sixteen at once, silent peers, a peer that sends 1 MiB; the client
// connection keeps working throughout, and the listener restarts afterwards.
// Peers connect to 127.0.0.1; every socket has timeouts, every loop a bound.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "listener/listener.h"
#include "support/fake_server.h"
#include "support/peer.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::hardening {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPeerTimeoutMs = 20000;
const std::string kMinus8 = "=(n=f8ffffff)";

// One peer: connect (retrying while a listener restarts), send one
// message, read the answer, close.
std::string oneExchange(const std::string& name)
{
    const test::Peer peer(kPeerTimeoutMs, kPeerTimeoutMs);
    if (!peer.connected())
        return "connect failed";
    return peer.exchange(name + "=(n=01000000)");
}

// Waits (bounded) until the listener that Initialise started is up.
bool waitForListener()
{
    for (int i = 0; i < 250; ++i) {
        if (listener::listenerState() == listener::ListenerState::Listening)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::size_t count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

class CallbackLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.31";
        server_.setResponder([](const std::string& request) -> test::ScriptedReply {
            const std::string ok = test::FakeServer::okReply(request);
            return request.find("RX_CentreFrequency_Get=") != std::string::npos ? ok + "(d=0000000065cdcd41)" : ok;
        });
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 31), 0);
        ASSERT_TRUE(waitForListener()) << "no listener on port " << listenerPort();
        ASSERT_EQ(oneExchange("Warmup"), "Warmup" + kMinus8);
    }
    void TearDown() override { tqBsePluginControlDll_Shutdown(); }

    // A remote call on the client connection, with its value.
    static bool clientWorks()
    {
        double f = 0;
        return tqBsePluginControlDll_RX_CentreFrequency_Get(0, &f) == 0 && f == 1e9;
    }

    test::FakeServer server_{"127.0.0.31"};
};

TEST_F(CallbackLoad, ThousandPeersOneAfterAnotherAreEachAnswered)
{
    int served = 0, clientCalls = 0;
    const auto start = Clock::now();
    for (int i = 0; i < 1000 && Clock::now() - start < 120s; ++i) {
        const std::string name = "Peer" + std::to_string(i);
        const std::string reply = oneExchange(name);
        ASSERT_EQ(reply, name + kMinus8) << "peer " << i;
        ++served;
        if (i % 50 == 0) {
            ASSERT_TRUE(clientWorks()) << "after peer " << i;
            ++clientCalls;
        }
    }
    EXPECT_EQ(served, 1000);
    std::printf("served %d peers one after another in %lld ms, %d client calls between them\n", served,
                (long long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
                clientCalls);
}

TEST_F(CallbackLoad, SixteenPeersAtOnceAreAllAnswered)
{
    for (int round = 0; round < 3; ++round) {
        std::vector<std::string> replies(16);
        std::vector<std::thread> peers;
        for (int i = 0; i < 16; ++i)
            peers.emplace_back([&replies, i, round] {
                replies[i] = oneExchange("R" + std::to_string(round) + "P" + std::to_string(i));
            });
        // The client connection is independent of the listener.
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE(clientWorks());
        }
        for (std::thread& t : peers)
            t.join();
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(replies[i], "R" + std::to_string(round) + "P" + std::to_string(i) + kMinus8);
        }
    }
}

TEST_F(CallbackLoad, PeersWaitingBehindSilentPeersAreServedOnceTheyLeave)
{
    // Three peers connect and say nothing; behind them one that talks.
    std::vector<std::unique_ptr<test::Peer>> silent;
    for (int i = 0; i < 3; ++i) {
        silent.push_back(std::make_unique<test::Peer>(kPeerTimeoutMs, kPeerTimeoutMs));
        ASSERT_TRUE(silent.back()->connected());
    }
    test::Peer talker(kPeerTimeoutMs, kPeerTimeoutMs);
    ASSERT_TRUE(talker.connected());
    ASSERT_TRUE(talker.send("Talker=(n=00000000)"));
    // Meanwhile the client connection works as ever.
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(clientWorks());
    }
    std::this_thread::sleep_for(100ms);
    silent.clear();
    EXPECT_EQ(talker.receiveReply(), "Talker=(n=f8ffffff)");
    talker.close(); // peers are served one at a time
    EXPECT_EQ(oneExchange("After"), "After" + kMinus8);
}

TEST_F(CallbackLoad, PeerSendingOneMiBGetsEveryPieceAnswered)
{
    // Without "=" in it, every received piece is a message whose name is the
    // whole piece, so the answers are the data itself, each piece followed
    // by "=(n=f8ffffff)": taking those out must give back the 1 MiB.
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char('A' + i % 23);
    test::Peer peer(kPeerTimeoutMs, kPeerTimeoutMs);
    ASSERT_TRUE(peer.connected());
    const platform::SocketHandle s = peer.handle();

    // Sends without blocking while the answers are read, so that neither
    // side's window can fill up and stall the other.
    std::string answers;
    std::size_t sent = 0;
    const auto deadline = Clock::now() + 60s;
    auto echoed = [&] { return answers.size() - count(answers, kMinus8) * kMinus8.size(); };
    char buffer[65536];
    int rounds = 0;
    while (Clock::now() < deadline && (sent < data.size() || echoed() < data.size())) {
        if (sent < data.size()) {
            const int64_t n = platform::sendNow(s, data.data() + sent, data.size() - sent);
            if (n > 0)
                sent += std::size_t(n);
            else if (platform::classifyError(platform::lastError()) != platform::ErrorClass::WouldBlock)
                break;
        }
        if (platform::waitReadable(s, sent < data.size() ? 1 : 50)) {
            const int64_t n = platform::receiveSome(s, buffer, sizeof buffer);
            if (n <= 0)
                break;
            answers.append(buffer, std::size_t(n));
        }
        if (++rounds % 64 == 0) {
            EXPECT_TRUE(clientWorks());
        }
    }
    peer.close();
    ASSERT_EQ(sent, data.size());
    std::string back;
    for (std::size_t at = 0; at < answers.size();) {
        const std::size_t next = answers.find(kMinus8, at);
        back.append(answers, at, (next == std::string::npos ? answers.size() : next) - at);
        at = next == std::string::npos ? answers.size() : next + kMinus8.size();
    }
    EXPECT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data) << "the answers do not carry the data back in order";
    // Every piece is at most one receive of 4096 bytes.
    const std::size_t pieces = count(answers, kMinus8);
    EXPECT_GE(pieces, data.size() / 4096);
    EXPECT_TRUE(clientWorks());
    EXPECT_EQ(oneExchange("AfterBulk"), "AfterBulk" + kMinus8);
    std::printf("1 MiB peer: %zu pieces answered\n", pieces);
}

TEST_F(CallbackLoad, ListenerRestartsAfterLoad)
{
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(oneExchange("Before" + std::to_string(i)), "Before" + std::to_string(i) + kMinus8);
    }
    // A peer still connected when the listener is restarted.
    test::Peer lingering(kPeerTimeoutMs, kPeerTimeoutMs);
    ASSERT_TRUE(lingering.connected());
    for (int restart = 0; restart < 5; ++restart) {
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 31), 0);
        ASSERT_TRUE(waitForListener()) << "restart " << restart;
        EXPECT_TRUE(clientWorks());
        EXPECT_EQ(oneExchange("Restart" + std::to_string(restart)), "Restart" + std::to_string(restart) + kMinus8);
    }
    lingering.close();
    // Shutdown keeps the listener; the next Initialise replaces it.
    tqBsePluginControlDll_Shutdown();
    EXPECT_EQ(oneExchange("AfterShutdown"), "AfterShutdown" + kMinus8);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 31), 0);
    EXPECT_EQ(oneExchange("Again"), "Again" + kMinus8);
}

} // namespace
} // namespace tqbse::hardening
