// The Windows platform layer against real Winsock sockets (under Wine in
// CI): the behaviours that differ from POSIX and that the library relies on.
// Connecting, sending, receiving, addresses and threads in general are run
// through this layer by the in-process suites (built for Windows too), the
// load test, the example and tqbse.exe.
// Every socket is on loopback (127.0.0.100 or ephemeral ports), every wait
// is bounded.
#include "platform/host.h"
#include "platform/win32/winsock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

// A blocking listening socket on 127.0.0.100, port `port` (0: any), bound
// with the listener's address option; kInvalidSocket, with `*error` set,
// when bind or listen fails.
SocketHandle listenOn(uint16_t port, Endpoint* bound, int* error = nullptr)
{
    const SocketHandle s = openTcpSocket();
    setListenerAddressOption(s);
    if (bindSocket(s, {kAddress, port}) != 0 || listenSocket(s, 4) != 0) {
        if (error != nullptr)
            *error = lastError();
        closeSocket(s);
        return kInvalidSocket;
    }
    EXPECT_TRUE(localEndpoint(s, bound));
    return s;
}

// Joins `thread` once it has set `done`, waiting at most 5 s. A thread still
// blocked then is woken by a connection to `wake`, the port it waits on, so
// that the suite goes on; the result is false.
bool joinWithin(std::thread& thread, const std::atomic<bool>& done, Endpoint wake)
{
    for (int i = 0; i < 500 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool returned = done;
    if (!returned) {
        const SocketHandle s = openTcpSocket();
        connectWithTimeout(s, wake, 1000);
        closeSocket(s);
    }
    thread.join();
    return returned;
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
    const SocketHandle listening = listenOn(0, &bound);
    ASSERT_NE(listening, kInvalidSocket);
    std::atomic<bool> done{false};
    int error = 0;
    std::thread acceptor([&] {
        error = acceptPeer(listening, nullptr) == kInvalidSocket ? lastError() : 0;
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let it block
    closeSocket(listening);
    ASSERT_TRUE(joinWithin(acceptor, done, bound)) << "closing its socket did not end the accept";
    ASSERT_NE(error, 0);
    // Windows says WSAEINTR, Wine WSA_OPERATION_ABORTED (995).
    EXPECT_EQ(classifyError(error), ErrorClass::Other) << "error " << error;
}

// The listener waits on its listening socket and on its peers' sockets the
// same way; a listening socket with no peer pending is a silent one.
TEST(WindowsWakeEvent, EndsAWaitOnASilentSocketAndStaysSignalled)
{
    Winsock winsock;
    Endpoint bound{};
    const SocketHandle listening = listenOn(0, &bound);
    ASSERT_NE(listening, kInvalidSocket);
    WakeEvent event;
    ASSERT_TRUE(openWakeEvent(&event)) << lastError();
    std::atomic<bool> done{false};
    bool ready = true;
    std::thread waiter([&] {
        ready = waitForSocketOrWake(listening, Interest::Read, event);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done) << "returned before anything happened";
    signalWakeEvent(event);
    ASSERT_TRUE(joinWithin(waiter, done, bound)) << "the signal did not end the wait";
    EXPECT_FALSE(ready);
    // Signalled once, signalled for good, even with a peer pending.
    const SocketHandle client = openTcpSocket();
    ASSERT_EQ(connectWithTimeout(client, bound, kTimeoutMs), 0) << lastError();
    EXPECT_FALSE(waitForSocketOrWake(listening, Interest::Read, event));
    signalWakeEvent(event);
    EXPECT_FALSE(waitForSocketOrWake(listening, Interest::Write, event));
    closeWakeEvent(&event);
    closeWakeEvent(&event); // a second close must leave the test's start-up alone
    EXPECT_EQ(closeSocket(client), 0) << "Winsock was taken down: " << lastError();
    closeSocket(listening);
}

TEST(WindowsListenerAddress, RestartedListenerGetsItsPortBackWhileALiveOneKeepsOthersOut)
{
    Winsock winsock;
    Endpoint bound{};
    const SocketHandle first = listenOn(0, &bound);
    ASSERT_NE(first, kInvalidSocket);
    // A second listener while the first lives: refused.
    int error = 0;
    Endpoint ignored{};
    EXPECT_EQ(listenOn(bound.port, &ignored, &error), kInvalidSocket);
    EXPECT_TRUE(error == WSAEADDRINUSE || error == WSAEACCES) << error;

    // Serve a peer and close it from the listener's side first, so that its
    // connection lingers (TIME_WAIT) on the listener's port.
    const SocketHandle client = openTcpSocket();
    ASSERT_EQ(connectWithTimeout(client, bound, kTimeoutMs), 0) << lastError();
    const SocketHandle served = acceptPeer(first, nullptr);
    ASSERT_NE(served, kInvalidSocket) << lastError();
    ASSERT_EQ(sendAll(served, "bye", 3), 0);
    closeSocket(served);
    setTimeouts(client, kTimeoutMs);
    char text[8];
    for (int i = 0; i < 10 && receiveSome(client, text, sizeof text) > 0; ++i) {
    }
    closeSocket(client);
    closeSocket(first);
    const SocketHandle restarted = listenOn(bound.port, &ignored, &error);
    EXPECT_NE(restarted, kInvalidSocket) << "restart could not bind: " << error;
    closeSocket(restarted);
}

} // namespace
