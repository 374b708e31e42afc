// Helpers for the listener tests: a peer of port 6009, a recording message
// handler and bounded waits (the fake server is support/fake_server.h).
// Every socket here has a receive and send timeout; every loop is bounded.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "callback/listener.h"
#include "support/fake_server.h"

namespace tqbse::test {

using namespace std::chrono_literals;
// Polls `done` every 10 ms for at most `limit`.
template <typename Pred>
bool waitUntil(Pred done, std::chrono::milliseconds limit = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

inline bool waitForState(callback::ListenerState state)
{
    return waitUntil([state] { return callback::listenerState() == state; });
}

// Runs `work`; a run that has not finished after 10 s ends the process with
// a failure rather than leaving CI waiting.
inline void runBounded(const char* what, std::function<void()> work)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done, work = std::move(work)] {
        work();
        done->set_value();
    }).detach();
    if (finished.wait_for(10s) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not finish within 10 s\n", what);
        std::_Exit(1);
    }
}

// A TCP client of the listener on 127.0.0.1:6009.
class Peer {
public:
    Peer()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        setTimeouts(fd_);
        const sockaddr_in a = address("127.0.0.1", callback::kListenerPort);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    ~Peer() { close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool connected() const { return connected_; }
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

// A handler that records every message as it came and answers through `reply`.
class Recorder {
public:
    using Reply = std::function<std::string(const std::string&)>;

    callback::MessageHandler handler(Reply reply = {})
    {
        auto self = shared_;
        return [self, reply](const QByteArray& message) {
            const std::string text(message.constData(), std::size_t(message.size()));
            {
                const std::lock_guard lock(self->mutex);
                self->messages.push_back(text);
            }
            self->changed.notify_all();
            const std::string answer = reply ? reply(text) : std::string();
            return QByteArray(answer.data(), qsizetype(answer.size()));
        };
    }

    std::vector<std::string> messages() const
    {
        const std::lock_guard lock(shared_->mutex);
        return shared_->messages;
    }

    // Waits at most 5 s for at least `count` messages.
    bool waitForCount(std::size_t count) const
    {
        std::unique_lock lock(shared_->mutex);
        return shared_->changed.wait_for(lock, 5s, [&] { return shared_->messages.size() >= count; });
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::string> messages;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

} // namespace tqbse::test
