// A raw stand-in for the server on port 6002 of one loopback address, for
// fault injection: every request is answered by a Plan that says which bytes
// go out, cut where, with which pauses, and whether the connection is
// killed part-way. One client connection at a time; a killed connection is
// followed by the next accepted one, so a new Initialise gets through.
//
// Every wait polls with a short timeout and checks the stop flag, and every
// socket has send and receive timeouts, so the thread always ends.
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
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tqbse::hardening {

inline constexpr int kSocketTimeoutMs = 5000;

inline void setSocketTimeouts(int fd, int ms = kSocketTimeoutMs)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// What the server does with one request.
struct Plan {
    QByteArray reply;                // bytes to send (may hold anything)
    std::vector<qsizetype> cuts;     // offsets where one send ends and the next begins
    int pauseMs = 0;                 // pause after each piece but the last
    qsizetype killAfter = -1;        // >= 0: send that many bytes, then close the connection
};

// Piece ends for a reply cut into pieces of 1..maxPiece bytes (seeded), never
// right after an inner ")" so that no piece but the last can look like the
// end of the reply.
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

class RawServer {
public:
    using Script = std::function<Plan(const QByteArray& request)>;

    explicit RawServer(const char* address, uint16_t port = 6002)
    {
        listening_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listening_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &local.sin_addr);
        if (::bind(listening_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
            || ::listen(listening_, 4) != 0) {
            ::close(listening_);
            throw std::runtime_error(std::string("cannot listen on ") + address);
        }
        thread_ = std::thread([this] { run(); });
    }

    ~RawServer()
    {
        stop_.store(true);
        thread_.join();
        ::close(listening_);
    }

    void setScript(Script script)
    {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }
    int requests() const { return requests_.load(); }
    int connections() const { return connections_.load(); }
    QByteArray lastRequest() const
    {
        std::lock_guard lock(mutex_);
        return lastRequest_;
    }

    // The reply that a well-behaved server gives to every request without
    // outputs: its name, "=" and result 0.
    static Plan okReply(const QByteArray& request)
    {
        const qsizetype eq = request.indexOf('=');
        return Plan{request.left(eq < 0 ? request.size() : eq) + "=(n=00000000)", {}, 0, -1};
    }

private:
    bool waitReadable(int fd, int ms) const
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    void run()
    {
        // Bounded: the thread ends when the object is destroyed.
        while (!stop_.load()) {
            if (!waitReadable(listening_, 20))
                continue;
            const int client = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++connections_;
            setSocketTimeouts(client);
            const int on = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            serve(client);
            ::close(client);
        }
    }

    // Reads one request: what arrives until the line goes quiet (2 ms after
    // a byte that can end a request, 50 ms after any other).
    bool readRequest(int client, QByteArray* request)
    {
        request->clear();
        char buffer[65536];
        for (int waits = 0; !stop_.load() && waits < 1000; ++waits) {
            const bool mayEnd = !request->isEmpty() && (request->back() == ')' || request->back() == '=');
            if (!waitReadable(client, request->isEmpty() ? 20 : mayEnd ? 2 : 50)) {
                if (!request->isEmpty())
                    return true;
                waits = 0; // idle between requests: wait while the client stays
                continue;
            }
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            request->append(buffer, n);
        }
        return false;
    }

    bool sendBytes(int client, const char* p, qsizetype n)
    {
        while (n > 0) {
            const ssize_t sent = ::send(client, p, std::size_t(n), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            p += sent;
            n -= sent;
        }
        return true;
    }

    void serve(int client)
    {
        QByteArray request;
        while (!stop_.load() && readRequest(client, &request)) {
            ++requests_;
            Plan plan;
            {
                std::lock_guard lock(mutex_);
                lastRequest_ = request;
                plan = script_ ? script_(request) : okReply(request);
            }
            const QByteArray& r = plan.reply;
            const qsizetype total = plan.killAfter >= 0 ? std::min(plan.killAfter, r.size()) : r.size();
            qsizetype at = 0;
            std::vector<qsizetype> ends = plan.cuts;
            ends.push_back(r.size());
            for (qsizetype end : ends) {
                end = std::min(end, total);
                if (end <= at)
                    continue;
                if (!sendBytes(client, r.constData() + at, end - at))
                    return;
                at = end;
                if (at < total && plan.pauseMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(plan.pauseMs));
            }
            if (plan.killAfter >= 0)
                return; // the caller closes the connection
        }
    }

    int listening_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    Script script_;
    QByteArray lastRequest_;
};

} // namespace tqbse::hardening
