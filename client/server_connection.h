// One client connection to a server's port, and the lock that gives it to
// one call at a time. Every session (client/session.h) owns one; the flat
// exports use the default session's.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "protocol/reply_reader.h"

namespace tqbse {

// How long connectToServer waits for an unreachable host, unless the
// session's options say otherwise (setConnectTimeout).
inline constexpr int kConnectTimeoutMs = 10000;
// Bringing the connection back in step after a bad reply gives up (and
// closes the connection) when the server is still sending after this long.
inline constexpr int kResyncLimitMs = 1000;
// Unrequested bytes found before a request beyond this many mean a server
// that floods the connection: it is closed rather than read for ever.
inline constexpr std::size_t kMaxStaleBytes = std::size_t(1) << 20;

// What ends one call's reply and how large it may grow, from the call's row.
struct ReplyLimits {
    int expectedTokens = 1;                // result and output tokens of a successful reply
    std::size_t maxBytes = SIZE_MAX;       // past this the connection is given up
    std::string_view name;                 // the name the reply should carry, if known
};

class ServerConnection {
public:
    ServerConnection() = default;
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // Forgets the connection's settings: the next use finds the state of a
    // new connection (address 127.0.0.1, not connected, no deadline, the
    // default connect timeout). The socket must be closed first.
    void reset();

    // A dotted IPv4 address or a host name, resolved at connectToServer.
    void setAddress(std::string_view address) { address_ = address; }
    const std::string& addressText() const { return address_; }
    bool isConnected() const { return connected_; }
    // The server's IPv4 address (host byte order) as the last successful
    // connect resolved it; 0 before one.
    uint32_t serverAddress() const { return server_.address; }
    void setConnectTimeout(int milliseconds) { connectTimeoutMs_ = milliseconds > 0 ? milliseconds : kConnectTimeoutMs; }

    // 0 when the connection stands, -1 otherwise (the reason is printed).
    int connectToServer(uint16_t port);
    // Sends the request whole and reads one complete reply into reader():
    // 0, or -1 when the exchange failed. Bytes already waiting before the
    // request goes out can only be a stale or duplicated reply and are
    // discarded first. A reply larger than `limits.maxBytes` closes the
    // connection. `reserve` bytes are set aside for the reply up front.
    int exchange(std::string_view request, const ReplyLimits& limits = {}, std::size_t reserve = 0);
    // The reply of the last exchange, and the buffer the next request is
    // built in: both kept from call to call, so a small call allocates
    // nothing. Used under the connection lock only.
    ReplyReader& reader() { return reader_; }
    std::string& requestBuffer() { return request_; }
    // Where the reply is cut into its tokens, kept for the same reason.
    codec::SplitMessage& splitReply() { return split_; }
    // After a reply failed its checks: discards what is still waiting or
    // arrives within the quiet wait, so that the next call starts in step.
    void resynchronise();
    // A reply deadline in milliseconds covering each whole exchange, sending
    // included; 0 for none (the default: an exchange waits as long as the
    // server takes). When a deadline expires the socket is closed and the
    // connection marked not connected, so that a late reply can never be
    // read as the answer to a later call; every call then fails at once
    // until the next connect.
    void setReplyDeadline(int milliseconds) { replyDeadlineMs_ = milliseconds > 0 ? milliseconds : 0; }
    int replyDeadline() const { return replyDeadlineMs_; }
    // The host's interrupt descriptor (platform::waitForSocketOrInterrupt),
    // or kInvalidSocket for none (the default). With one, every exchange
    // first drains it, then waits for its socket and the descriptor
    // together: once the descriptor is readable the exchange ends, the
    // connection is dropped as when a deadline expires, and the call fails
    // with -14. Without one, an exchange costs no extra system call.
    void setInterrupt(platform::SocketHandle interrupt) { interrupt_ = interrupt; }
    // Closes the socket (if one was created) and releases the socket library.
    int close();

    // Ends the exchange another thread is waiting in: its receive returns at
    // once and its call fails with -14. Safe from any thread, lock or not.
    void interruptExchange();

    // Remote calls hold this lock from request to reply, so calls from
    // several host threads are served one after another, each with its own
    // reply.
    std::unique_lock<std::mutex> lock() { return std::unique_lock(callMutex_); }
    // The lock for connecting and closing: a call that another thread waits
    // in is ended first (-14) rather than waited for, since its reply may
    // never come.
    std::unique_lock<std::mutex> takeOver();

private:
    using Clock = std::chrono::steady_clock;

    std::string address_ = "127.0.0.1";
    platform::Endpoint server_{};
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    bool connected_ = false;
    int replyDeadlineMs_ = 0;
    int connectTimeoutMs_ = kConnectTimeoutMs;
    bool libraryStarted_ = false; // holds one socket library start-up
    platform::SocketHandle interrupt_ = platform::kInvalidSocket;
    ReplyReader reader_;
    std::string request_;
    codec::SplitMessage split_;
    std::mutex callMutex_;
    // The socket an interrupt may shut down: the connected one, or none. Set
    // and cleared by the thread that holds the call lock, read by an
    // interrupting thread; both under this mutex, so an interrupt never
    // reaches a socket that has been closed (whose handle the system may
    // have reused).
    std::mutex liveSocketMutex_;
    platform::SocketHandle liveSocket_ = platform::kInvalidSocket;

    int discardStaleBytes();
    int sendRequest(std::string_view request, const Clock::time_point* deadline);
    // Waits until the socket is ready for `interest`, until `deadline` (none
    // for nullptr) or the host's interrupt, whichever comes first.
    platform::WaitEnd waitFor(platform::Interest interest, const Clock::time_point* deadline) const;
    // Drops the connection after a wait ended without the socket ready,
    // saying why in the trace.
    void abandonAfter(platform::WaitEnd end, const char* during);
    void setSocket(platform::SocketHandle s);
    // Ends the connection's socket library start-up, if it holds one.
    int releaseLibrary();
    void abandonConnection();
};

} // namespace tqbse
