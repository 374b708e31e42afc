// The Windows platform layer against real Winsock sockets (under Wine in
// CI): the behaviours that differ from POSIX and that the library relies on.
// Connecting, sending, receiving, addresses and threads in general are run
// through this layer by the load test, the example and tqbse.exe.
// Every socket is on loopback (127.0.0.100-127 or ephemeral ports), every
// wait is bounded.
#include "platform/win32/winsock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using namespace tqbse::platform;

constexpr uint32_t kAddress = 0x7f000064; // 127.0.0.100
constexpr int kTimeoutMs = 5000;

// Holds one socket-library start-up for a test.
struct Winsock {
    Winsock() { EXPECT_EQ(socketLibraryStartup(), 0); }
    ~Winsock() { socketLibraryCleanup(); }
};

struct Socket {
    SocketHandle s = kInvalidSocket;
    Socket() = default;
    explicit Socket(SocketHandle h) : s(h) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { reset(); }
    void reset(SocketHandle h = kInvalidSocket)
    {
        if (s != kInvalidSocket)
            closeSocket(s);
        s = h;
    }
};

// A blocking listening socket on `address`, port `port` (0: any), bound
// with the listener's address option.
SocketHandle listenOn(uint32_t address, uint16_t port, Endpoint* bound, int* error = nullptr)
{
    SocketHandle s = openTcpSocket();
    EXPECT_NE(s, kInvalidSocket);
    setListenerAddressOption(s);
    if (bindSocket(s, {address, port}) != 0 || listenSocket(s, 4) != 0) {
        if (error != nullptr)
            *error = lastError();
        closeSocket(s);
        return kInvalidSocket;
    }
    EXPECT_TRUE(localEndpoint(s, bound));
    return s;
}

// A connected pair on loopback: client and accepted server side.
void connectedPair(Socket& client, Socket& server)
{
    Endpoint bound{};
    Socket listening(listenOn(kAddress, 0, &bound));
    ASSERT_NE(listening.s, kInvalidSocket);
    client.reset(openTcpSocket());
    ASSERT_EQ(connectWithTimeout(client.s, bound, kTimeoutMs), 0) << lastError();
    ASSERT_TRUE(waitReadable(listening.s, kTimeoutMs));
    Endpoint peer{};
    server.reset(acceptPeer(listening.s, &peer));
    ASSERT_NE(server.s, kInvalidSocket) << lastError();
    EXPECT_EQ(peer.address >> 24, 127u); // a loopback peer
    EXPECT_NE(peer.port, 0);
    setTimeouts(client.s, kTimeoutMs);
    setTimeouts(server.s, kTimeoutMs);
}

TEST(WindowsSocketLibrary, StartupAndCleanupAreCountedAndLeaveTheHostsOwnStartupAlone)
{
    // The host program's own start-up, which the library must not undo.
    WSADATA data{};
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    const int before = socketLibraryUsers();
    ASSERT_EQ(socketLibraryStartup(), 0);
    ASSERT_EQ(socketLibraryStartup(), 0);
    EXPECT_EQ(socketLibraryUsers(), before + 2);
    EXPECT_EQ(socketLibraryCleanup(), 0);
    EXPECT_EQ(socketLibraryCleanup(), 0);
    EXPECT_EQ(socketLibraryUsers(), before);
    // More clean-ups than start-ups: nothing left of the library's to clean.
    EXPECT_EQ(socketLibraryCleanup(), 0);
    EXPECT_EQ(socketLibraryUsers(), before);
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET) << "the host's start-up was taken down: " << ::WSAGetLastError();
    ::closesocket(s);
    ::WSACleanup();
}

