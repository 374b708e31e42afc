#include "listener/listener.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <memory>
#include <vector>

#include "client/trace.h"
#include "platform/platform.h"
#include "protocol/codec.h"
#include "protocol/reply_reader.h"
#include "protocol/ports.h"

namespace tqbse::listener {
namespace {

using platform::printDiagnostic;

// How long startListener waits for its thread to listen (or fail to).
constexpr std::chrono::milliseconds kStartWait{1000};
using platform::SocketHandle;
using Clock = std::chrono::steady_clock;

// One started listener, shared by the listener slot and its own thread: the
// thread holds a reference until it ends, so the object outlives every use
// by it even when nobody waits for the thread (a handler that stops its own
// listener, or the process ending). The thread alone creates and closes the
// sockets; everything the two threads share is atomic or written before the
// thread starts.
struct ListenerRun {
    std::atomic<bool> stopping{false}; // set once, by halt()
    std::atomic<ListenerState> state{ListenerState::Starting};
    platform::WakeEvent wake;          // signalled once stopping
    platform::Endpoint local{};
    platform::Thread thread;
    // Tells startListener that the thread is listening or has ended.
    std::mutex stateMutex;
    std::condition_variable stateChanged;

    ~ListenerRun() { platform::closeWakeEvent(&wake); }

    void setState(ListenerState s)
    {
        const std::lock_guard lock(stateMutex);
        state.store(s);
        stateChanged.notify_all();
    }
    // Waits, at most `limit`, until the thread has left Starting.
    void waitUntilStarted(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(stateMutex);
        stateChanged.wait_for(lock, limit, [this] { return state.load() != ListenerState::Starting; });
    }

    // Wakes the thread from its wait on every socket it serves. With
    // `wait`, waits for it to end; on its own thread it cannot wait, and the
    // thread then ends by itself once the handler returns.
    void halt(bool wait)
    {
        stopping.store(true);
        platform::signalWakeEvent(wake);
        if (wait && !platform::isCurrentThread(thread))
            platform::joinThread(&thread);
        else
            platform::detachThread(&thread);
    }
};

// The handler slot: an atomic pointer, read by the listener thread without a
// lock. Every handler ever installed stays alive for the life of the process
// (never freed, not even at exit, since a listener thread may still be
// running then), so the listener never calls one that has been freed.
const MessageHandler* const g_defaultHandler =
    new MessageHandler([](std::string_view message, uint32_t) { return defaultMessageHandler(message); });
std::vector<const MessageHandler*>* const g_installedHandlers = new std::vector<const MessageHandler*>;
std::atomic<const MessageHandler*> g_handler{nullptr};

// The listener slot, used on the calling thread only. At exit a listener
// still running is woken and left to end by itself: nothing waits for a
// thread during static destruction (on Windows that runs under the loader
// lock, where waiting for a thread never returns).
struct ListenerSlot {
    std::shared_ptr<ListenerRun> run;
    ~ListenerSlot()
    {
        if (run)
            run->halt(false);
    }
} g_slot;

std::string callHandler(std::string_view message, uint32_t peerAddress)
{
    const MessageHandler* handler = g_handler.load(std::memory_order_acquire);
    if (handler == nullptr || !*handler)
        return {};
    // A handler that throws answers nothing; the listener thread goes on.
    try {
        return (*handler)(message, peerAddress);
    } catch (...) {
        return {};
    }
}

// One connected peer. Its answers wait in `unsent`, in the order of its
// messages, until its connection takes them: the thread never blocks in a
// send, so a peer that does not read holds up only itself.
struct Connection {
    SocketHandle socket = platform::kInvalidSocket;
    platform::Endpoint peer{};
    std::string unsent;        // answers not sent yet, from `sentOf` on
    std::size_t sentOf = 0;
    Clock::time_point lastActive; // the last byte received from it or sent to it
    bool open = true;

