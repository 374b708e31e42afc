// A TCP client of the callback listener on 127.0.0.1:6009, with send and
// receive timeouts and bounded reads.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_server.h"

namespace tqbse::test {

class Peer {
public:
    // A refused connection is retried for up to `connectWaitMs` (a listener
    // being restarted); every receive and send waits at most `timeoutMs`.
    explicit Peer(int timeoutMs = kSocketTimeoutMs, int connectWaitMs = 0)
    {
        const sockaddr_in a = address("127.0.0.1", 6009);
        for (int waited = 0; !connected_; waited += 10) {
            close();
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            setTimeouts(fd_, timeoutMs);
            connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
            if (connected_ || waited >= connectWaitMs)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Peer() { close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    int localPort() const
    {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }

    bool send(const std::string& data) const
    {
        std::size_t at = 0;
        for (int i = 0; i < 100000 && at < data.size(); ++i) {
            const ssize_t n = ::send(fd_, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            at += std::size_t(n);
        }
        return at == data.size();
    }

    // Reads until the received text ends in ")" (one default-handler reply).
    std::string receiveReply(std::size_t limit = 1 << 20) const
    {
        std::string got;
        char buffer[65536];
        while (got.size() < limit && (got.empty() || got.back() != ')')) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            got.append(buffer, std::size_t(n));
        }
        return got;
    }

    std::string receiveExactly(std::size_t size) const
    {
        std::string got;
        got.reserve(size);
        std::vector<char> buffer(1 << 16);
        while (got.size() < size) {
            const ssize_t n = ::recv(fd_, buffer.data(), std::min(buffer.size(), size - got.size()), 0);
            if (n <= 0)
                break;
            got.append(buffer.data(), std::size_t(n));
        }
        return got;
    }

    // Whatever arrives until the line is quiet for `quietMs` (at most 64 MiB).
    std::string drain(int quietMs = 300) const
    {
        std::string got;
        char buffer[65536];
        pollfd p{fd_, POLLIN, 0};
        while (got.size() < (64u << 20) && ::poll(&p, 1, quietMs) > 0) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            got.append(buffer, std::size_t(n));
        }
        return got;
    }

    // True when nothing arrives for `ms` (the listener is not answering).
    bool silentFor(int ms) const
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

    // True when the listener closed the connection (end of stream or reset).
    bool closedByListener() const
    {
        char c;
        const ssize_t n = ::recv(fd_, &c, 1, 0);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

    // Closes with a reset instead of an orderly end.
    void abort()
    {
        const linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close();
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    std::string exchange(const std::string& message) const { return send(message) ? receiveReply() : std::string(); }

private:
    int fd_ = -1;
    bool connected_ = false;
};

} // namespace tqbse::test
