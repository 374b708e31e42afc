// The platform layer's portable contract against real sockets, on every
// system (natively, and under Wine in the Windows build): start-up
// counting, the wake event, a restarted listener's port, partial sends and
// the calls that never block. Every socket is on loopback, every wait is
// bounded.
#include "platform/host.h"
#include "support/join_within.h"
#include "support/sockets.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace tqbse::platform;
using tqbse::test::joinWithin;
using tqbse::test::kSocketTimeoutMs;

// A second bind to a live listener's port fails with "address in use"
// (Wine, emulating the Linux rules, says WSAEACCES instead).
#ifdef _WIN32
bool addressInUse(int error) { return error == tqbse::test::kAddressInUseError || error == 10013; }
#else
bool addressInUse(int error) { return error == tqbse::test::kAddressInUseError; }
#endif

// One socket-library start-up for a test, and a listening socket on
// 127.0.0.1 (port 0: any) bound with the listener's address option, or the
// error number of the step that failed.
struct Listening {
    bool started = socketLibraryStartup() == 0;
    SocketHandle s = openTcpSocket();
    Endpoint bound{};
    int error = 0;
    explicit Listening(uint16_t port = 0)
    {
        setListenerAddressOption(s);
        error = bindSocket(s, {kLoopbackAddress, port});
        error = error != 0 ? error : listenSocket(s, 4);
        error = error != 0 ? error : localEndpoint(s, &bound);
    }
    ~Listening()
    {
        closeSocket(s);
        socketLibraryCleanup();
    }
};

// A connected pair on loopback: the client and the peer accepted for it.
struct Pair : Listening {
    SocketHandle client = openTcpSocket();
    SocketHandle served = kInvalidSocket;
    Pair()
    {
        EXPECT_EQ(connectWithTimeout(client, bound, kSocketTimeoutMs), 0);
        served = acceptPeer(s, nullptr);
        setTimeouts(client, kSocketTimeoutMs);
        setTimeouts(served, kSocketTimeoutMs);
    }
    ~Pair()
    {
        closeSocket(client);
        closeSocket(served);
    }
};

TEST(PlatformSocketLibrary, StartupsAndCleanupsAreCountedAndAnUnmatchedCleanupDoesNothing)
{
    ASSERT_EQ(socketLibraryUsers(), 0) << "a start-up of another test was left";
    ASSERT_EQ(socketLibraryStartup(), 0);
    ASSERT_EQ(socketLibraryStartup(), 0);
    for (int users = 2; users >= 0; --users) { // the last clean-up has no start-up left to match
        EXPECT_EQ(socketLibraryUsers(), users);
        EXPECT_EQ(socketLibraryCleanup(), 0);
    }
    EXPECT_EQ(socketLibraryUsers(), 0);
}