TEST(WindowsSocketLibrary, BlockedAcceptEndedByClosingItsSocketIsAFailureThatEndsTheLoop)
{
    Winsock winsock;
    Endpoint bound{};
    const SocketHandle listening = listenOn(kAddress, 0, &bound);
    ASSERT_NE(listening, kInvalidSocket);
    std::atomic<int> error{0};
    std::atomic<bool> returned{false};
    std::thread acceptor([&] {
        const SocketHandle peer = acceptPeer(listening, nullptr);
        error = peer == kInvalidSocket ? lastError() : 0;
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let it block
    closeSocket(listening);
    for (int i = 0; i < 500 && !returned; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!returned) {
        // Keep the suite alive: wake the acceptor by connecting to the port.
        Socket wake(openTcpSocket());
        connectWithTimeout(wake.s, bound, 1000);
    }
    acceptor.join();
    ASSERT_TRUE(returned);
    ASSERT_NE(error.load(), 0);
    // Windows says WSAEINTR, Wine WSA_OPERATION_ABORTED (995).
    EXPECT_EQ(classifyError(error), ErrorClass::Other) << "error " << error.load();
}

TEST(WindowsSockets, SendNowNeverBlocksAndLeavesTheSocketBlocking)
{
    Winsock winsock;
    Socket client;
    Socket server;
    ASSERT_NO_FATAL_FAILURE(connectedPair(client, server));
    // The peer reads nothing: sends fill both windows, then WouldBlock.
    const std::string block(64 * 1024, 'y');
    int64_t total = 0;
    int error = 0;
    for (int i = 0; i < 4096; ++i) {
        const int64_t n = sendNow(client.s, block.data(), block.size());
        if (n < 0) {
            error = lastError();
            break;
        }
        total += n;
    }
    EXPECT_GT(total, 0);
    EXPECT_EQ(classifyError(error), ErrorClass::WouldBlock) << error;
    // Blocking again: a plain send now waits for its timeout.
    setTimeouts(client.s, 100);
    EXPECT_EQ(sendSome(client.s, block.data(), block.size()), -1);
    EXPECT_EQ(lastError(), WSAETIMEDOUT);
}

// ---- Wake-up -------------------------------------------------------------

TEST(WindowsWakeEvent, EndsAWaitOnASilentSocketAndStaysSignalled)
{
    Winsock winsock;
    Socket client;
    Socket server;
    ASSERT_NO_FATAL_FAILURE(connectedPair(client, server));
    WakeEvent event;
    ASSERT_TRUE(openWakeEvent(&event)) << lastError();
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = waitForSocketOrWake(server.s, Interest::Read, event) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(result.load(), -1) << "returned before anything happened";
    signalWakeEvent(event);
    for (int i = 0; i < 500 && result == -1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (result == -1)
        sendAll(client.s, "x", 1); // unblock the waiter so the test can end
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    // Signalled once, signalled for good, even with data waiting.
    sendAll(client.s, "x", 1);
    EXPECT_FALSE(waitForSocketOrWake(server.s, Interest::Read, event));
    signalWakeEvent(event);
    EXPECT_FALSE(waitForSocketOrWake(server.s, Interest::Write, event));
    closeWakeEvent(&event);
    closeWakeEvent(&event); // a second close does nothing
}

// ---- The listener's address option --------------------------------------

TEST(WindowsListenerAddress, RestartedListenerGetsItsPortBackWhileALiveOneKeepsOthersOut)
{
    Winsock winsock;
    Endpoint bound{};
    Socket first(listenOn(kAddress, 0, &bound));
    ASSERT_NE(first.s, kInvalidSocket);
    // A second listener while the first lives: refused.
    int error = 0;
    Endpoint ignored{};
    EXPECT_EQ(listenOn(kAddress, bound.port, &ignored, &error), kInvalidSocket);
    EXPECT_TRUE(error == WSAEADDRINUSE || error == WSAEACCES) << error;

    // Serve a peer and close it from the listener's side first, so that its
    // connection lingers (TIME_WAIT) on the listener's port.
    {
        Socket client(openTcpSocket());
        ASSERT_EQ(connectWithTimeout(client.s, bound, kTimeoutMs), 0);
        Socket served(acceptPeer(first.s, nullptr));
        ASSERT_NE(served.s, kInvalidSocket);
        ASSERT_EQ(sendAll(served.s, "bye", 3), 0);
        served.reset();
        char text[8];
        setTimeouts(client.s, kTimeoutMs);
        while (receiveSome(client.s, text, sizeof text) > 0) {
        }
    }
    first.reset();
    Endpoint again{};
    Socket restarted(listenOn(kAddress, bound.port, &again, &error));
    EXPECT_NE(restarted.s, kInvalidSocket) << "restart could not bind: " << error;
    EXPECT_EQ(again.port, bound.port);
}

} // namespace
