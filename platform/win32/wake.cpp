// The listener's wake-up on Windows: a UDP socket on 127.0.0.1 connected to
// itself. Signalling sends it one datagram, which is never read, so from
// then on the socket stays readable and every select() that includes it
// returns at once, as an eventfd that is never drained does on Linux.
// select() waits on sockets only, which is why the event is a socket and
// not an event object; being connected to its own address, the socket takes
// datagrams from itself alone, so no other program can wake the listener.
//
// A wait on several sockets and the event uses WSAPoll instead (no
// FD_SETSIZE limit), with the wake socket as one more entry.
//
// The event holds its own Winsock start-up (without counting it as one of
// the library's users), so it can be made before or after the caller's.
#include "platform/win32/winsock.h"

#include <vector>

namespace tqbse::platform {
using namespace win32;
namespace {

SOCKET wakeSocket(const WakeEvent& event) { return static_cast<SOCKET>(event.handles[0]); }

int fail(SOCKET s)
{
    const int error = ::WSAGetLastError();
    if (s != INVALID_SOCKET)
        ::closesocket(s);
    ::WSACleanup();
    ::WSASetLastError(error);
    return error;
}

} // namespace

int openWakeEvent(WakeEvent* event)
{
    WSADATA data{};
    if (const int rc = ::WSAStartup(MAKEWORD(2, 2), &data); rc != 0) {
        ::WSASetLastError(rc);
        return rc;
    }
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return fail(s);
    sockaddr_in self = toSockaddr({kLoopbackAddress, 0});
    int length = sizeof self;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0
        || ::connect(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0
        || setNonBlocking(s, true) != 0)
        return fail(s);
    event->handles[0] = static_cast<std::uintptr_t>(s);
    return 0;
}

// Never blocks (the socket is non-blocking); once one datagram is queued the
// event stays signalled, so a failed send of a later one changes nothing.
void signalWakeEvent(const WakeEvent& event)
{
    const char one = 1;
    ::send(wakeSocket(event), &one, 1, 0);
}

void closeWakeEvent(WakeEvent* event)
{
    if (event->handles[0] != WakeEvent{}.handles[0]) {
        ::closesocket(wakeSocket(*event));
        ::WSACleanup();
    }
    *event = WakeEvent{};
}

bool waitForSocketOrWake(SocketHandle s, Interest interest, const WakeEvent& event)
{
    bool woken = false;
    if (selectSocketOrOther(sock(s), interest, wakeSocket(event), nullptr, &woken) == SOCKET_ERROR)
        return false;
    return !woken;
}

WaitEnd waitForSocketsOrWake(SocketWait* sockets, std::size_t count, const WakeEvent& event, int timeoutMs)
{
    // Only the sockets that wait for something are handed to WSAPoll:
    // entries it is given as INVALID_SOCKET come back flagged (POLLNVAL)
    // under some implementations. `index` maps them back.
    std::vector<WSAPOLLFD> fds;
    std::vector<std::size_t> index;
    fds.reserve(count + 1);
    index.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        SocketWait& w = sockets[i];
        w.ready = false;
        const short events = short((w.read ? POLLRDNORM : 0) | (w.write ? POLLWRNORM : 0));
        if (w.socket == kInvalidSocket || events == 0)
            continue;
        fds.push_back({sock(w.socket), events, 0});
        index.push_back(i);
    }
    fds.push_back({wakeSocket(event), POLLRDNORM, 0});
    const int ready = ::WSAPoll(fds.data(), ULONG(fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
    if (ready == SOCKET_ERROR || fds.back().revents != 0)
        return WaitEnd::Interrupted;
    if (ready == 0)
        return WaitEnd::TimedOut;
    for (std::size_t k = 0; k < index.size(); ++k)
        sockets[index[k]].ready = fds[k].revents != 0;
    return WaitEnd::Ready;
}

} // namespace tqbse::platform
