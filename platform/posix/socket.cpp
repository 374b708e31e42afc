// TCP sockets on POSIX: descriptors close on exec and sends never raise
// SIGPIPE.
#include "platform/host.h"
#include "platform/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace tqbse::platform {
namespace {

int fd(SocketHandle s) { return static_cast<int>(s); }

SocketHandle handle(int fd) { return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd); }

sockaddr_in toSockaddr(Endpoint e)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.address);
    a.sin_port = htons(e.port);
    return a;
}

Endpoint fromSockaddr(const sockaddr_in& a) { return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)}; }

// 0 for a system call that returned 0, else the error number it left.
int status(int rc) { return rc == 0 ? 0 : errno; }

int setFlag(SocketHandle s, int level, int option)
{
    const int on = 1;
    return status(::setsockopt(fd(s), level, option, &on, sizeof on));
}

bool pollOne(SocketHandle s, short events, int timeoutMs)
{
    pollfd p{fd(s), events, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace

SocketHandle openTcpSocket() { return handle(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)); }

SocketHandle openListeningSocket() { return handle(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)); }

int closeSocket(SocketHandle s) { return status(::close(fd(s))); }

int setNoDelay(SocketHandle s) { return setFlag(s, IPPROTO_TCP, TCP_NODELAY); }

// SO_REUSEADDR on Linux lets a listener bind while earlier connections of
// the port sit in TIME_WAIT; a live socket bound to the port still makes
// bind fail.
int setListenerAddressOption(SocketHandle s) { return setFlag(s, SOL_SOCKET, SO_REUSEADDR); }

int setTimeouts(SocketHandle s, int timeoutMs)
{
    const timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int a = status(::setsockopt(fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv));
    const int b = status(::setsockopt(fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv));
    return a != 0 ? a : b;
}

void shutdownBoth(SocketHandle s) { ::shutdown(fd(s), SHUT_RDWR); }

void shutdownSend(SocketHandle s) { ::shutdown(fd(s), SHUT_WR); }

int connectWithTimeout(SocketHandle s, Endpoint to, int timeoutMs)
{
    const sockaddr_in address = toSockaddr(to);
    const int flags = ::fcntl(fd(s), F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    int rc = ::connect(fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (rc < 0 && errno == EINPROGRESS) {
        pollfd p{fd(s), POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            errno = ETIMEDOUT;
            return errno;
        }
        if (ready < 0)
            return errno;
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &error, &len) < 0)
            return errno;
        if (error != 0) {
            errno = error;
            return errno;
        }
        rc = 0;
    }
    if (rc < 0)
        return errno;
    const int saved = errno;
    ::fcntl(fd(s), F_SETFL, flags);
    errno = saved;
    return 0;
}

int bindSocket(SocketHandle s, Endpoint local)
{
    const sockaddr_in a = toSockaddr(local);
    return status(::bind(fd(s), reinterpret_cast<const sockaddr*>(&a), sizeof a));
}

int listenSocket(SocketHandle s, int backlog) { return status(::listen(fd(s), backlog)); }

SocketHandle acceptPeer(SocketHandle listening, Endpoint* peer)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    const int client = ::accept4(fd(listening), reinterpret_cast<sockaddr*>(&a), &length, SOCK_CLOEXEC);
    if (client >= 0 && peer != nullptr)
        *peer = fromSockaddr(a);
    return handle(client);
}

int localEndpoint(SocketHandle s, Endpoint* local)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    if (::getsockname(fd(s), reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return errno;
    *local = fromSockaddr(a);
    return 0;
}

int64_t sendSome(SocketHandle s, const char* data, std::size_t size)
{
    ssize_t n;
    do {
        n = ::send(fd(s), data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

int64_t receiveSome(SocketHandle s, char* data, std::size_t size)
{
    ssize_t n;
    do {
        n = ::recv(fd(s), data, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

int64_t sendNow(SocketHandle s, const char* data, std::size_t size)
{
    return ::send(fd(s), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

int64_t receiveNow(SocketHandle s, char* data, std::size_t size)
{
    ssize_t n;
    do {
        n = ::recv(fd(s), data, size, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
}

int64_t bytesWaiting(SocketHandle s)
{
    int n = 0;
    return ::ioctl(fd(s), FIONREAD, &n) == 0 ? n : -1;
}

bool waitReadable(SocketHandle s, int timeoutMs) { return pollOne(s, POLLIN, timeoutMs < 0 ? -1 : timeoutMs); }

bool waitWritable(SocketHandle s, int timeoutMs) { return pollOne(s, POLLOUT, timeoutMs < 0 ? -1 : timeoutMs); }

int waitAnyReadable(const SocketHandle* sockets, std::size_t count, int timeoutMs, bool* readable)
{
    thread_local std::vector<pollfd> fds; // reused: no allocation per wait
    fds.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        // poll skips negative descriptors, as kInvalidSocket becomes.
        fds[i] = {sockets[i] == kInvalidSocket ? -1 : fd(sockets[i]), POLLIN, 0};
        readable[i] = false;
    }
    int ready;
    do {
        ready = ::poll(fds.data(), nfds_t(count), timeoutMs < 0 ? -1 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    for (std::size_t i = 0; ready > 0 && i < count; ++i)
        readable[i] = fds[i].revents != 0;
    return ready;
}

} // namespace tqbse::platform
