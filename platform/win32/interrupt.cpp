// The host's interrupt socket on Windows: select() watches it beside the
// connection's socket (select waits on sockets only, which is why the host
// hands over a socket, as Python's signal wake-up takes one there), and it is
// drained with receives only after a zero-timeout select has found bytes.
#include "platform/win32/winsock.h"

namespace tqbse::platform {
using namespace win32;
namespace {

constexpr int kMaxDrainReads = 64;

bool readableNow(SOCKET s)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) > 0 && FD_ISSET(s, &readable);
}

} // namespace

WaitEnd waitForSocketOrInterrupt(SocketHandle s, Interest interest, SocketHandle interrupt, int timeoutMs)
{
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    bool interrupted = false;
    const int ready = selectSocketOrOther(sock(s), interest, sock(interrupt), timeoutMs < 0 ? nullptr : &limit,
                                          &interrupted);
    if (ready == SOCKET_ERROR || interrupted)
        return WaitEnd::Interrupted;
    return ready == 0 ? WaitEnd::TimedOut : WaitEnd::Ready;
}

void drainInterrupt(SocketHandle interrupt)
{
    char bytes[256];
    for (int reads = 0; reads < kMaxDrainReads && readableNow(sock(interrupt)); ++reads) {
        if (::recv(sock(interrupt), bytes, sizeof bytes, 0) <= 0)
            return;
    }
}

} // namespace tqbse::platform
