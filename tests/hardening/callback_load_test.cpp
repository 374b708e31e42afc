// Load on the callback port 6009, on the real listener that Initialise starts
// against a fake server on 127.0.0.31: a thousand peers one after another,
// sixteen at once, silent peers, a peer that sends 1 MiB; the client
// connection keeps working throughout, and the listener restarts afterwards.
// Peers connect to 127.0.0.1; every socket has timeouts, every loop a bound.
#include <gtest/gtest.h>

#include <QByteArray>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/codec.h"
#include "support/fake_server.h"
#include "support/peer.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::hardening {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPeerTimeoutMs = 20000;
const QByteArray kMinus8 = "=(n=f8ffffff)";

// One peer: connect (retrying while a listener restarts), send one
// message, read the answer, close.
QByteArray oneExchange(const QByteArray& name)
{
    const test::Peer peer(kPeerTimeoutMs, kPeerTimeoutMs);
    if (!peer.connected())
        return "connect failed";
    return QByteArray::fromStdString(peer.exchange((name + "=(n=01000000)").toStdString()));
}

// True when a socket of this process listens on port 6009 (and not another
// process's listener that would answer in its place). Reads /proc.
bool ownListenerOnPort()
{
    std::vector<std::string> inodes;
    if (FILE* tcp = std::fopen("/proc/net/tcp", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, tcp)) {
            unsigned port = 0, state = 0;
            char inode[32] = {};
            if (std::sscanf(line, " %*d: %*x:%x %*x:%*x %x %*s %*s %*s %*s %*s %31s", &port, &state, inode) == 3
                && port == 6009 && state == 0x0a)
                inodes.push_back(std::string("socket:[") + inode + "]");
        }
        std::fclose(tcp);
    }
    for (int fd = 0; fd < 4096; ++fd) {
        char link[64] = {};
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n > 0 && std::find(inodes.begin(), inodes.end(), std::string(link, std::size_t(n))) != inodes.end())
            return true;
    }
    return false;
}

// Waits (bounded) until the listener this process started is up.
bool waitForOwnListener()
{
    for (int i = 0; i < 250; ++i) {
        if (ownListenerOnPort())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class CallbackLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.31:6002";
        server_.setResponder([](const QByteArray& request) -> test::Reply {
            const QByteArray ok = test::FakeServer::okReply(request);
            return request.contains("RX_CentreFrequency_Get=") ? ok + "(d=0000000065cdcd41)" : ok;
        });
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 31), 0);
        ASSERT_TRUE(waitForOwnListener())
            << "port 6009 is held by another process (ss -ltnp | grep 6009); rerun when it is free";
        // The first peer also waits for the listener thread to be up.
        ASSERT_EQ(oneExchange("Warmup"), "Warmup" + kMinus8)
            << "port 6009 unanswered: is another process holding it? (ss -ltnp | grep 6009)";
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
        const QByteArray name = "Peer" + QByteArray::number(i);
        const QByteArray reply = oneExchange(name);
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
        std::vector<QByteArray> replies(16);
        std::vector<std::thread> peers;
        for (int i = 0; i < 16; ++i)
            peers.emplace_back([&replies, i, round] {
                replies[i] = oneExchange("R" + QByteArray::number(round) + "P" + QByteArray::number(i));
            });
        // The client connection is independent of the listener.
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE(clientWorks());
        }
        for (std::thread& t : peers)
            t.join();
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(replies[i], "R" + QByteArray::number(round) + "P" + QByteArray::number(i) + kMinus8);
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
    QByteArray data(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char('A' + i % 23);
    test::Peer peer(kPeerTimeoutMs, kPeerTimeoutMs);
    ASSERT_TRUE(peer.connected());
    const int fd = peer.fd();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    QByteArray answers;
    qsizetype sent = 0;
    const auto deadline = Clock::now() + 60s;
    auto echoed = [&] { return answers.size() - answers.count(kMinus8) * kMinus8.size(); };
    char buffer[65536];
    int rounds = 0;
    while (Clock::now() < deadline && (sent < data.size() || echoed() < data.size())) {
        pollfd p{fd, short(POLLIN | (sent < data.size() ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        if ((p.revents & POLLOUT) && sent < data.size()) {
            const ssize_t n = ::send(fd, data.constData() + sent, std::size_t(data.size() - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN))
                break;
            if (n > 0)
                answers.append(buffer, n);
        }
        if (++rounds % 64 == 0) {
            EXPECT_TRUE(clientWorks());
        }
    }
    peer.close();
    ASSERT_EQ(sent, data.size());
    QByteArray back = answers;
    back.replace(kMinus8, "");
    EXPECT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data) << "the answers do not carry the data back in order";
    // Every piece is at most one receive of 4096 bytes.
    const qsizetype pieces = answers.count(kMinus8);
    EXPECT_GE(pieces, data.size() / 4096);
    EXPECT_TRUE(clientWorks());
    EXPECT_EQ(oneExchange("AfterBulk"), "AfterBulk" + kMinus8);
    std::printf("1 MiB peer: %lld pieces answered\n", (long long)pieces);
}

TEST_F(CallbackLoad, ListenerRestartsAfterLoad)
{
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(oneExchange("Before" + QByteArray::number(i)), "Before" + QByteArray::number(i) + kMinus8);
    }
    // A peer still connected when the listener is restarted.
    test::Peer lingering(kPeerTimeoutMs, kPeerTimeoutMs);
    ASSERT_TRUE(lingering.connected());
    for (int restart = 0; restart < 5; ++restart) {
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 31), 0);
        ASSERT_TRUE(waitForOwnListener()) << "restart " << restart;
        EXPECT_TRUE(clientWorks());
        EXPECT_EQ(oneExchange("Restart" + QByteArray::number(restart)),
                  "Restart" + QByteArray::number(restart) + kMinus8);
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
