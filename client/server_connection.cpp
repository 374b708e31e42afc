// The client connection: connect, exchange one request and reply, resynchronise, close.
#include "client/server_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "client/trace.h"
#include "client/receive.h"

namespace tqbse {
namespace {

// Milliseconds left until `deadline`, rounded up so that the deadline never
// ends a wait early; 0 once it has passed.
int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const int64_t left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? int(std::min<int64_t>(left, INT32_MAX)) : 0;
}

} // namespace

void ServerConnection::reset()
{
    setSocket(platform::kInvalidSocket);
    address_ = "127.0.0.1";
    server_ = {};
    socket_ = platform::kInvalidSocket;
    connected_ = false;
    replyDeadlineMs_ = 0;
    connectTimeoutMs_ = kConnectTimeoutMs;
    interrupt_ = platform::kInvalidSocket;
    reader_ = ReplyReader();
    std::string().swap(request_);
    split_ = {};
}

int ServerConnection::connectToServer(uint16_t port)
{
    // A new connection starts without what an earlier one's bulk replies left.
    reader_.release();
    // One start-up per connection, however often it reconnects: the count
    // is shared by every session of the process.
    if (!libraryStarted_ && platform::socketLibraryStartup() != 0) {
        platform::printDiagnostic("Failed to load %s library!\n", platform::socketLibraryName());
        return -1;
    }
    libraryStarted_ = true;
    server_ = platform::Endpoint{0, port};
    if (!platform::parseDottedAddress(address_.c_str(), &server_.address)
        && !platform::lookupHost(address_.c_str(), &server_.address)) {
        platform::printDiagnostic("Unable to resolve server: %s\n", address_.c_str());
        releaseLibrary();
        return -1;
    }
    socket_ = platform::openTcpSocket();
    if (socket_ == platform::kInvalidSocket) {
        platform::printDiagnostic("socket() failed: %d\n", platform::lastError());
        releaseLibrary();
        return -1;
    }
    if (const int error = platform::connectWithTimeout(socket_, server_, connectTimeoutMs_); error != 0) {
        platform::printDiagnostic("connect() failed: %d\n", error);
        trace::connection("connect failed", address_ + ':' + std::to_string(port));
        // The failed socket is never used again: release it and the
        // library start-up now rather than leak them until close().
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
        releaseLibrary();
        return -1;
    }
    platform::setNoDelay(socket_);
    setSocket(socket_);
    connected_ = true;
    trace::connection("connect", address_ + ':' + std::to_string(port));
    return 0;
}

int ServerConnection::exchange(std::string_view request, const ReplyLimits& limits, std::size_t reserve)
{
    reader_.begin(limits.expectedTokens, limits.maxBytes, reserve, limits.name);
    if (!connected_)
        return -1;
    // With a deadline, sending and every receive wait only as long as the
    // deadline leaves; with the host's interrupt, they also end when it
    // becomes readable.
    const bool hasDeadline = replyDeadlineMs_ > 0;
    const bool interruptible = interrupt_ != platform::kInvalidSocket;
    const Clock::time_point deadline =
        hasDeadline ? Clock::now() + std::chrono::milliseconds(replyDeadlineMs_) : Clock::time_point();
    const Clock::time_point* const limit = hasDeadline ? &deadline : nullptr;
    if (interruptible)
        platform::drainInterrupt(interrupt_);
    if (discardStaleBytes() != 0 || sendRequest(request, limit) != 0)
        return -1;
    platform::WaitEnd waitEnd = platform::WaitEnd::Ready;
    const auto waitForReply = [&] {
        waitEnd = waitFor(platform::Interest::Read, limit);
        return waitEnd == platform::WaitEnd::Ready;
    };
    FunctionRef<bool()> waitForBytes = waitForReply;
    switch (receiveReply(socket_, reader_, hasDeadline || interruptible ? &waitForBytes : nullptr)) {
    case ReplyEnd::Whole:
        return 0;
    case ReplyEnd::Broken:
    case ReplyEnd::TooManyReceives: // no bound is set here
        return -1;
    case ReplyEnd::WaitEnded:
        abandonAfter(waitEnd, "");
        return -1;
    case ReplyEnd::OutOfMemory: // the rest of the reply cannot be read
        abandonConnection();
        return -1;
    case ReplyEnd::TooLarge:
        trace::connection("reply too large", "more than " + std::to_string(limits.maxBytes) + " bytes");
        abandonConnection();
        return -1;
    }
    return -1;
}

