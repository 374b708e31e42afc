// A scripted stand-in for the server on a loopback address: accepts one
// client connection at a time, records every request, and answers each one
// with the next scripted reply (sent in the chunks and with the pauses the
// script gives), or, when the script is empty, with the responder's reply
// (by default the request's name and a zero result code).
//
// Every wait is a poll with a short timeout that also watches the stop flag,
// so the server thread always ends when the object is destroyed.
#pragma once

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tqbse::test {

struct ScriptedReply {
    std::vector<QByteArray> chunks; // each one goes out with its own send call
    int gapMs = 0;                  // pause between two chunks
    // Close the connection after the last chunk. The FIN travels in the same
    // segment as the last chunk, so the client sees the data and the end of
    // the stream together. With no chunks: close without answering.
    bool closeAfter = false;
    std::size_t minRequestBytes = 0; // read at least this much before answering
};

class ScriptedServer {
public:
    using Responder = std::function<QByteArray(const QByteArray& request)>;

    // Another run of the same tests may hold the address for a moment:
    // binding is retried for up to `bindWaitMs`.
    explicit ScriptedServer(const char* address, uint16_t port = 6002, int bindWaitMs = 60000)
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &local.sin_addr);
        for (int waited = 0;; waited += 100) {
            listening_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            ::setsockopt(listening_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            if (::bind(listening_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0
                && ::listen(listening_, 4) == 0)
                break;
            ::close(listening_);
            listening_ = -1;
            if (waited >= bindWaitMs)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        thread_ = std::thread([this] { run(); });
    }

    ~ScriptedServer()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        if (listening_ >= 0)
            ::close(listening_);
    }

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    bool isListening() const { return listening_ >= 0; }

    void push(ScriptedReply reply)
    {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(reply));
    }
    void push(const QByteArray& reply) { push(ScriptedReply{{reply}}); }

    void setResponder(Responder responder)
    {
        std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }

    std::vector<QByteArray> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t requestCount() const
    {
        std::lock_guard lock(mutex_);
        return requests_.size();
    }
    QByteArray lastRequest() const
    {
        std::lock_guard lock(mutex_);
        return requests_.empty() ? QByteArray() : requests_.back();
    }
    void clearRequests()
    {
        std::lock_guard lock(mutex_);
        requests_.clear();
    }
    std::size_t scriptLeft() const
    {
        std::lock_guard lock(mutex_);
        return script_.size();
    }
    int connections() const { return connections_.load(); }

    // Ends the current connection at once: a client blocked in a receive
    // then sees the end of the stream.
    void dropClient()
    {
        const int c = client_.load();
        if (c >= 0)
            ::shutdown(c, SHUT_RDWR);
    }

    // A request's name: everything before the first "=".
    static QByteArray nameOf(const QByteArray& request)
    {
        const qsizetype eq = request.indexOf('=');
        return eq < 0 ? request : request.left(eq);
    }
    static QByteArray okReply(const QByteArray& request) { return nameOf(request) + "=(n=00000000)"; }

private:
    static bool looksComplete(const QByteArray& text)
    {
        const qsizetype eq = text.indexOf('=');
        if (eq < 0)
            return false;
        if (eq == text.size() - 1)
            return true;
        if (!text.endsWith(')'))
            return false;
        int64_t depth = 0;
        for (qsizetype i = eq + 1; i < text.size(); ++i)
            depth += (text[i] == '(') - (text[i] == ')');
        return depth == 0;
    }

    // Waits up to `ms` for `fd` to become readable; false on timeout or stop.
    bool readable(int fd, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    void run()
    {
        while (!stop_.load()) {
            if (!readable(listening_, 50))
                continue;
            const int c = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            const int on = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ++connections_;
            client_.store(c);
            serve(c);
            client_.store(-1);
            ::close(c);
        }
    }

    void serve(int c)
    {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            std::size_t minBytes = 0;
            {
                std::lock_guard lock(mutex_);
                if (!script_.empty())
                    minBytes = script_.front().minRequestBytes;
            }
            QByteArray request;
            // A client that stays silent this long is stuck waiting for a
            // reply that will never end: dropping it lets the call fail
            // instead of hanging the test.
            int idleMs = 0;
            for (;;) {
                if (stop_.load())
                    return;
                if (!readable(c, 50)) {
                    if ((idleMs += 50) >= kIdleLimitMs)
                        return;
                    continue;
                }
                idleMs = 0;
                const ssize_t n = ::recv(c, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    return;
                request.append(buffer.data(), qsizetype(n));
                if (std::size_t(request.size()) >= minBytes && looksComplete(request) && !readable(c, 2))
                    break;
            }
            ScriptedReply reply;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                if (!script_.empty()) {
                    reply = std::move(script_.front());
                    script_.pop_front();
                } else {
                    reply.chunks = {responder_ ? responder_(request) : okReply(request)};
                }
            }
            if (!send(c, reply))
                return;
            if (reply.closeAfter)
                return;
        }
    }

    bool send(int c, const ScriptedReply& reply)
    {
        for (std::size_t i = 0; i < reply.chunks.size(); ++i) {
            if (i > 0 && reply.gapMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.gapMs));
            const bool last = i + 1 == reply.chunks.size();
            if (last && reply.closeAfter) {
                // Hold the data back so that the FIN rides on the same segment.
                const int on = 1;
                ::setsockopt(c, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
            }
            const QByteArray& chunk = reply.chunks[i];
            qsizetype sent = 0;
            while (sent < chunk.size()) {
                const ssize_t n = ::send(c, chunk.constData() + sent, std::size_t(chunk.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    return false;
                sent += n;
            }
            if (last && reply.closeAfter)
                ::shutdown(c, SHUT_WR);
        }
        if (reply.chunks.empty() && reply.closeAfter)
            ::shutdown(c, SHUT_WR);
        return true;
    }

    static constexpr int kIdleLimitMs = 10000;

    int listening_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> client_{-1};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::deque<ScriptedReply> script_;
    std::vector<QByteArray> requests_;
    Responder responder_;
};

// Holds address:port bound but not listening, so that a connection attempt
// there is refused even while other runs of the tests use the address.
class RefusingPort {
public:
    explicit RefusingPort(const char* address, uint16_t port = 6002, int bindWaitMs = 60000)
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &local.sin_addr);
        for (int waited = 0;; waited += 100) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
                return;
            ::close(fd_);
            fd_ = -1;
            if (waited >= bindWaitMs)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~RefusingPort()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    bool isHeld() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Runs `call` on another thread and waits up to `ms` for it. When it is
// late, the server drops the connection so that the call (blocked in a
// receive) comes back; the result is then empty, marking the hang.
template <typename F>
auto callWithDeadline(ScriptedServer& server, int ms, F call) -> std::optional<decltype(call())>
{
    auto future = std::async(std::launch::async, std::move(call));
    if (future.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready)
        return future.get();
    server.dropClient();
    future.wait_for(std::chrono::seconds(10));
    return std::nullopt;
}

} // namespace tqbse::test
