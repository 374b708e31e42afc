// A minimal request/reply server for the benchmarks: sockets through
// platform/platform.h, one thread waiting on every connection, TCP_NODELAY,
// request ends found by tqbse::RequestFramer, one prepared reply per
// request. It does as little as a server can, so what is measured is the
// client side.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/platform.h"

namespace tqbse::bench {

class CannedServer {
public:
    // Serves `address`:`port` (loopback only; port 0 takes a free port)
    // once start() succeeds.
    CannedServer(std::string address, uint16_t port);
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    // Registers the reply for one exact request text. Call before start().
    void add(const std::string& request, std::string reply);

    // Binds and starts accepting. `cpu` >= 0 pins the server's threads to
    // that core. Returns false when the address is not a loopback one or the
    // bind fails; error() says why.
    bool start(int cpu = -1);
    // Closes every connection and joins the thread. Idempotent.
    void stop();

    const std::string& error() const { return error_; }
    // The port served (the one taken when constructed with port 0).
    uint16_t port() const { return port_; }
    // Requests answered so far, over every connection.
    uint64_t served() const { return served_.load(std::memory_order_relaxed); }

    // The reply for a request: the registered one, or name=(n=f8ffffff).
    const std::string& replyFor(const std::string& request, std::string& scratch) const;

private:
    void run();

    std::string address_;
    uint16_t port_;
    int cpu_ = -1;
    std::string error_;
    platform::SocketHandle listening_ = platform::kInvalidSocket;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> served_{0};
    std::unordered_map<std::string, std::string> replies_;
    std::thread thread_;
};

// Pins the calling thread to one core; false when that is not possible.
bool pinThisThread(int cpu);

} // namespace tqbse::bench