int ServerConnection::discardStaleBytes()
{
    // Nothing waiting, the usual case, is found out without a receive. The
    // end of the stream also shows as nothing waiting here: the exchange
    // then fails at its receive.
    if (platform::bytesWaiting(socket_) == 0)
        return 0;
    char chunk[kReceiveChunkSize];
    std::size_t discarded = 0;
    for (;;) {
        const int64_t n = platform::receiveNow(socket_, chunk, sizeof chunk);
        if (n > 0) {
            trace::staleBytes(std::string_view(chunk, std::size_t(n)));
            discarded += std::size_t(n);
            if (discarded > kMaxStaleBytes) {
                abandonConnection();
                return -1;
            }
            continue;
        }
        if (n == 0)
            return -1; // the server has closed the connection
        switch (platform::classifyError(platform::lastError())) {
        case platform::ErrorClass::WouldBlock:
            return 0;
        case platform::ErrorClass::Interrupted:
            continue;
        default:
            return -1;
        }
    }
}

int ServerConnection::sendRequest(std::string_view request, const Clock::time_point* deadline)
{
    // The request goes out whole even when the kernel takes it in parts.
    if (deadline == nullptr && interrupt_ == platform::kInvalidSocket)
        return platform::sendAll(socket_, request.data(), request.size());
    // With a deadline or the host's interrupt no send may block: a server
    // that stops reading would hold the call for ever.
    struct Waiting {
        const ServerConnection* connection;
        const Clock::time_point* deadline;
        platform::WaitEnd end;
    } waiting{this, deadline, platform::WaitEnd::Ready};
    const platform::SendOutcome outcome = platform::sendAllNonBlocking(
        socket_, request.data(), request.size(),
        [](void* w) {
            auto* on = static_cast<Waiting*>(w);
            on->end = on->connection->waitFor(platform::Interest::Write, on->deadline);
            return on->end == platform::WaitEnd::Ready;
        },
        &waiting);
    if (outcome == platform::SendOutcome::WaitEnded)
        abandonAfter(waiting.end, ", sending");
    return outcome == platform::SendOutcome::Sent ? 0 : -1;
}

void ServerConnection::resynchronise()
{
    if (!connected_)
        return;
    const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(kResyncLimitMs);
    char chunk[kReceiveChunkSize];
    while (platform::waitReadable(socket_, kReplyQuietMs)) {
        const int64_t n = platform::receiveSome(socket_, chunk, sizeof chunk);
        if (n <= 0)
            return; // closed: the next call finds out (-14)
        trace::staleBytes(std::string_view(chunk, std::size_t(n)));
        if (Clock::now() > limit) {
            // Still sending: this connection cannot be brought back in step.
            abandonConnection();
            return;
        }
    }
}

platform::WaitEnd ServerConnection::waitFor(platform::Interest interest, const Clock::time_point* deadline) const
{
    int left = -1;
    if (deadline != nullptr) {
        left = millisecondsUntil(*deadline);
        if (left == 0)
            return platform::WaitEnd::TimedOut;
    }
    if (interrupt_ != platform::kInvalidSocket)
        return platform::waitForSocketOrInterrupt(socket_, interest, interrupt_, left);
    const bool ready = interest == platform::Interest::Read ? platform::waitReadable(socket_, left)
                                                            : platform::waitWritable(socket_, left);
    return ready ? platform::WaitEnd::Ready : platform::WaitEnd::TimedOut;
}

void ServerConnection::abandonAfter(platform::WaitEnd end, const char* during)
{
    if (end == platform::WaitEnd::Interrupted)
        trace::connection("interrupted", std::string("by the host") + during);
    else
        trace::connection("deadline expired", std::to_string(replyDeadlineMs_) + " ms" + during);
    abandonConnection();
}

void ServerConnection::setSocket(platform::SocketHandle s)
{
    const std::lock_guard lock(liveSocketMutex_);
    liveSocket_ = s;
}

void ServerConnection::interruptExchange()
{
    const std::lock_guard lock(liveSocketMutex_);
    if (liveSocket_ != platform::kInvalidSocket)
        platform::shutdownBoth(liveSocket_);
}

void ServerConnection::abandonConnection()
{
    setSocket(platform::kInvalidSocket);
    platform::closeSocket(socket_);
    socket_ = platform::kInvalidSocket;
    connected_ = false;
}

int ServerConnection::close()
{
    // A buffer a bulk reply left is let go with the connection.
    reader_.release();
    setSocket(platform::kInvalidSocket);
    if (socket_ != platform::kInvalidSocket) {
        trace::connection("close", address_);
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
    }
    const int rc = releaseLibrary();
    connected_ = false;
    return rc == 0 ? 0 : -1;
}

int ServerConnection::releaseLibrary()
{
    if (!libraryStarted_)
        return 0;
    libraryStarted_ = false;
    return platform::socketLibraryCleanup();
}

std::unique_lock<std::mutex> ServerConnection::takeOver()
{
    std::unique_lock lock(callMutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        interruptExchange();
        lock.lock();
    }
    return lock;
}

} // namespace tqbse
