// The Windows platform layer against real Winsock sockets (under Wine in
// CI): the behaviours that differ from POSIX and that the library relies on.
// Every socket is on loopback (127.0.0.100-127 or ephemeral ports), every
// wait is bounded.
#include "platform/win32/winsock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

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

TEST(WindowsSocketLibrary, ErrorsOfRealCallsAreWinsockNumbersAndClassified)
{
    Winsock winsock;
    // A non-blocking listener with nobody waiting.
    Socket listening(openListeningSocket());
    ASSERT_EQ(bindSocket(listening.s, {kAddress, 0}), 0);
    ASSERT_EQ(listenSocket(listening.s, 4), 0);
    EXPECT_EQ(acceptPeer(listening.s, nullptr), kInvalidSocket);
    EXPECT_EQ(lastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(classifyError(WSAEWOULDBLOCK), ErrorClass::WouldBlock);

    // A connection reset before it was accepted: the next peer can still be
    // accepted. WSA_OPERATION_ABORTED (995, Wine's error for an accept whose
    // socket was closed) and WSAEINTR end the caller's loop instead.
    EXPECT_EQ(classifyError(WSAECONNRESET), ErrorClass::PeerGone);
    EXPECT_EQ(classifyError(WSAECONNABORTED), ErrorClass::PeerGone);
    EXPECT_EQ(classifyError(WSA_OPERATION_ABORTED), ErrorClass::Other);
    EXPECT_EQ(classifyError(WSAEINTR), ErrorClass::Other);
    EXPECT_EQ(classifyError(WSAENOTSOCK), ErrorClass::Other);
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

TEST(WindowsSockets, HandlesAreUnsignedAndOnlyTheInvalidValueIsInvalid)
{
    Winsock winsock;
    static_assert(std::is_unsigned_v<SocketHandle> && sizeof(SocketHandle) == sizeof(SOCKET));
    Socket s(openTcpSocket());
    ASSERT_NE(s.s, kInvalidSocket);
    EXPECT_EQ(closeSocket(s.s), 0);
    s.s = kInvalidSocket;
    EXPECT_EQ(closeSocket(s.s), -1);
    EXPECT_EQ(lastError(), WSAENOTSOCK);
}

TEST(WindowsSockets, ConnectReportsRefusalAndTimeOutAsWinsockErrors)
{
    Winsock winsock;
    // Refused: a port that was just free.
    Endpoint bound{};
    SocketHandle probe = listenOn(kAddress, 0, &bound);
    ASSERT_NE(probe, kInvalidSocket);
    closeSocket(probe);
    {
        Socket s(openTcpSocket());
        EXPECT_EQ(connectWithTimeout(s.s, bound, kTimeoutMs), -1);
        EXPECT_EQ(lastError(), WSAECONNREFUSED);
    }
    // Timed out: a listener whose backlog is full drops further connection
    // attempts, so the next connect waits until its limit.
    Socket listening(listenOn(kAddress, 0, &bound));
    ASSERT_NE(listening.s, kInvalidSocket);
    ASSERT_EQ(listenSocket(listening.s, 0), 0);
    std::vector<Socket> queued(8);
    bool timedOut = false;
    for (Socket& q : queued) {
        q.reset(openTcpSocket());
        if (connectWithTimeout(q.s, bound, 300) != 0) {
            EXPECT_EQ(lastError(), WSAETIMEDOUT);
            timedOut = true;
            break;
        }
    }
    EXPECT_TRUE(timedOut) << "every connect was taken in";
}

TEST(WindowsSockets, ConnectedAndAcceptedSocketsBlock)
{
    Winsock winsock;
    Socket client;
    Socket server;
    ASSERT_NO_FATAL_FAILURE(connectedPair(client, server));
    // A receive with nothing to read waits for its timeout instead of
    // failing at once with WSAEWOULDBLOCK, on both sides.
    for (const Socket* s : {&client, &server}) {
        setTimeouts(s->s, 100);
        char byte = 0;
        EXPECT_EQ(receiveSome(s->s, &byte, 1), -1);
        EXPECT_EQ(lastError(), WSAETIMEDOUT);
    }
}

TEST(WindowsSockets, SendToAClosedPeerIsAnErrorCodeNotASignal)
{
    Winsock winsock;
    Socket client;
    Socket server;
    ASSERT_NO_FATAL_FAILURE(connectedPair(client, server));
    server.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string text(1024, 'x');
    int failures = 0;
    int error = 0;
    for (int i = 0; i < 50 && failures == 0; ++i) {
        if (sendSome(client.s, text.data(), text.size()) < 0) {
            ++failures;
            error = lastError();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(failures, 1);
    EXPECT_TRUE(error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN) << error;
    EXPECT_EQ(sendAll(client.s, text.data(), text.size()), -1);
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

TEST(WindowsSockets, WholeSendArrivesInOrder)
{
    Winsock winsock;
    Socket client;
    Socket server;
    ASSERT_NO_FATAL_FAILURE(connectedPair(client, server));
    std::string text(3 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = char(i * 7 + i / 251);
    std::string received;
    std::thread reader([&] {
        std::vector<char> chunk(65536);
        while (received.size() < text.size()) {
            const int64_t n = receiveSome(server.s, chunk.data(), chunk.size());
            if (n <= 0)
                break;
            received.append(chunk.data(), std::size_t(n));
        }
    });
    EXPECT_EQ(sendAll(client.s, text.data(), text.size()), 0) << lastError();
    reader.join();
    EXPECT_TRUE(received == text);
    shutdownSend(client.s);
    char byte = 0;
    EXPECT_EQ(receiveSome(server.s, &byte, 1), 0);
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

TEST(WindowsWakeEvent, ReportsSocketReadinessWhileNotSignalled)
{
    Winsock winsock;
    Socket client;
    Socket server;
    ASSERT_NO_FATAL_FAILURE(connectedPair(client, server));
    WakeEvent event;
    ASSERT_TRUE(openWakeEvent(&event));
    EXPECT_TRUE(waitForSocketOrWake(client.s, Interest::Write, event));
    ASSERT_EQ(sendAll(client.s, "abc", 3), 0);
    EXPECT_TRUE(waitForSocketOrWake(server.s, Interest::Read, event));
    char text[4] = {};
    EXPECT_EQ(receiveSome(server.s, text, 3), 3);
    closeWakeEvent(&event);
}

TEST(WindowsWakeEvent, WorksWithoutTheCallersSocketLibraryStartup)
{
    // Made before the listener thread's start-up: the event holds its own.
    ASSERT_EQ(socketLibraryUsers(), 0);
    WakeEvent event;
    ASSERT_TRUE(openWakeEvent(&event)) << lastError();
    EXPECT_EQ(socketLibraryUsers(), 0);
    signalWakeEvent(event);
    Winsock winsock;
    Socket s(openTcpSocket());
    EXPECT_FALSE(waitForSocketOrWake(s.s, Interest::Read, event));
    closeWakeEvent(&event);
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

// ---- Addresses -----------------------------------------------------------

TEST(WindowsAddresses, DottedTextLookupAndBack)
{
    uint32_t a = 0;
    ASSERT_TRUE(parseDottedAddress("127.0.0.101", &a));
    EXPECT_EQ(a, 0x7f000065u);
    EXPECT_EQ(dottedText(a), "127.0.0.101");
    EXPECT_EQ(dottedText(0xffffffffu), "255.255.255.255");
    EXPECT_FALSE(parseDottedAddress("255.255.255.255", &a)); // inet_addr's failure value
    EXPECT_FALSE(parseDottedAddress("not-an-address", &a));
    // The lookup works with or without the caller's start-up.
    ASSERT_EQ(socketLibraryUsers(), 0);
    uint32_t found = 0;
    ASSERT_TRUE(lookupHost("localhost", &found));
    EXPECT_EQ(found, kLoopbackAddress);
    EXPECT_FALSE(lookupHost("no-such-host.invalid", &found));
}

// ---- Host ----------------------------------------------------------------

TEST(WindowsHost, ListeningPortsModulePathAndEnvironment)
{
    Winsock winsock;
    Endpoint bound{};
    SocketHandle listening = listenOn(kAddress, 0, &bound);
    ASSERT_NE(listening, kInvalidSocket);
    EXPECT_TRUE(isListening(bound.port));
    closeSocket(listening);
    EXPECT_FALSE(isListening(bound.port));

    const std::string path = modulePath(reinterpret_cast<const void*>(&dottedText));
    EXPECT_NE(path.find("windows_platform_test.exe"), std::string::npos) << path;

    // The C runtime's getenv (which the DLL reads) and the process's
    // environment block both see the value.
    setEnvironment("TQBSE_PLATFORM_TEST", "1234");
    const char* value = std::getenv("TQBSE_PLATFORM_TEST");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "1234");
    char block[16] = {};
    EXPECT_EQ(::GetEnvironmentVariableA("TQBSE_PLATFORM_TEST", block, sizeof block), 4u);
    EXPECT_STREQ(block, "1234");
}

// ---- Threads -------------------------------------------------------------

struct Probe {
    std::atomic<bool> ran{false};
    std::atomic<bool> wasCurrent{false};
    std::atomic<bool> release{false};
    Thread* thread = nullptr;
};

void probeEntry(void* p)
{
    auto* probe = static_cast<Probe*>(p);
    for (int i = 0; i < 500 && !probe->release; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    probe->wasCurrent = isCurrentThread(*probe->thread);
    probe->ran = true;
}

TEST(WindowsThreads, StartJoinAndCurrentThread)
{
    Probe probe;
    Thread thread;
    probe.thread = &thread;
    ASSERT_EQ(startThread(probeEntry, &probe, &thread), 0);
    EXPECT_TRUE(thread.started);
    EXPECT_FALSE(isCurrentThread(thread));
    probe.release = true;
    joinThread(&thread);
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.wasCurrent);
    EXPECT_FALSE(thread.started);
    joinThread(&thread); // nothing left to join
}

TEST(WindowsThreads, DetachedThreadEndsOnItsOwn)
{
    static Probe probe; // outlives the test in case the thread is late
    static Thread thread;
    probe.thread = &thread;
    ASSERT_EQ(startThread(probeEntry, &probe, &thread), 0);
    detachThread(&thread);
    EXPECT_FALSE(thread.started);
    probe.release = true;
    for (int i = 0; i < 500 && !probe.ran; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(probe.ran);
}

} // namespace
