// The Windows platform layer against real Winsock sockets (under Wine in
// CI): the behaviours that only Windows has and that the library relies on.
// The portable contract (start-up counting, the wake event, a restarted
// listener's port, partial sends, the calls that never block) is
// tests/platform, built and run for both systems; connecting, sending,
// receiving, addresses and threads in general are run through this layer by
// the other in-process suites, the load test, the example and tqbse.exe.
// Every socket is on loopback (127.0.0.100 or ephemeral ports), every wait
// is bounded.
#include "platform/host.h"
#include "platform/win32/winsock.h"
#include "tests/support/join_within.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace tqbse::platform;
using tqbse::test::joinWithin;

constexpr uint32_t kAddress = 0x7f000064; // 127.0.0.100

// Holds one socket-library start-up for a test.
struct Winsock {
    Winsock() { EXPECT_EQ(socketLibraryStartup(), 0); }
    ~Winsock() { socketLibraryCleanup(); }
};

// A blocking listening socket on 127.0.0.100, any port; kInvalidSocket when
// bind or listen fails.
SocketHandle listenOn(Endpoint* bound)
{
    const SocketHandle s = openTcpSocket();
    if (bindSocket(s, {kAddress, 0}) != 0 || listenSocket(s, 4) != 0 || localEndpoint(s, bound) != 0) {
        closeSocket(s);
        return kInvalidSocket;
    }
    return s;
}

TEST(WindowsSocketLibrary, CleanupsLeaveTheHostsOwnStartupAlone)
{
    // The host program's own start-up, which the library must not undo.
    WSADATA data{};
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    // The counting itself is the portable suite's (tests/platform); here the
    // library's clean-ups, one more than its start-ups, meet the host's.
    ASSERT_EQ(socketLibraryStartup(), 0);
    EXPECT_EQ(socketLibraryCleanup(), 0);
    EXPECT_EQ(socketLibraryCleanup(), 0);
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET) << "the host's start-up was taken down: " << ::WSAGetLastError();
    ::closesocket(s);
    ::WSACleanup();
}

TEST(WindowsSocketLibrary, BlockedAcceptEndedByClosingItsSocketIsAFailureThatEndsTheLoop)
{
    Winsock winsock;
    Endpoint bound{};
    const SocketHandle listening = listenOn(&bound);
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

} // namespace