    std::size_t waiting() const { return unsent.size() - sentOf; }
};

std::string peerText(const platform::Endpoint& peer)
{
    return platform::dottedText(peer.address) + ':' + std::to_string(peer.port);
}

// Sends what the connection takes without blocking. False when the
// connection is to end (the send failed).
bool sendWaiting(Connection& c)
{
    while (c.waiting() > 0) {
        const int64_t n = platform::sendNow(c.socket, c.unsent.data() + c.sentOf, c.waiting());
        if (n < 0) {
            const int error = platform::lastError();
            const platform::ErrorClass kind = platform::classifyError(error);
            if (kind == platform::ErrorClass::Interrupted)
                continue;
            if (kind == platform::ErrorClass::WouldBlock)
                break;
            printDiagnostic("send() failed: %d\n", error);
            return false;
        }
        c.sentOf += std::size_t(n);
        c.lastActive = Clock::now();
    }
    if (c.waiting() == 0) {
        c.unsent.clear();
        c.sentOf = 0;
    } else if (c.sentOf >= kMaxUnsentBytes) {
        c.unsent.erase(0, c.sentOf); // the sent front is not kept
        c.sentOf = 0;
    }
    return true;
}

// The connection is ready: sends what waits, then takes one message (one
// receive of up to 4096 bytes) and queues its answer. One message per peer
// per wait, so a peer that floods the listener takes its turn with the
// others. False when the connection is to end.
bool serveReady(Connection& c)
{
    if (!sendWaiting(c))
        return false;
    char buffer[kReceiveChunkSize];
    const int64_t n = platform::receiveNow(c.socket, buffer, kReceiveChunkSize);
    if (n == 0)
        return false;
    if (n < 0) {
        const platform::ErrorClass kind = platform::classifyError(platform::lastError());
        return kind == platform::ErrorClass::WouldBlock || kind == platform::ErrorClass::Interrupted;
    }
    c.lastActive = Clock::now();
    if (c.waiting() > kMaxUnsentBytes) {
        printDiagnostic("Closed client %s: %s bytes of answers unread\n", peerText(c.peer).c_str(),
                        std::to_string(c.waiting()).c_str());
        return false;
    }
    const std::string_view message = codec::textBeforeZero(std::string_view(buffer, std::size_t(n)));
    const std::string reply = callHandler(message, c.peer.address);
    trace::callback(message, reply);
    c.unsent += reply;
    return sendWaiting(c);
}

// Closes the connection and tells the handler it has ended.
void endConnection(Connection& c)
{
    platform::closeSocket(c.socket);
    c.socket = platform::kInvalidSocket;
    callHandler(kTerminationMessage, c.peer.address);
}

// The peer that has been idle longest.
std::vector<Connection>::iterator idleLongest(std::vector<Connection>& peers)
{
    auto oldest = peers.begin();
    for (auto it = peers.begin(); it != peers.end(); ++it)
        if (it->lastActive < oldest->lastActive)
            oldest = it;
    return oldest;
}

// Accepts one pending peer, making room for it when kMaxPeers are
// connected. 0, or the error number of an accept failure that ends the
// thread.
int acceptOne(SocketHandle listening, std::vector<Connection>& peers)
{
    platform::Endpoint peerAddress{};
    const SocketHandle peer = platform::acceptPeer(listening, &peerAddress);
    if (peer == platform::kInvalidSocket) {
        const int error = platform::lastError();
        if (platform::classifyError(error) != platform::ErrorClass::Other)
            return 0;
        printDiagnostic("accept() failed: %d\n", error);
        return error;
    }
    printDiagnostic("Accepted client: %s\n", peerText(peerAddress).c_str());
    if (peers.size() >= kMaxPeers) {
        const auto evicted = idleLongest(peers);
        printDiagnostic("Closed client %s: idle longest of %d\n", peerText(evicted->peer).c_str(), int(kMaxPeers));
        endConnection(*evicted);
        peers.erase(evicted);
    }
    peers.push_back(Connection{peer, peerAddress, {}, 0, Clock::now(), true});
    return 0;
}

// Serves the listening socket and every connected peer from this one
// thread, until the listener is stopped or an accept fails.
int serve(ListenerRun& run, SocketHandle listening)
{
    std::vector<Connection> peers;
    peers.reserve(kMaxPeers);
    std::vector<platform::SocketWait> waits;
    waits.reserve(kMaxPeers + 1);
    int result = 0;
    while (!run.stopping.load() && result == 0) {
        waits.assign(1, platform::SocketWait{listening, true, false, false});
        for (const Connection& c : peers)
            waits.push_back(platform::SocketWait{c.socket, true, c.waiting() > 0, false});
        if (platform::waitForSocketsOrWake(waits.data(), waits.size(), run.wake, -1) != platform::WaitEnd::Ready)
            break;
        for (std::size_t i = 0; i < peers.size() && !run.stopping.load(); ++i)
            if (waits[i + 1].ready && !serveReady(peers[i]))
                peers[i].open = false;
        for (auto it = peers.begin(); it != peers.end();) {
            if (it->open) {
                ++it;
                continue;
            }
            endConnection(*it);
            it = peers.erase(it);
        }
        if (waits[0].ready && !run.stopping.load())
            result = acceptOne(listening, peers);
    }
    // A handler that stopped its own listener still has its answer sent,
    // once and without waiting.
    for (Connection& c : peers) {
        sendWaiting(c);
        endConnection(c);
    }
    return result;
}

int acceptLoop(ListenerRun& run)
{
    const SocketHandle listening = platform::openListeningSocket();
    if (listening == platform::kInvalidSocket) {
        printDiagnostic("socket() failed: %d\n", platform::lastError());
        return 1;
    }
    platform::setListenerAddressOption(listening);
    if (const int error = platform::bindSocket(listening, run.local); error != 0) {
        // One line that says which port could not be had, and why.
        printDiagnostic("bind() failed: %d (callback port %d: %s)\n", error, int(run.local.port),
                        platform::socketErrorText(error).c_str());
        platform::closeSocket(listening);
        return error;
    }
    if (const int error = platform::listenSocket(listening, platform::kListenBacklog); error != 0) {
        printDiagnostic("listen() failed: %d\n", error);
        platform::closeSocket(listening);
        return error;
    }
    run.setState(ListenerState::Listening);
    const int result = serve(run, listening);
    platform::closeSocket(listening);
    return result;
}

// The thread's entry: owns one reference to its ListenerRun.
void listenerThread(void* argument)
{
    const std::unique_ptr<std::shared_ptr<ListenerRun>> held(static_cast<std::shared_ptr<ListenerRun>*>(argument));
    ListenerRun& run = **held;
    platform::socketLibraryStartup();
    try {
        acceptLoop(run);
    } catch (...) {
        // Only an allocation can fail here; the thread ends as after an
        // accept failure, and the next Initialise starts a new listener.
    }
    platform::socketLibraryCleanup();
    run.setState(ListenerState::Ended);
}

} // namespace

int startListener()
{
    // One listener at a time: one that is still running (as after Shutdown
    // and a new Initialise) goes on serving; one whose thread has ended (its
    // bind failed, say) is replaced.
    if (g_slot.run) {
        if (g_slot.run->state.load() != ListenerState::Ended) {
            setMessageHandler(defaultMessageHandler);
            return 0;
        }
        stopListener();
    }

    auto run = std::make_shared<ListenerRun>();
    if (const int rc = platform::openWakeEvent(&run->wake); rc != 0)
        return rc;
    run->local = platform::Endpoint{platform::kAnyAddress, listenerPort()};
    auto* reference = new std::shared_ptr<ListenerRun>(run);
    if (const int rc = platform::startThread(listenerThread, reference, &run->thread); rc != 0) {
        delete reference;
        return rc;
    }
    setMessageHandler(defaultMessageHandler);
    // A peer told of the connection (the server learns of it from the
    // announcement that follows) may connect at once: return only when the
    // port accepts, or its bind has failed.
    run->waitUntilStarted(kStartWait);
    g_slot.run = std::move(run);
    return 0;
}

int stopListener()
{
    if (!g_slot.run)
        return -1;
    // Emptied first, so that a handler stopping its own listener finds none.
    const std::shared_ptr<ListenerRun> run = std::move(g_slot.run);
    run->halt(true);
    return 0;
}

void setMessageHandler(MessageHandler handler)
{
    // A plain function installed before is installed again from its kept
    // copy, so that installing the same one at every connect keeps nothing.
    using Plain = std::string (*)(std::string_view, uint32_t);
    if (const Plain* plain = handler.target<Plain>()) {
        for (const MessageHandler* installed : *g_installedHandlers) {
            const Plain* same = installed->target<Plain>();
            if (same != nullptr && *same == *plain) {
                g_handler.store(installed, std::memory_order_release);
                return;
            }
        }
    }
    g_installedHandlers->push_back(new MessageHandler(std::move(handler)));
    g_handler.store(g_installedHandlers->back(), std::memory_order_release);
}

void setMessageHandler(std::string (*handler)(std::string_view message))
{
    if (handler == &defaultMessageHandler) {
        g_handler.store(g_defaultHandler, std::memory_order_release);
        return;
    }
    setMessageHandler(MessageHandler([handler](std::string_view message, uint32_t) {
        return handler == nullptr ? std::string() : handler(message);
    }));
}

std::string defaultMessageHandler(std::string_view message)
{
    return codec::resultOnlyReply(codec::splitMessage(message).name, kFunctionNotFound);
}

ListenerState listenerState()
{
    return g_slot.run ? g_slot.run->state.load() : ListenerState::None;
}

} // namespace tqbse::listener