// The listener waits on its listening socket and on its peers' sockets the
// same way; a listening socket with no peer pending is a silent one.
TEST(PlatformWakeEvent, EndsAWaitOnASilentSocketAndStaysSignalled)
{
    Listening listening;
    ASSERT_EQ(listening.error, 0);
    WakeEvent event;
    ASSERT_EQ(openWakeEvent(&event), 0);
    std::atomic<bool> done{false};
    bool ready = true;
    std::thread waiter([&] {
        ready = waitForSocketOrWake(listening.s, Interest::Read, event);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done) << "returned before anything happened";
    signalWakeEvent(event);
    ASSERT_TRUE(joinWithin(waiter, done, listening.bound)) << "the signal did not end the wait";
    EXPECT_FALSE(ready);
    // Signalled once, signalled for good, even with a peer pending.
    const SocketHandle client = openTcpSocket();
    ASSERT_EQ(connectWithTimeout(client, listening.bound, kSocketTimeoutMs), 0);
    EXPECT_FALSE(waitForSocketOrWake(listening.s, Interest::Read, event));
    EXPECT_FALSE(waitForSocketOrWake(listening.s, Interest::Write, event));
    closeWakeEvent(&event);
    closeWakeEvent(&event); // a second close must leave the test's start-up alone
    EXPECT_EQ(closeSocket(client), 0) << "the socket library was taken down";
}

// The wait of a thread that serves several connections: only the sockets
// ready for what they wait for are flagged, a socket with nothing to wait
// for and kInvalidSocket are skipped, the time limit ends a quiet wait, and
// the wake event wins over ready sockets.
TEST(PlatformWakeEvent, AWaitOnSeveralSocketsFlagsTheReadyOnesAndTheEventWins)
{
    Pair first;
    Pair second;
    WakeEvent event;
    ASSERT_EQ(openWakeEvent(&event), 0);
    SocketWait waits[4] = {{first.served, true, false, true},
                           {second.served, true, false, true},
                           {kInvalidSocket, true, true, true},
                           {second.client, false, false, true}};
    EXPECT_EQ(waitForSocketsOrWake(waits, 4, event, 50), WaitEnd::TimedOut);
    ASSERT_EQ(sendAll(second.client, "x", 1), 0);
    ASSERT_EQ(waitForSocketsOrWake(waits, 4, event, kSocketTimeoutMs), WaitEnd::Ready);
    EXPECT_FALSE(waits[0].ready);
    EXPECT_TRUE(waits[1].ready);
    EXPECT_FALSE(waits[2].ready);
    EXPECT_FALSE(waits[3].ready) << "a socket waiting for nothing was flagged";
    waits[0].write = true; // a connection with room for a send
    ASSERT_EQ(waitForSocketsOrWake(waits, 4, event, kSocketTimeoutMs), WaitEnd::Ready);
    EXPECT_TRUE(waits[0].ready);
    signalWakeEvent(event);
    EXPECT_EQ(waitForSocketsOrWake(waits, 4, event, kSocketTimeoutMs), WaitEnd::Interrupted);
    closeWakeEvent(&event);
}

TEST(PlatformListenerAddress, RestartedListenerGetsItsPortBackWhileALiveOneKeepsOthersOut)
{
    uint16_t port = 0;
    {
        Pair first;
        port = first.bound.port;
        EXPECT_TRUE(addressInUse(Listening(port).error)) << "a second listener bound beside a live one";
        // Closed from the listener's side first, the connection lingers
        // (TIME_WAIT) on the listener's port.
        ASSERT_EQ(sendAll(first.served, "bye", 3), 0);
        closeSocket(first.served);
        first.served = kInvalidSocket;
        char text[8];
        for (int i = 0; i < 10 && receiveSome(first.client, text, sizeof text) > 0; ++i) {
        }
    }
    EXPECT_EQ(Listening(port).error, 0) << "a restarted listener did not get its port back";
}

TEST(PlatformNonBlocking, ReceiveNowTakesWhatWaitsAndWaitWritableSeesAFullWindow)
{
    Pair p;
    char buffer[16];
    EXPECT_EQ(receiveNow(p.client, buffer, sizeof buffer), -1) << "nothing was sent";
    EXPECT_EQ(classifyError(lastError()), ErrorClass::WouldBlock);
    ASSERT_EQ(sendAll(p.served, "abc", 3), 0);
    ASSERT_TRUE(waitReadable(p.client, kSocketTimeoutMs));
    ASSERT_EQ(receiveNow(p.client, buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");

    EXPECT_TRUE(waitWritable(p.client, 0)) << "an empty window takes bytes";
    const std::vector<char> chunk(64 * 1024, 'x');
    int64_t n = 0;
    for (int i = 0; i < 4096 && n >= 0; ++i) // at most 256 MiB, until the window is full
        n = sendNow(p.client, chunk.data(), chunk.size());
    ASSERT_EQ(classifyError(lastError()), ErrorClass::WouldBlock) << "the window never filled";
    EXPECT_FALSE(waitWritable(p.client, 100)) << "nobody reads: the window stays full";

    shutdownSend(p.served);
    ASSERT_TRUE(waitReadable(p.client, kSocketTimeoutMs));
    EXPECT_EQ(receiveNow(p.client, buffer, sizeof buffer), 0) << "the end of the stream is not 'nothing yet'";
}

// The wait sendAllNonBlocking calls on a full window: counts its calls and
// gives up at once, or waits until the socket takes bytes.
struct Waits {
    SocketHandle socket;
    bool keepWaiting = true;
    int count = 0;
    static bool wait(void* context)
    {
        auto* w = static_cast<Waits*>(context);
        return ++w->count > 0 && w->keepWaiting && waitWritable(w->socket, kSocketTimeoutMs);
    }
};

TEST(PlatformPartialSends, SendAllNonBlockingWaitsOnAFullWindowAndDeliversEveryByteInOrder)
{
    Pair p;
    std::vector<char> data(8u << 20), received;
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 4093);
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the window fill first
        std::vector<char> chunk(256 * 1024);
        int64_t n = 1;
        for (int i = 0; i < 100000 && received.size() < data.size() && n > 0; ++i) {
            n = receiveSome(p.client, chunk.data(), chunk.size());
            received.insert(received.end(), chunk.data(), chunk.data() + std::max<int64_t>(n, 0));
        }
    });
    Waits waits{p.served};
    EXPECT_EQ(sendAllNonBlocking(p.served, data.data(), data.size(), Waits::wait, &waits), SendOutcome::Sent);
    reader.join();
    EXPECT_GT(waits.count, 0) << "8 MiB went out without the window ever being full";
    EXPECT_TRUE(received == data) << received.size() << " of " << data.size() << " bytes, or not in order";

    // Nobody reads now: once the window is full, a wait that gives up ends the send.
    Waits giveUp{p.served, false};
    EXPECT_EQ(sendAllNonBlocking(p.served, data.data(), data.size(), Waits::wait, &giveUp), SendOutcome::WaitEnded);
    EXPECT_EQ(giveUp.count, 1);
}

} // namespace
