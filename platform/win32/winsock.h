// Windows Sockets 2 headers in the order they must come (winsock2.h before
// windows.h), and the conversions between the platform header's opaque types
// and Winsock's. Included by platform/win32/*.cpp only.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform/platform.h"

namespace tqbse::platform::win32 {

// A SOCKET is an unsigned pointer-sized value (64 bits on Win64) whose only
// invalid value is INVALID_SOCKET: the opaque handle holds it unchanged.
static_assert(sizeof(SOCKET) == sizeof(SocketHandle), "a SOCKET fits the opaque handle");
static_assert(INVALID_SOCKET == kInvalidSocket, "one invalid value on both sides");

inline SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }
inline SocketHandle handle(SOCKET s) { return static_cast<SocketHandle>(s); }

inline sockaddr_in toSockaddr(Endpoint e)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.address);
    a.sin_port = htons(e.port);
    return a;
}

inline Endpoint fromSockaddr(const sockaddr_in& a) { return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)}; }

// 0 for a Winsock call that returned 0, else its error number.
inline int status(int rc) { return rc == 0 ? 0 : ::WSAGetLastError(); }

// Switches a socket between blocking and non-blocking mode. 0 or -1.
inline int setNonBlocking(SOCKET s, bool on)
{
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(s, FIONBIO, &mode) == 0 ? 0 : -1;
}

// Waits until `s` is ready for `interest` (or has failed) or `other` is
// readable; `limit` null waits without one. select()'s result, and
// whether `other` was readable.
inline int selectSocketOrOther(SOCKET s, Interest interest, SOCKET other, timeval* limit, bool* otherReadable)
{
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(other, &readable);
    if (interest == Interest::Read) {
        FD_SET(s, &readable);
    } else {
        FD_SET(s, &writable);
        FD_SET(s, &failed);
    }
    const int ready = ::select(0, &readable, &writable, &failed, limit);
    *otherReadable = ready != SOCKET_ERROR && FD_ISSET(other, &readable);
    return ready;
}

} // namespace tqbse::platform::win32
