// The host's interrupt descriptor on POSIX: polled beside the socket, and
// drained with reads only after a zero-timeout poll has found bytes, so a
// blocking descriptor (a pipe, say) is drained as safely as a non-blocking
// one.
#include "platform/platform.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace tqbse::platform {
namespace {

int fd(SocketHandle s) { return static_cast<int>(s); }

// A host that writes one byte per signal fills no more than this many reads
// between two calls; past it the descriptor is left to the next call.
constexpr int kMaxDrainReads = 64;

} // namespace

WaitEnd waitForSocketOrInterrupt(SocketHandle s, Interest interest, SocketHandle interrupt, int timeoutMs)
{
    const short events = interest == Interest::Read ? POLLIN : POLLOUT;
    pollfd fds[2] = {{fd(s), events, 0}, {fd(interrupt), POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0 || fds[1].revents != 0) // a closed descriptor (POLLNVAL) ends the wait too
        return WaitEnd::Interrupted;
    return ready == 0 ? WaitEnd::TimedOut : WaitEnd::Ready;
}

void drainInterrupt(SocketHandle interrupt)
{
    char bytes[256];
    for (int reads = 0; reads < kMaxDrainReads; ++reads) {
        pollfd p{fd(interrupt), POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
            return;
        if (::read(fd(interrupt), bytes, sizeof bytes) <= 0)
            return;
    }
}

} // namespace tqbse::platform
