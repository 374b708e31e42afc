#include "core/client_socket.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tqbse {
namespace {

std::unique_ptr<ClientSocket> g_instance;

// Socket-layer diagnostics go to standard output, flushed at once so they
// are not lost if the host program dies right after.
__attribute__((format(printf, 1, 2))) void printDiagnostic(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// Net change in parenthesis depth over a run of bytes.
int64_t parenthesisBalance(const char* p, qsizetype n)
{
    int64_t depth = 0;
    for (qsizetype i = 0; i < n; ++i)
        depth += (p[i] == '(') - (p[i] == ')');
    return depth;
}

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
        printDiagnostic("Failed to load Winsock library!\n");
        return -1;
    }
    server_ = sockaddr_in{};
    server_.sin_family = AF_INET;
    server_.sin_port = htons(port);
    if (!platform::parseDottedAddress(address_.c_str(), &server_.sin_addr)
        && !platform::lookupHost(address_.c_str(), &server_.sin_addr)) {
        printDiagnostic("Unable to resolve server: %s\n", address_.c_str());
        platform::socketLibraryCleanup();
        return -1;
    }
    socket_ = platform::openTcpSocket();
    if (socket_ == platform::kInvalidSocket) {
        printDiagnostic("socket() failed: %d\n", platform::lastError());
        platform::socketLibraryCleanup();
        return -1;
    }
    if (platform::connectWithTimeout(socket_, server_, kConnectTimeoutMs) != 0) {
        printDiagnostic("connect() failed: %d\n", platform::lastError());
        // The failed socket is never used again: release it and the
        // library start-up now rather than leak them until close().
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
        platform::socketLibraryCleanup();
        return -1;
    }
    platform::setNoDelay(socket_);
    connected_ = true;
    return 0;
}

int ClientSocket::exchange(const QByteArray& request, QByteArray& reply)
{
    if (!connected_)
        return -1;
    // The request goes out whole even when the kernel takes it in parts.
    if (platform::sendAll(socket_, request.constData(), std::size_t(request.size())) != 0)
        return -1;

    // The parenthesis balance is only looked at when a chunk ends in ")",
    // so it is brought up to date then rather than chunk by chunk.
    int64_t depth = 0;
    qsizetype counted = reply.size();
    // Set while the reply received so far could end here and the socket was
    // found readable: the end of the stream then only closes a whole reply.
    bool couldEnd = false;
    for (;;) {
        const qsizetype at = reply.size();
        if (reply.capacity() - at < kReceiveChunkSize)
            reply.reserve(std::max<qsizetype>(2 * reply.capacity(), at + kReceiveChunkSize));
        reply.resize(at + kReceiveChunkSize);
        char* chunk = reply.data() + at;
        const ssize_t n = platform::receiveSome(socket_, chunk, kReceiveChunkSize);
        if (n <= 0) {
            reply.resize(at);
            return couldEnd ? 0 : -1;
        }
        couldEnd = false;
        const char last = chunk[n - 1];
        // Chunks are text: a zero byte ends the chunk's contribution.
        const void* zero = std::memchr(chunk, 0, std::size_t(n));
        const qsizetype kept = zero ? static_cast<const char*>(zero) - chunk : n;
        reply.resize(at + kept);

        if (last != ')')
            continue;
        depth += parenthesisBalance(reply.constData() + counted, reply.size() - counted);
        counted = reply.size();
        const bool shortChunk = n < kReceiveChunkSize;
        // A short chunk ending in ")" ends the reply; so does a full one that
        // leaves the parentheses balanced, once the socket stays quiet.
        const bool mayEnd = shortChunk || depth <= 0;
        if (platform::waitReadable(socket_, 0)) {
            // The server has already sent more: this ")" only ended a segment.
            couldEnd = mayEnd;
            continue;
        }
        if (shortChunk && depth <= 0)
            return 0;
        if (!mayEnd)
            continue;
        // Either a full chunk that ends balanced, or a short chunk that ends
        // in ")" with parentheses still open: a server that keeps the
        // contract sends the rest of a reply at once, so it ends here only
        // if nothing more arrives for a while. Without the wait, a large
        // reply read faster than it is sent would be cut at any inner ")".
        if (!platform::waitReadable(socket_, kQuietMs))
            return 0;
        couldEnd = true;
    }
}

void ClientSocket::adoptConnectedSocket(platform::SocketHandle s)
{
    platform::socketLibraryStartup();
    socket_ = s;
    connected_ = true;
}

int ClientSocket::close()
{
    if (socket_ != platform::kInvalidSocket) {
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
    }
    const int rc = platform::socketLibraryCleanup();
    connected_ = false;
    return rc == 0 ? 0 : -1;
}

} // namespace tqbse
