// A peer of the callback listener: a TCP client of 127.0.0.1 at the library's
// listener port, from any loopback address (bound before it connects). Its
// socket has send and receive timeouts, and every read is bounded.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sockets.h"

namespace tqbse::test {

class Peer {
public:
    // A peer that cannot connect is a test failure; its sends then fail too.
    explicit Peer(const char* from = nullptr)
    {
        platform::socketLibraryStartup();
        s_ = platform::openTcpSocket();
        const bool connected = s_ != platform::kInvalidSocket && platform::setTimeouts(s_, kSocketTimeoutMs) == 0
            && (from == nullptr || platform::bindSocket(s_, endpoint(from, 0)) == 0)
            && platform::connectWithTimeout(s_, endpoint("127.0.0.1", listenerPort()), kSocketTimeoutMs) == 0;
        EXPECT_TRUE(connected) << "no listener on port " << listenerPort();
    }
    ~Peer()
    {
        close();
        platform::socketLibraryCleanup();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int localPort() const
    {
        platform::Endpoint local{};
        return platform::localEndpoint(s_, &local) == 0 ? local.port : -1;
    }

    bool send(const std::string& data) const { return platform::sendAll(s_, data.data(), data.size()) == 0; }

    // Reads `size` bytes; without a size, until the text ends in ")" (one
    // default-handler reply). Returns what came before a timeout or the end.
    std::string receive(std::size_t size = std::string::npos) const
    {
        std::string got;
        std::vector<char> buffer(1 << 16);
        while (got.size() < size && (size != std::string::npos || got.empty() || got.back() != ')')) {
            const int64_t n = platform::receiveSome(s_, buffer.data(), std::min(buffer.size(), size - got.size()));
            if (n <= 0)
                break;
            got.append(buffer.data(), std::size_t(n));
        }
        return got;
    }

    std::string exchange(const std::string& message, std::size_t replySize = std::string::npos) const
    {
        return send(message) ? receive(replySize) : std::string();
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

private:
    platform::SocketHandle s_ = platform::kInvalidSocket;
};

} // namespace tqbse::test
