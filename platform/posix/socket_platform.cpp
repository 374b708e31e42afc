#include "platform/posix/socket_platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace tqbse::platform {
namespace {
std::atomic<int> g_libraryUsers{0};
}

int socketLibraryStartup()
{
    g_libraryUsers.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int socketLibraryCleanup()
{
    int users = g_libraryUsers.load(std::memory_order_relaxed);
    while (users > 0 && !g_libraryUsers.compare_exchange_weak(users, users - 1, std::memory_order_relaxed)) {
    }
    return 0;
}

int socketLibraryUsers() { return g_libraryUsers.load(std::memory_order_relaxed); }

int lastError() { return errno; }

SocketHandle openTcpSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

int closeSocket(SocketHandle s) { return ::close(s) == 0 ? 0 : -1; }

int setNoDelay(SocketHandle s)
{
    const int on = 1;
    return ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int setReuseAddress(SocketHandle s)
{
    const int on = 1;
    return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

int connectWithTimeout(SocketHandle s, const sockaddr_in& address, int timeoutMs)
{
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0)
        return -1;
    int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (rc < 0 && errno == EINPROGRESS) {
        pollfd p{s, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        if (ready < 0)
            return -1;
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) < 0)
            return -1;
        if (error != 0) {
            errno = error;
            return -1;
        }
        rc = 0;
    }
    if (rc < 0)
        return -1;
    const int saved = errno;
    ::fcntl(s, F_SETFL, flags);
    errno = saved;
    return 0;
}

ssize_t sendSome(SocketHandle s, const char* data, std::size_t size)
{
    ssize_t n;
    do {
        n = ::send(s, data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t receiveSome(SocketHandle s, char* data, std::size_t size)
{
    ssize_t n;
    do {
        n = ::recv(s, data, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

int sendAll(SocketHandle s, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = sendSome(s, data, size);
        if (n <= 0)
            return -1;
        data += n;
        size -= std::size_t(n);
    }
    return 0;
}

bool waitReadable(SocketHandle s, int timeoutMs)
{
    pollfd p{s, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

SocketHandle openListeningSocket()
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

int bindSocket(SocketHandle s, const sockaddr_in& address)
{
    return ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int listenSocket(SocketHandle s, int backlog) { return ::listen(s, backlog); }

SocketHandle acceptPeer(SocketHandle listening, sockaddr_in* peer)
{
    socklen_t length = sizeof *peer;
    return ::accept4(listening, reinterpret_cast<sockaddr*>(peer), &length, SOCK_CLOEXEC);
}

ssize_t sendNow(SocketHandle s, const char* data, std::size_t size)
{
    return ::send(s, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

int openWakeEvent() { return ::eventfd(0, EFD_CLOEXEC); }

void signalWakeEvent(int event)
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(event, &one, sizeof one);
}

void closeWakeEvent(int event) { ::close(event); }

bool waitForSocketOrWake(SocketHandle s, short events, int event)
{
    pollfd fds[2] = {{s, events, 0}, {event, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && fds[1].revents == 0;
    }
}

bool parseDottedAddress(const char* text, in_addr* address)
{
    const in_addr_t a = ::inet_addr(text);
    if (a == INADDR_NONE)
        return false;
    address->s_addr = a;
    return true;
}

bool lookupHost(const char* name, in_addr* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

} // namespace tqbse::platform
