// The process-wide client connection to the server's port.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tqbse {

// A reply that could end at a ")" but is not plainly complete is taken as
// complete once no more bytes arrive for this long.
inline constexpr int kQuietMs = 100;
// How long connectToServer waits for an unreachable host.
inline constexpr int kConnectTimeoutMs = 10000;

class ClientSocket {
public:
    // The one instance, created on first use; used on the calling thread only.
    static ClientSocket& instance();
    // Discards the instance; the next instance() creates a fresh one.
    static void destroy();

    void setAddress(int32_t a, int32_t b, int32_t c, int32_t d);
    const std::string& addressText() const { return address_; }
    bool isConnected() const { return connected_; }

    // 0 when the connection stands, -1 otherwise (the reason is printed).
    int connectToServer(uint16_t port);
    // Sends the request whole and appends one complete reply. 0 or -1.
    int exchange(std::string_view request, std::string& reply);
    // A reply deadline in milliseconds for every exchange, 0 for none (the
    // default: an exchange waits as long as the reply takes). When a
    // deadline expires the socket is closed and the connection marked not
    // connected, so that a late reply can never be read as the answer to a
    // later call; every call then fails at once until the next connect.
    void setReplyDeadline(int milliseconds) { replyDeadlineMs_ = milliseconds > 0 ? milliseconds : 0; }
    int replyDeadline() const { return replyDeadlineMs_; }
    // Closes the socket (if one was created) and releases the socket library.
    int close();

private:
    ClientSocket() = default;

    std::string address_ = "127.0.0.1";
    platform::Endpoint server_{};
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    bool connected_ = false;
    int replyDeadlineMs_ = 0;

    using Clock = std::chrono::steady_clock;
    // Waits for bytes until `deadline`. False when the deadline has passed
    // with nothing to read.
    bool waitForBytes(Clock::time_point deadline) const;
    void abandonConnection();
};

} // namespace tqbse
