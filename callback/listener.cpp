#include "callback/listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "core/codec.h"
#include "platform/posix/socket_platform.h"

namespace tqbse::callback {
namespace {

template <typename... Args>
void printDiagnostic(const char* format, Args... args)
{
    std::printf(format, args...);
    std::fflush(stdout);
}

// One started listener, shared by the listener slot and its own thread: the
// thread holds a reference until it ends, so the object outlives every use
// by it even when the thread cannot be joined (a handler that stops its own
// listener). The thread alone creates and closes the sockets; everything the
// two threads share is atomic or written before the thread starts.
struct ServerSocket {
    std::atomic<bool> running{false};  // set while listening and serving a peer
    std::atomic<bool> stopping{false}; // set once, by halt()
    std::atomic<ListenerState> state{ListenerState::Starting};
    int wake = -1;                     // eventfd, readable once stopping
    sockaddr_in local{};
    std::thread thread;

    ~ServerSocket()
    {
        if (wake >= 0)
            platform::closeWakeEvent(wake);
    }

    // Wakes the thread wherever it waits (accept, receive, a send to a peer
    // that does not read) and waits for it to end. On its own thread it
    // cannot wait; the thread then ends by itself once the handler returns.
    void halt()
    {
        stopping.store(true);
        running.store(false);
        platform::signalWakeEvent(wake);
        if (!thread.joinable())
            return;
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
};

// The handler slot: an atomic pointer, read by the listener thread without a
// lock. Every handler ever installed stays alive until exit (setMessageHandler
// runs on the calling thread only and keeps them here), so the listener never
// calls one that has been freed; installing the default adds nothing.
const MessageHandler g_defaultHandler{&defaultMessageHandler};
std::vector<std::unique_ptr<const MessageHandler>> g_installedHandlers; // calling thread only
std::atomic<const MessageHandler*> g_handler{nullptr};

// The listener slot, used on the calling thread only. Declared after the
// handler slot, so a listener still running at exit is stopped first.
struct ListenerSlot {
    std::shared_ptr<ServerSocket> server;
    ~ListenerSlot()
    {
        if (server)
            server->halt();
    }
} g_slot;

QByteArray callHandler(const QByteArray& message)
{
    const MessageHandler* handler = g_handler.load(std::memory_order_acquire);
    if (handler == nullptr || !*handler)
        return {};
    return (*handler)(message);
}

// Waits until `fd` has one of `events` (or an error or hang-up, which the
// following call then reports). False when the listener is being stopped.
bool waitFor(const ServerSocket& server, int fd, short events)
{
    return platform::waitForSocketOrWake(fd, events, server.wake);
}

// Sends every byte of the reply, continuing after partial sends. Sends never
// block, so that stopping is not held up by a peer that does not read.
// False when the connection is to end.
bool sendReply(const ServerSocket& server, int client, const QByteArray& reply)
{
    const char* p = reply.constData();
    std::size_t left = std::size_t(reply.size());
    while (left > 0) {
        const ssize_t sent = platform::sendNow(client, p, left);
        if (sent > 0) {
            p += sent;
            left -= std::size_t(sent);
        } else if (sent == 0) {
            return false;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(server, client, POLLOUT))
                return false;
        } else {
            printDiagnostic("send() failed: %d\n", platform::lastError());
            return false;
        }
    }
    return true;
}

// Serves one peer until it closes, its connection fails or the listener is
// stopped. Each receive of up to 4096 bytes is one message.
void serveClient(ServerSocket& server, int client)
{
    char buffer[kMessageChunkSize + 1];
    while (server.running.load()) {
        if (!waitFor(server, client, POLLIN))
            break;
        const ssize_t n = platform::receiveSome(client, buffer, kMessageChunkSize);
        if (n <= 0)
            break;
        // The message is the text up to its first zero byte.
        const void* zero = std::memchr(buffer, '\0', std::size_t(n));
        const qsizetype length = zero ? static_cast<const char*>(zero) - buffer : qsizetype(n);
        const QByteArray reply = callHandler(QByteArray(buffer, length));
        if (!sendReply(server, client, reply))
            break;
    }
    server.running.store(false);
}

// Errors that accept() reports for a connection that went away while
// pending, or that the kernel passes on from the network: try again.
bool isTransientAcceptError(int error)
{
    switch (error) {
    case EINTR:
    case EAGAIN:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

int acceptLoop(ServerSocket& server)
{
    const int listening = platform::openListeningSocket();
    if (listening < 0) {
        printDiagnostic("socket() failed: %d\n", platform::lastError());
        return 1;
    }
    // Lets a new listener bind while earlier peers' connections sit in
    // TIME_WAIT; a live socket bound to the port still makes bind fail.
    platform::setReuseAddress(listening);
    if (platform::bindSocket(listening, server.local) != 0) {
        const int error = platform::lastError();
        printDiagnostic("bind() failed: %d\n", error);
        platform::closeSocket(listening);
        return error;
    }
    if (platform::listenSocket(listening, kListenBacklog) != 0) {
        const int error = platform::lastError();
        printDiagnostic("listen() failed: %d\n", error);
        platform::closeSocket(listening);
        return error;
    }
    server.running.store(true);
    server.state.store(ListenerState::Listening);
    int result = 0;
    while (waitFor(server, listening, POLLIN)) {
        sockaddr_in peer{};
        const int client = platform::acceptPeer(listening, &peer);
        if (client < 0) {
            if (isTransientAcceptError(errno))
                continue;
            result = platform::lastError();
            printDiagnostic("accept() failed: %d\n", result);
            break;
        }
        if (!server.stopping.load())
            server.running.store(true);
        char peerText[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
        printDiagnostic("Accepted client: %s:%d\n", peerText, int(ntohs(peer.sin_port)));
        serveClient(server, client);
        platform::closeSocket(client);
        callHandler(QByteArray(kTerminationMessage));
    }
    server.running.store(false);
    platform::closeSocket(listening);
    return result;
}

void listenerThread(std::shared_ptr<ServerSocket> server)
{
    platform::socketLibraryStartup();
    acceptLoop(*server);
    platform::socketLibraryCleanup();
    server->state.store(ListenerState::Ended);
}

} // namespace

int startListener()
{
    // One listener at a time: one that is still running (as after Shutdown
    // and a new Initialise) goes on serving; one whose thread has ended (its
    // bind failed, say) is replaced.
    if (g_slot.server) {
        if (g_slot.server->state.load() != ListenerState::Ended) {
            setMessageHandler(defaultMessageHandler);
            return 0;
        }
        stopListener();
    }

    auto server = std::make_shared<ServerSocket>();
    server->wake = platform::openWakeEvent();
    if (server->wake < 0)
        return platform::lastError();
    server->local.sin_family = AF_INET;
    server->local.sin_addr.s_addr = htonl(INADDR_ANY);
    server->local.sin_port = htons(kListenerPort);
    try {
        server->thread = std::thread(listenerThread, server);
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    g_slot.server = std::move(server);
    setMessageHandler(defaultMessageHandler);
    return 0;
}

int stopListener()
{
    if (!g_slot.server)
        return -1;
    // Emptied first, so that a handler stopping its own listener finds none.
    const std::shared_ptr<ServerSocket> server = std::move(g_slot.server);
    server->halt();
    return 0;
}

void setMessageHandler(MessageHandler handler)
{
    const auto* plain = handler.target<QByteArray (*)(const QByteArray&)>();
    if (plain != nullptr && *plain == &defaultMessageHandler) {
        g_handler.store(&g_defaultHandler, std::memory_order_release);
        return;
    }
    g_installedHandlers.push_back(std::make_unique<const MessageHandler>(std::move(handler)));
    g_handler.store(g_installedHandlers.back().get(), std::memory_order_release);
}

QByteArray defaultMessageHandler(const QByteArray& message)
{
    const codec::SplitMessage split = codec::splitMessage(message);
    QByteArray reply;
    reply.reserve(split.name.size() + 13);
    reply.append(split.name);
    reply.append('=');
    codec::appendInt(reply, -8);
    return reply;
}

ListenerState listenerState()
{
    return g_slot.server ? g_slot.server->state.load() : ListenerState::None;
}

} // namespace tqbse::callback
