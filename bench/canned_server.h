// A minimal request/reply server for the benchmarks: raw POSIX sockets, one
// thread polling every connection, TCP_NODELAY, one prepared reply per
// request. It does as little as a server can, so what is measured is the
// client side.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tqbse::bench {

class CannedServer {
public:
    // Serves `address`:`port` (loopback only) once start() succeeds.
    CannedServer(std::string address, uint16_t port);
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    // Registers the reply for one exact request text. Call before start().
    void add(const std::string& request, std::string reply);

    // Binds and starts accepting. `cpu` >= 0 pins the server's threads to
    // that core. Returns false (with errno set) when the bind fails.
    bool start(int cpu = -1);
    // Closes every connection and joins the thread. Idempotent.
    void stop();

    // Requests answered so far, over every connection.
    uint64_t served() const { return served_.load(std::memory_order_relaxed); }

    // Where a request ends: a ")" that closes the last open "(", or an "="
    // with no token after it. Returns the request's length, 0 if incomplete.
    static std::size_t requestLength(const std::string& pending);

    // The reply for a request: the registered one, or name=(n=f8ffffff).
    const std::string& replyFor(const std::string& request, std::string& scratch) const;

private:
    void run();

    std::string address_;
    uint16_t port_;
    int cpu_ = -1;
    int listening_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> served_{0};
    std::unordered_map<std::string, std::string> replies_;
    std::thread thread_;
};

// Pins the calling thread to one core; false when that is not possible.
bool pinThisThread(int cpu);

} // namespace tqbse::bench
