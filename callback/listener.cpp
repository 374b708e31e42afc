#include "callback/listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

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

// One started listener. The calling thread owns it through the listener
// slot; its thread only touches the fields below that are atomic or its own
// (the sockets, which it alone creates and closes). stopListener wakes the
// thread through `wake` and joins it before the object is freed, so the
// object outlives every use by its thread.
struct ServerSocket {
    std::atomic<bool> running{false};   // set while a peer may be served
    std::atomic<bool> stopping{false};  // set once by stopListener
    std::atomic<bool> finished{false};  // set by the thread as its last step
    int wake = -1;                      // eventfd: readable once stopping
    sockaddr_in local{};
    std::thread thread;

    // Wakes the thread and waits for it; the thread closes its own sockets
    // on the way out, so the port is free once this returns.
    ~ServerSocket()
    {
        stopping.store(true);
        running.store(false);
        if (thread.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
            thread.join();
        }
        if (wake >= 0)
            ::close(wake);
    }
};

// Declared before the slot so that it outlives a listener stopped at exit.
std::atomic<std::shared_ptr<const MessageHandler>> g_handler;
std::unique_ptr<ServerSocket> g_listener; // the listener slot (calling thread only)

// Waits until `fd` is readable or the listener is being stopped.
// Returns false when it is being stopped.
bool waitForInput(ServerSocket& server, int fd)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {server.wake, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return false;
        return true;
    }
}

QByteArray callHandler(const QByteArray& message)
{
    const std::shared_ptr<const MessageHandler> handler = g_handler.load();
    if (!handler || !*handler)
        return {};
    return (*handler)(message);
}

void serveClient(ServerSocket& server, int client)
{
    if (!server.running.load())
        return;
    char buffer[kMessageChunkSize + 1];
    for (;;) {
        if (!waitForInput(server, client)) {
            server.running.store(false);
            return;
        }
        const ssize_t n = platform::receiveSome(client, buffer, kMessageChunkSize);
        if (n <= 0) {
            server.running.store(false);
            return;
        }
        buffer[n] = '\0';
        // Each receive is one message, taken as text up to its first zero byte.
        const QByteArray reply = callHandler(QByteArray(buffer, qsizetype(std::strlen(buffer))));
        const char* p = reply.constData();
        std::size_t left = std::size_t(reply.size());
        while (left > 0) {
            const ssize_t sent = platform::sendSome(client, p, left);
            if (sent == 0) {
                server.running.store(false);
                return;
            }
            if (sent < 0) {
                printDiagnostic("send() failed: %d\n", platform::lastError());
                server.running.store(false);
                return;
            }
            p += sent;
            left -= std::size_t(sent);
        }
        if (!server.running.load())
            return;
    }
}

int acceptLoop(ServerSocket& server)
{
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0) {
        printDiagnostic("socket() failed: %d\n", platform::lastError());
        return 1;
    }
    // Lets a new listener bind while earlier peers' connections sit in
    // TIME_WAIT; a live listener on the port still makes bind fail.
    platform::setReuseAddress(listening);
    if (::bind(listening, reinterpret_cast<const sockaddr*>(&server.local), sizeof server.local) != 0) {
        const int error = platform::lastError();
        printDiagnostic("bind() failed: %d\n", error);
        ::close(listening);
        return error;
    }
    if (::listen(listening, kListenBacklog) != 0) {
        const int error = platform::lastError();
        printDiagnostic("listen() failed: %d\n", error);
        ::close(listening);
        return error;
    }
    server.running.store(true);
    int result = 0;
    while (waitForInput(server, listening)) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const int client = ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
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
        ::close(client);
        callHandler(QByteArray(kTerminationMessage));
    }
    server.running.store(false);
    ::close(listening);
    return result;
}

void listenerThread(ServerSocket* server)
{
    platform::socketLibraryStartup();
    acceptLoop(*server);
    platform::socketLibraryCleanup();
    server->finished.store(true);
}

} // namespace

int startListener()
{
    // One listener at a time: a listener that is still serving (as after
    // Shutdown and a new Initialise) goes on serving; one whose thread has
    // ended (its bind failed, say) is replaced.
    if (g_listener && !g_listener->finished.load()) {
        setMessageHandler(defaultMessageHandler);
        return 0;
    }
    g_listener.reset();

    auto server = std::make_unique<ServerSocket>();
    server->wake = ::eventfd(0, EFD_CLOEXEC);
    if (server->wake < 0)
        return platform::lastError();
    server->local.sin_family = AF_INET;
    server->local.sin_addr.s_addr = htonl(INADDR_ANY);
    server->local.sin_port = htons(kListenerPort);
    try {
        server->thread = std::thread(listenerThread, server.get());
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    g_listener = std::move(server);
    setMessageHandler(defaultMessageHandler);
    return 0;
}

int stopListener()
{
    if (!g_listener)
        return -1;
    g_listener.reset();
    return 0;
}

void setMessageHandler(MessageHandler handler)
{
    g_handler.store(std::make_shared<const MessageHandler>(std::move(handler)));
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

} // namespace tqbse::callback
