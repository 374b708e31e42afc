// A stand-in for the server on a loopback address. It serves one client
// connection at a time (a new Initialise is accepted once the old connection
// closes), records every request and answers each with the next queued
// ScriptedReply, or else with the responder's (by default: the request's
// name and result 0). A scripted reply can go out in pieces with pauses, and
// can end the connection after any number of its bytes.
//
// A request ends where the protocol's RequestFramer says it does; one that
// never completes (a text left out for its limit, say) is taken once the
// client has been quiet for a while, as the emulator does.
//
// By default the server listens on a port of its own and becomes the
// library's server (setPortsForTesting), so suites can run side by side.
// Every wait polls with a short timeout and watches the stop flag, and every
// socket has send and receive timeouts, so nothing here can hang a test.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "client/receive.h"
#include "platform/host.h"
#include "support/sockets.h"

namespace tqbse::test {

// What the server sends for one request.
struct ScriptedReply {
    ScriptedReply(std::string t = {}, std::vector<std::size_t> c = {}, int pause = 0, int64_t close = -1)
        : text(std::move(t)), cuts(std::move(c)), pauseMs(pause), closeAfter(close)
    {
    }
    ScriptedReply(const char* t) : ScriptedReply(std::string(t)) {}

    std::string text;              // bytes to send (may hold anything)
    std::vector<std::size_t> cuts; // offsets where one send ends and the next begins
    int pauseMs = 0;               // pause between two pieces
    int64_t closeAfter = -1;       // >= 0: send that many bytes, then end the connection
    int holdMs = 0;                // after sending it all, read nothing for this long
};

// A reply sent as the given pieces.
inline ScriptedReply inPieces(const std::vector<std::string>& pieces, int pauseMs)
{
    ScriptedReply r;
    for (const std::string& p : pieces) {
        if (!r.text.empty())
            r.cuts.push_back(r.text.size());
        r.text += p;
    }
    r.pauseMs = pauseMs;
    return r;
}

// The whole reply, then the connection ended.
inline ScriptedReply thenClose(const std::string& text) { return ScriptedReply(text, {}, 0, int64_t(text.size())); }

// Cuts into pieces of 1..maxPiece bytes (seeded), anywhere: right after an
// inner ")" too.
inline std::vector<std::size_t> randomCuts(const std::string& reply, std::mt19937& rng, int maxPiece)
{
    std::vector<std::size_t> cuts;
    std::uniform_int_distribution<int> piece(1, maxPiece);
    for (std::size_t at = std::size_t(piece(rng)); at < reply.size(); at += std::size_t(piece(rng)))
        cuts.push_back(at);
    return cuts;
}

// Binds ip:port, listening or not. Port 0 takes a free port. A fixed port
// that another run of the tests holds is retried for up to `waitMs`.
inline platform::SocketHandle boundSocket(const char* ip, uint16_t port, bool listen, int waitMs = 60000)
{
    for (int waited = 0;; waited += 100) {
        const platform::SocketHandle s = platform::openTcpSocket();
        if (s == platform::kInvalidSocket)
            return s;
        if (listen)
            platform::setListenerAddressOption(s);
        if (platform::bindSocket(s, endpoint(ip, port)) == 0 && (!listen || platform::listenSocket(s, platform::kListenBacklog) == 0))
            return s;
        platform::closeSocket(s);
        if (port == 0 || waited >= waitMs)
            return platform::kInvalidSocket;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

class FakeServer {
public:
    using Responder = std::function<ScriptedReply(const std::string& request)>;

    // Port 0: a free port, which becomes the library's server port.
    explicit FakeServer(const char* ip, uint16_t port = 0)
    {
        platform::socketLibraryStartup();
        listening_ = boundSocket(ip, port, true);
        platform::Endpoint local{};
        if (listening_ == platform::kInvalidSocket || platform::localEndpoint(listening_, &local) != 0)
            return;
        port_ = local.port;
        if (port == 0)
            setPortsForTesting(port_, 0);
        thread_ = std::thread([this] { run(); });
    }
    ~FakeServer()
    {
        stop();
        platform::socketLibraryCleanup();
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    bool isListening() const { return listening_ != platform::kInvalidSocket; }
    uint16_t port() const { return port_; }

    // Stops serving and closes the port: later connection attempts are refused.
    void stop()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        if (listening_ != platform::kInvalidSocket)
            platform::closeSocket(listening_);
        listening_ = platform::kInvalidSocket;
    }

    void push(ScriptedReply reply)
    {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(reply));
    }
    void setResponder(Responder responder)
    {
        std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }

    std::vector<std::string> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::string lastRequest() const
    {
        std::lock_guard lock(mutex_);
        return requests_.empty() ? std::string() : requests_.back();
    }
    int connections() const { return connections_.load(); }
    // Waits until every reply taken from the script or the responder has
    // been sent whole (pauses included); false after `timeoutMs`.
    bool waitUntilSent(int timeoutMs = 5000) const
    {
        for (int waited = 0; waited < timeoutMs; waited += kPollMs) {
            {
                std::lock_guard lock(mutex_);
                if (sent_ == requests_.size())
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
        return false;
    }


private:
    void run()
    {
        while (!stop_.load()) {
            if (!platform::waitReadable(listening_, 20))
                continue;
            const platform::SocketHandle c = platform::acceptPeer(listening_, nullptr);
            if (c == platform::kInvalidSocket)
                continue;
            // A 64 MiB reply to a client slowed down by a loaded machine
            // (Wine above all) may wait on a full window for seconds.
            platform::setTimeouts(c, 4 * kSocketTimeoutMs);
            platform::setNoDelay(c);
            ++connections_;
            serve(c);
            platform::closeSocket(c);
        }
    }

    void serve(platform::SocketHandle c)
    {
        for (;;) {
            std::string request;
            RequestFramer framer;
            // A client silent this long waits for a reply that never ends:
            // dropping it lets the call fail instead of hanging the test.
            const auto keepWaiting = [this](int idleMs) { return !stop_.load() && idleMs < kIdleLimitMs; };
            const auto anyRoom = [](std::size_t) { return true; };
            const RequestEnd end = receiveRequest(c, request, framer, {kPollMs}, keepWaiting, anyRoom);
            if (end != RequestEnd::Complete && end != RequestEnd::Quiet)
                return;
            ScriptedReply reply;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                if (!script_.empty()) {
                    reply = std::move(script_.front());
                    script_.pop_front();
                } else {
                    // By default: the request's name and result 0.
                    reply = responder_ ? responder_(request)
                                       : ScriptedReply(request.substr(0, request.find('=')) + "=(n=00000000)");
                }
            }
            const bool sent = send(c, reply);
            for (int held = 0; sent && held < reply.holdMs && !stop_.load(); held += kPollMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            {
                std::lock_guard lock(mutex_);
                ++sent_;
            }
            if (!sent || reply.closeAfter >= 0)
                return;
        }
    }

    bool send(platform::SocketHandle c, const ScriptedReply& reply)
    {
        const std::string& r = reply.text;
        const std::size_t total = reply.closeAfter >= 0 ? std::min(std::size_t(reply.closeAfter), r.size()) : r.size();
        std::vector<std::size_t> ends = reply.cuts;
        ends.push_back(r.size());
        std::size_t at = 0;
        for (std::size_t end : ends) {
            end = std::min(end, total);
            if (end <= at)
                continue;
            if (platform::sendAll(c, r.data() + at, end - at) != 0)
                return false;
            at = end;
            if (at < total && reply.pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
        }
        if (reply.closeAfter >= 0)
            platform::shutdownSend(c);
        return true;
    }

    static constexpr int kPollMs = 10;
    static constexpr int kIdleLimitMs = 30000;

    platform::SocketHandle listening_ = platform::kInvalidSocket;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::deque<ScriptedReply> script_;
    std::vector<std::string> requests_;
    std::size_t sent_ = 0; // replies sent whole (or given up)
    Responder responder_;
};

// Holds ip:port bound but not listening, so that a connection attempt there
// is refused whatever else runs on the host.
class RefusingPort {
public:
    RefusingPort(const char* ip, uint16_t port) : s_(boundSocket(ip, port, false)) {}
    ~RefusingPort()
    {
        if (s_ != platform::kInvalidSocket)
            platform::closeSocket(s_);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    bool isHeld() const { return s_ != platform::kInvalidSocket; }

private:
    platform::SocketHandle s_;
};

} // namespace tqbse::test
