// Socket basics for the test support, on the platform header only: loopback
// endpoints, free ports, and the ports the library's internals use in tests.
// Every test socket gets send and receive timeouts, so nothing here can
// block a test for long.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host.h"
#include "platform/platform.h"
#include "protocol/ports.h"

namespace tqbse::test {

inline constexpr int kSocketTimeoutMs = 5000;

// The socket library's error numbers that the library's printed texts show
// ("connect() failed: N"): WSAGetLastError() values on Windows, errno on
// Linux.
#ifdef _WIN32
inline constexpr int kConnectionRefusedError = 10061; // WSAECONNREFUSED
inline constexpr int kAddressInUseError = 10048;      // WSAEADDRINUSE
#else
inline constexpr int kConnectionRefusedError = 111; // ECONNREFUSED
inline constexpr int kAddressInUseError = 98;       // EADDRINUSE
#endif

inline platform::Endpoint endpoint(const char* dotted, uint16_t port)
{
    platform::Endpoint e{0, port};
    platform::parseDottedAddress(dotted, &e.address);
    return e;
}

// A port that nothing holds on `dotted` now: bound to port 0, read back and
// released. Binding on every interface makes it free for a listener on any
// address too.
inline uint16_t freePort(const char* dotted = "0.0.0.0")
{
    platform::socketLibraryStartup();
    const platform::SocketHandle s = platform::openTcpSocket();
    platform::Endpoint local{};
    const bool bound = s != platform::kInvalidSocket && platform::bindSocket(s, endpoint(dotted, 0)) == 0
        && platform::localEndpoint(s, &local) == 0;
    if (s != platform::kInvalidSocket)
        platform::closeSocket(s);
    platform::socketLibraryCleanup();
    return bound ? local.port : 0;
}

// Moves the library's ports away from 6002 and 6009 for this process: the
// listener to a free port, the server to a free port nobody listens on
// (a fake server or an emulator moves it to its own later). Test mains call
// this once, so no test can reach the fixed ports by accident and suites
// run side by side.
inline void moveLibraryPorts()
{
    setPortsForTesting(freePort("127.0.0.1"), freePort());
}

} // namespace tqbse::test
