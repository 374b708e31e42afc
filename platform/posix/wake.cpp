// The listener's wake-up on Linux: an eventfd polled beside the socket.
#include "platform/platform.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

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

} // namespace tqbse::platform
