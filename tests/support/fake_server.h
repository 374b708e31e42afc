// A stand-in for the server on port 6002 of a loopback address. It serves
// one client connection at a time (a new Initialise is accepted once the old
// connection closes), records every request and answers each with the next
// queued Reply, or else with the responder's (by default: the request's name
// and result 0). A Reply can go out in pieces with pauses, and can close the
// connection after any number of its bytes.
//
// Every wait polls with a short timeout and watches the stop flag, and every
// socket has send and receive timeouts, so nothing here can hang a test.
#pragma once

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace tqbse::test {

inline constexpr int kSocketTimeoutMs = 5000;

inline void setTimeouts(int fd, int ms = kSocketTimeoutMs)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

inline sockaddr_in address(const char* ip, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// Binds ip:port, retrying for up to `waitMs` while another run of the tests
// holds the address; -1 when it stays taken.
inline int bindRetrying(const char* ip, int port, bool listen, int waitMs = 60000)
{
    const sockaddr_in a = address(ip, port);
    for (int waited = 0;; waited += 100) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (listen)
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 && (!listen || ::listen(fd, 4) == 0))
            return fd;
        ::close(fd);
        if (waited >= waitMs)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// What the server sends for one request.
struct Reply {
    Reply(QByteArray t = {}, std::vector<qsizetype> c = {}, int pause = 0, qsizetype kill = -1)
        : text(std::move(t)), cuts(std::move(c)), pauseMs(pause), killAfter(kill)
    {
    }
    Reply(const char* t) : Reply(QByteArray(t)) {}

    QByteArray text;              // bytes to send (may hold anything)
    std::vector<qsizetype> cuts;  // offsets where one send ends and the next begins
    int pauseMs = 0;              // pause between two pieces
    qsizetype killAfter = -1;     // >= 0: send that many bytes, then close (the FIN rides on the last piece)
    std::size_t minRequestBytes = 0; // read at least this much of the request before answering
};

// A reply sent as the given pieces.
inline Reply inPieces(const std::vector<QByteArray>& pieces, int pauseMs)
{
    Reply r;
    for (const QByteArray& p : pieces) {
        if (!r.text.isEmpty())
            r.cuts.push_back(r.text.size());
        r.text += p;
    }
    r.pauseMs = pauseMs;
    return r;
}

// The whole reply, then the connection closed.
inline Reply thenClose(const QByteArray& text) { return Reply(text, {}, 0, text.size()); }

// Cuts into pieces of 1..maxPiece bytes (seeded), never right after an inner
// ")" so that no piece but the last can look like the end of the reply.
inline std::vector<qsizetype> randomCuts(const QByteArray& reply, std::mt19937& rng, int maxPiece)
{
    std::vector<qsizetype> cuts;
    std::uniform_int_distribution<int> piece(1, maxPiece);
    qsizetype at = 0;
    for (int guard = 0; guard < 1'000'000 && at < reply.size(); ++guard) {
        at += piece(rng);
        while (at < reply.size() && reply[at - 1] == ')')
            ++at;
        if (at < reply.size())
            cuts.push_back(at);
    }
    return cuts;
}

// One byte per piece, except that an inner ")" travels with the byte after it.
inline std::vector<qsizetype> dripCuts(const QByteArray& reply)
{
    std::vector<qsizetype> cuts;
    for (qsizetype at = 1; at < reply.size(); ++at)
        if (reply[at - 1] != ')')
            cuts.push_back(at);
    return cuts;
}

class FakeServer {
public:
    using Responder = std::function<Reply(const QByteArray& request)>;

    explicit FakeServer(const char* ip, int port = 6002) : listening_(bindRetrying(ip, port, true))
    {
        if (listening_ >= 0)
            thread_ = std::thread([this] { run(); });
    }
    ~FakeServer() { stop(); }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    bool isListening() const { return listening_ >= 0; }

    // Stops serving and closes the port: later connection attempts are refused.
    void stop()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        if (listening_ >= 0)
            ::close(listening_);
        listening_ = -1;
    }

    void push(Reply reply)
    {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(reply));
    }
    void setResponder(Responder responder)
    {
        std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }
    // Every request is answered with `reply`.
    void answerAll(const Reply& reply)
    {
        setResponder([reply](const QByteArray&) { return reply; });
    }

    std::vector<QByteArray> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t requestCount() const { return requests().size(); }
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
        if (eq < 0 || (eq < text.size() - 1 && !text.endsWith(')')))
            return false;
        int64_t depth = 0;
        for (qsizetype i = eq + 1; i < text.size(); ++i)
            depth += (text[i] == '(') - (text[i] == ')');
        return depth == 0;
    }

    bool readable(int fd, int ms) const
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    void run()
    {
        while (!stop_.load()) {
            if (!readable(listening_, 20))
                continue;
            const int c = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            setTimeouts(c);
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
            // A client silent this long waits for a reply that never ends:
            // dropping it lets the call fail instead of hanging the test.
            for (int idleMs = 0;;) {
                if (stop_.load())
                    return;
                if (!readable(c, 20)) {
                    if ((idleMs += 20) >= kIdleLimitMs)
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
            Reply reply;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                if (!script_.empty()) {
                    reply = std::move(script_.front());
                    script_.pop_front();
                } else {
                    reply = responder_ ? responder_(request) : Reply(okReply(request));
                }
            }
            if (!send(c, reply) || reply.killAfter >= 0)
                return;
        }
    }

    bool send(int c, const Reply& reply)
    {
        const QByteArray& r = reply.text;
        const qsizetype total = reply.killAfter >= 0 ? std::min(reply.killAfter, r.size()) : r.size();
        std::vector<qsizetype> ends = reply.cuts;
        ends.push_back(r.size());
        qsizetype at = 0;
        for (qsizetype end : ends) {
            end = std::min(end, total);
            if (end <= at)
                continue;
            if (end == total && reply.killAfter >= 0) {
                const int on = 1; // hold the last piece back so that the FIN travels with it
                ::setsockopt(c, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
            }
            for (qsizetype n; at < end; at += n)
                if ((n = ::send(c, r.constData() + at, std::size_t(end - at), MSG_NOSIGNAL)) <= 0)
                    return false;
            if (at < total && reply.pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
        }
        if (reply.killAfter >= 0)
            ::shutdown(c, SHUT_WR);
        return true;
    }

    static constexpr int kIdleLimitMs = 30000;

    int listening_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> client_{-1};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::deque<Reply> script_;
    std::vector<QByteArray> requests_;
    Responder responder_;
};

// Holds ip:port bound but not listening, so that a connection attempt there
// is refused even while other runs of the tests use the address.
class RefusingPort {
public:
    explicit RefusingPort(const char* ip, int port = 6002) : fd_(bindRetrying(ip, port, false)) {}
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
auto callWithDeadline(FakeServer& server, int ms, F call) -> std::optional<decltype(call())>
{
    auto future = std::async(std::launch::async, std::move(call));
    if (future.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready)
        return future.get();
    server.dropClient();
    future.wait_for(std::chrono::seconds(10));
    return std::nullopt;
}

} // namespace tqbse::test
