// The listener's wake-up on Linux: an eventfd polled beside the socket, or
// beside every socket the listener serves.
#include "platform/platform.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace tqbse::platform {

int openWakeEvent(WakeEvent* event)
{
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    if (fd < 0)
        return errno;
    event->handles[0] = static_cast<std::uintptr_t>(fd);
    return 0;
}

void signalWakeEvent(const WakeEvent& event)
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(event.handles[0]), &one, sizeof one);
}

void closeWakeEvent(WakeEvent* event)
{
    if (event->handles[0] != WakeEvent{}.handles[0])
        ::close(static_cast<int>(event->handles[0]));
    *event = WakeEvent{};
}

bool waitForSocketOrWake(SocketHandle s, Interest interest, const WakeEvent& event)
{
    const short events = interest == Interest::Read ? POLLIN : POLLOUT;
    pollfd fds[2] = {{static_cast<int>(s), events, 0}, {static_cast<int>(event.handles[0]), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && fds[1].revents == 0;
    }
}

WaitEnd waitForSocketsOrWake(SocketWait* sockets, std::size_t count, const WakeEvent& event, int timeoutMs)
{
    // The wake event last; poll skips negative descriptors, as a socket with
    // nothing to wait for becomes.
    std::vector<pollfd> fds(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        SocketWait& w = sockets[i];
        w.ready = false;
        const short events = short((w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0));
        const bool skipped = w.socket == kInvalidSocket || events == 0;
        fds[i] = {skipped ? -1 : static_cast<int>(w.socket), events, 0};
    }
    fds[count] = {static_cast<int>(event.handles[0]), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(fds.data(), nfds_t(fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0 || fds[count].revents != 0)
        return WaitEnd::Interrupted;
    if (ready == 0)
        return WaitEnd::TimedOut;
    for (std::size_t i = 0; i < count; ++i)
        sockets[i].ready = fds[i].revents != 0;
    return WaitEnd::Ready;
}

} // namespace tqbse::platform
