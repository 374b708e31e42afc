#include "client/client_socket.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "client/trace.h"
#include "protocol/framer.h"

namespace tqbse {
namespace {
std::unique_ptr<ClientSocket> g_instance;

} // namespace

ClientSocket& ClientSocket::instance()
{
    if (!g_instance)
        g_instance.reset(new ClientSocket);
    return *g_instance;
}

void ClientSocket::destroy() { g_instance.reset(); }

void ClientSocket::setAddress(int32_t a, int32_t b, int32_t c, int32_t d)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", a, b, c, d);
    address_ = text;
}

int ClientSocket::connectToServer(uint16_t port)
{
    if (platform::socketLibraryStartup() != 0) {
        platform::printDiagnostic("Failed to load Winsock library!\n");
        return -1;
    }
    server_ = platform::Endpoint{0, port};
    if (!platform::parseDottedAddress(address_.c_str(), &server_.address)
        && !platform::lookupHost(address_.c_str(), &server_.address)) {
        platform::printDiagnostic("Unable to resolve server: %s\n", address_.c_str());
        platform::socketLibraryCleanup();
        return -1;
    }
    socket_ = platform::openTcpSocket();
    if (socket_ == platform::kInvalidSocket) {
        platform::printDiagnostic("socket() failed: %d\n", platform::lastError());
        platform::socketLibraryCleanup();
        return -1;
    }
    if (platform::connectWithTimeout(socket_, server_, kConnectTimeoutMs) != 0) {
        platform::printDiagnostic("connect() failed: %d\n", platform::lastError());
        trace::connection("connect failed", address_ + ':' + std::to_string(port));
        // The failed socket is never used again: release it and the
        // library start-up now rather than leak them until close().
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
        platform::socketLibraryCleanup();
        return -1;
    }
    platform::setNoDelay(socket_);
    connected_ = true;
    trace::connection("connect", address_ + ':' + std::to_string(port));
    return 0;
}

int ClientSocket::exchange(std::string_view request, std::string& reply)
{
    if (!connected_)
        return -1;
    // The request goes out whole even when the kernel takes it in parts.
    if (platform::sendAll(socket_, request.data(), request.size()) != 0)
        return -1;

    // With a deadline, every receive first waits for bytes only as long as
    // the deadline leaves.
    const bool hasDeadline = replyDeadlineMs_ > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(replyDeadlineMs_);
    ReplyFramer framer(reply);
    char chunk[kReceiveChunkSize];
    // Set while the reply received so far could end here and the socket was
    // found readable: the end of the stream then only closes a whole reply.
    bool couldEnd = false;
    for (;;) {
        if (hasDeadline && !waitForBytes(deadline)) {
            trace::connection("deadline expired", std::to_string(replyDeadlineMs_) + " ms");
            abandonConnection();
            return -1;
        }
        const int64_t n = platform::receiveSome(socket_, chunk, sizeof chunk);
        if (n <= 0)
            return couldEnd ? 0 : -1;
        couldEnd = false;
        const ReplyFramer::Verdict verdict = framer.feed(std::string_view(chunk, std::size_t(n)));
        if (verdict == ReplyFramer::Verdict::More)
            continue;
        if (platform::waitReadable(socket_, 0)) {
            // The server has already sent more: this ")" only ended a segment.
            couldEnd = true;
            continue;
        }
        if (verdict == ReplyFramer::Verdict::End)
            return 0;
        // A server that keeps the contract sends the rest of a reply at once,
        // so it ends here only if nothing more arrives for a while. Without
        // the wait, a large reply read faster than it is sent would be cut at
        // any inner ")".
        if (!platform::waitReadable(socket_, kQuietMs))
            return 0;
        couldEnd = true;
    }
}

bool ClientSocket::waitForBytes(Clock::time_point deadline) const
{
    // Rounded up, so that the deadline never ends a wait early.
    const int64_t left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 && platform::waitReadable(socket_, int(left));
}

void ClientSocket::abandonConnection()
{
    platform::closeSocket(socket_);
    socket_ = platform::kInvalidSocket;
    connected_ = false;
}

int ClientSocket::close()
{
    if (socket_ != platform::kInvalidSocket) {
        trace::connection("close", address_);
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
    }
    const int rc = platform::socketLibraryCleanup();
    connected_ = false;
    return rc == 0 ? 0 : -1;
}

} // namespace tqbse
