// TCP sockets over Windows Sockets 2.
//
// Sockets are made with WSASocketW: overlapped-capable (send and receive
// timeouts only work on such sockets) and not inherited by child processes.
// Data sockets are blocking, as on POSIX: an accepted socket would inherit
// the listening socket's non-blocking mode, so acceptPeer switches it back,
// and sendNow makes its one send non-blocking and then restores blocking
// mode (Windows has no per-call "don't wait" flag). A send to a closed peer
// fails with an error code (WSAECONNRESET and the like): Windows raises no
// signal for it.
#include "platform/win32/winsock.h"
#include "platform/host.h"

#include <climits>
#include <vector>

namespace tqbse::platform {
using namespace win32;
namespace {

// select() on the write set and the except set: Windows reports a failed
// connect or a reset socket in the except set, not as writable. The count
// select() returns; `failed` when the socket is in the except set.
int selectWritable(SOCKET s, int timeoutMs, bool* failed)
{
    fd_set writable;
    fd_set errors;
    FD_ZERO(&writable);
    FD_ZERO(&errors);
    FD_SET(s, &writable);
    FD_SET(s, &errors);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = ::select(0, nullptr, &writable, &errors, timeoutMs < 0 ? nullptr : &limit);
    *failed = ready > 0 && FD_ISSET(s, &errors);
    return ready;
}

SocketHandle openSocket(bool nonBlocking)
{
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    if (nonBlocking && setNonBlocking(s, true) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        ::WSASetLastError(error);
        return kInvalidSocket;
    }
    return handle(s);
}

int setFlag(SocketHandle s, int level, int option)
{
    const BOOL on = TRUE;
    return status(::setsockopt(sock(s), level, option, reinterpret_cast<const char*>(&on), sizeof on));
}

// send() and recv() take an int length; larger requests are cut to the
// largest int and the caller goes on with the rest, as after any partial send.
int chunk(std::size_t size) { return size > std::size_t(INT_MAX) ? INT_MAX : static_cast<int>(size); }

} // namespace

SocketHandle openTcpSocket() { return openSocket(false); }

SocketHandle openListeningSocket() { return openSocket(true); }

int closeSocket(SocketHandle s) { return status(::closesocket(sock(s))); }

int setNoDelay(SocketHandle s) { return setFlag(s, IPPROTO_TCP, TCP_NODELAY); }

// No address option on Windows, on purpose. Windows' default binding already
// gives what the listener needs: a restarted listener gets its port back
// while the earlier listener's connections are in TIME_WAIT, and a live
// socket bound to the port (in this or another process) makes bind fail with
// WSAEADDRINUSE. SO_REUSEADDR would be wrong here: on Windows it lets a
// socket bind to a port that a live listener holds, so another process's
// listener could take port 6009 and the callbacks with it (Wine, which
// emulates the safer Linux rules, refuses such a second bind with WSAEACCES,
// 10013). SO_EXCLUSIVEADDRUSE would keep every other socket off the port,
// but it has its own rule after a close: the port stays taken until every
// connection the listener accepted is no longer active, so a listener
// restarted right after dropping a peer could fail to bind.
int setListenerAddressOption(SocketHandle) { return 0; }

int setTimeouts(SocketHandle s, int timeoutMs)
{
    const DWORD ms = timeoutMs < 0 ? 0 : DWORD(timeoutMs);
    const char* value = reinterpret_cast<const char*>(&ms);
    const int a = status(::setsockopt(sock(s), SOL_SOCKET, SO_RCVTIMEO, value, sizeof ms));
    const int b = status(::setsockopt(sock(s), SOL_SOCKET, SO_SNDTIMEO, value, sizeof ms));
    return a != 0 ? a : b;
}

// shutdown alone does not end a receive that another thread is blocked in
// (Windows and Wine leave it waiting); cancelling the socket's pending I/O
// does, with WSAEINTR or WSA_OPERATION_ABORTED.
void shutdownBoth(SocketHandle s)
{
    ::shutdown(sock(s), SD_BOTH);
    ::CancelIoEx(reinterpret_cast<HANDLE>(sock(s)), nullptr);
}

void shutdownSend(SocketHandle s) { ::shutdown(sock(s), SD_SEND); }

// A non-blocking connect, then select() on the write set (connected) and
// the except set (Windows reports a failed connect there, not as writable).
int connectWithTimeout(SocketHandle s, Endpoint to, int timeoutMs)
{
    const sockaddr_in address = toSockaddr(to);
    if (setNonBlocking(sock(s), true) != 0)
        return ::WSAGetLastError();
    if (::connect(sock(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return ::WSAGetLastError();
        bool failed = false;
        const int ready = selectWritable(sock(s), timeoutMs, &failed);
        if (ready == SOCKET_ERROR)
            return ::WSAGetLastError();
        if (ready == 0) {
            ::WSASetLastError(WSAETIMEDOUT);
            return ::WSAGetLastError();
        }
        if (failed) {
            int error = 0;
            int length = sizeof error;
            if (::getsockopt(sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
                return ::WSAGetLastError();
            ::WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
            return ::WSAGetLastError();
        }
    }
    if (setNonBlocking(sock(s), false) != 0)
        return ::WSAGetLastError();
    return 0;
}

int bindSocket(SocketHandle s, Endpoint local)
{
    const sockaddr_in a = toSockaddr(local);
    return status(::bind(sock(s), reinterpret_cast<const sockaddr*>(&a), sizeof a));
}

int listenSocket(SocketHandle s, int backlog) { return status(::listen(sock(s), backlog)); }

SocketHandle acceptPeer(SocketHandle listening, Endpoint* peer)
{
    sockaddr_in a{};
    int length = sizeof a;
    const SOCKET client = ::accept(sock(listening), reinterpret_cast<sockaddr*>(&a), &length);
    if (client == INVALID_SOCKET)
        return kInvalidSocket;
    // Accepted sockets take over the listening socket's mode; make this one
    // blocking and not inheritable, like every other data socket here.
    if (setNonBlocking(client, false) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(client);
        ::WSASetLastError(error);
        return kInvalidSocket;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(client), HANDLE_FLAG_INHERIT, 0);
    if (peer != nullptr)
        *peer = fromSockaddr(a);
    return handle(client);
}

int localEndpoint(SocketHandle s, Endpoint* local)
{
    sockaddr_in a{};
    int length = sizeof a;
    if (::getsockname(sock(s), reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return ::WSAGetLastError();
    *local = fromSockaddr(a);
    return 0;
}

int64_t sendSome(SocketHandle s, const char* data, std::size_t size)
{
    const int n = ::send(sock(s), data, chunk(size), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int64_t receiveSome(SocketHandle s, char* data, std::size_t size)
{
    const int n = ::recv(sock(s), data, chunk(size), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int64_t sendNow(SocketHandle s, const char* data, std::size_t size)
{
    if (setNonBlocking(sock(s), true) != 0)
        return -1;
    const int n = ::send(sock(s), data, chunk(size), 0);
    const int error = ::WSAGetLastError();
    setNonBlocking(sock(s), false);
    ::WSASetLastError(error);
    return n == SOCKET_ERROR ? -1 : n;
}

// Windows has no per-call "don't wait" flag for recv either: a receive only
// follows a zero-timeout wait that found the socket readable.
int64_t receiveNow(SocketHandle s, char* data, std::size_t size)
{
    if (!waitReadable(s, 0)) {
        ::WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return receiveSome(s, data, size);
}

int64_t bytesWaiting(SocketHandle s)
{
    u_long n = 0;
    return ::ioctlsocket(sock(s), FIONREAD, &n) == 0 ? int64_t(n) : -1;
}

bool waitReadable(SocketHandle s, int timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock(s), &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit) > 0;
}

bool waitWritable(SocketHandle s, int timeoutMs)
{
    bool failed = false;
    return selectWritable(sock(s), timeoutMs, &failed) > 0;
}

// WSAPoll: no FD_SETSIZE limit, and the same readiness as poll() on POSIX.
int waitAnyReadable(const SocketHandle* sockets, std::size_t count, int timeoutMs, bool* readable)
{
    thread_local std::vector<WSAPOLLFD> fds; // reused: no allocation per wait
    fds.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        // WSAPoll skips entries whose socket is INVALID_SOCKET.
        fds[i] = {sockets[i] == kInvalidSocket ? INVALID_SOCKET : sock(sockets[i]), POLLRDNORM, 0};
        readable[i] = false;
    }
    const int ready = ::WSAPoll(fds.data(), ULONG(count), timeoutMs < 0 ? -1 : timeoutMs);
    for (std::size_t i = 0; ready > 0 && i < count; ++i)
        readable[i] = fds[i].revents != 0;
    return ready == SOCKET_ERROR ? -1 : ready;
}

} // namespace tqbse::platform
