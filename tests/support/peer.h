// A TCP client for the tests: by default a peer of the callback listener on
// 127.0.0.1 at the library's listener port, or a raw client of any loopback
// endpoint (the emulator). Every socket has send and receive timeouts, and
// every read is bounded.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/sockets.h"

namespace tqbse::test {

class Peer {
public:
    // A refused connection is retried for up to `connectWaitMs` (a listener
    // being restarted); every receive and send waits at most `timeoutMs`.
    explicit Peer(int timeoutMs = kSocketTimeoutMs, int connectWaitMs = 0)
        : Peer(endpoint("127.0.0.1", listenerPort()), timeoutMs, connectWaitMs)
    {
    }
    Peer(platform::Endpoint to, int timeoutMs, int connectWaitMs = 0)
    {
        platform::socketLibraryStartup();
        for (int waited = 0; !connected_; waited += 10) {
            close();
            s_ = platform::openTcpSocket();
            if (s_ == platform::kInvalidSocket)
                break;
            platform::setTimeouts(s_, timeoutMs);
            connected_ = platform::connectWithTimeout(s_, to, timeoutMs) == 0;
            if (connected_ || waited >= connectWaitMs)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Peer()
    {
        close();
        platform::socketLibraryCleanup();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool connected() const { return connected_; }
    int localPort() const
    {
        platform::Endpoint local{};
        return platform::localEndpoint(s_, &local) ? local.port : -1;
    }

    bool send(const std::string& data) const { return platform::sendAll(s_, data.data(), data.size()) == 0; }

    // Reads until the received text ends in ")" (one default-handler reply).
    std::string receiveReply(std::size_t limit = 1 << 20) const
    {
        std::string got;
        char buffer[65536];
        while (got.size() < limit && (got.empty() || got.back() != ')')) {
            const int64_t n = platform::receiveSome(s_, buffer, sizeof buffer);
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
            const int64_t n = platform::receiveSome(s_, buffer.data(), std::min(buffer.size(), size - got.size()));
            if (n <= 0)
                break;
            got.append(buffer.data(), std::size_t(n));
        }
        return got;
    }

    // True when nothing arrives for `ms` (the listener is not answering).
    bool silentFor(int ms) const { return !platform::waitReadable(s_, ms); }

    // True when the other end closed the connection (end of stream or
    // reset); false when the receive only timed out.
    bool closedByListener() const
    {
        char c;
        const int64_t n = platform::receiveSome(s_, &c, 1);
        return n == 0 || (n < 0 && platform::classifyError(platform::lastError()) != platform::ErrorClass::WouldBlock);
    }

    // Closing with bytes still unread sends a reset rather than an orderly end.
    void close()
    {
        if (s_ != platform::kInvalidSocket)
            platform::closeSocket(s_);
        s_ = platform::kInvalidSocket;
    }

    std::string exchange(const std::string& message) const { return send(message) ? receiveReply() : std::string(); }

private:
    platform::SocketHandle s_ = platform::kInvalidSocket;
    bool connected_ = false;
};

} // namespace tqbse::test
