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

// One started listener, shared by the listener slot and its own thread: the
// thread holds a reference until it ends, so the object outlives every use
// by it even when nobody waits for the thread (a handler that stops its own
// listener, or the process ending). The thread alone creates and closes the
// sockets; everything the two threads share is atomic or written before the
// thread starts.
struct ListenerRun {
    std::atomic<bool> running{false};  // set while listening and serving a peer
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

    // Wakes the thread wherever it waits (accept, receive, a send to a peer
    // that does not read). With `wait`, waits for it to end; on its own
    // thread it cannot wait, and the thread then ends by itself once the
    // handler returns.
    void halt(bool wait)
    {
        stopping.store(true);
        running.store(false);
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

// Waits until `s` is ready (or has an error or hang-up, which the following
// call then reports). False when the listener is being stopped.
bool waitFor(const ListenerRun& run, SocketHandle s, platform::Interest interest)
{
    return platform::waitForSocketOrWake(s, interest, run.wake);
}

// Sends every byte of the reply, continuing after partial sends. Sends never
// block, so that stopping is not held up by a peer that does not read.
// False when the connection is to end.
bool sendReply(const ListenerRun& run, SocketHandle peer, const std::string& reply)
{
    struct Waiting {
        const ListenerRun& run;
        SocketHandle peer;
    } waiting{run, peer};
    const platform::SendOutcome outcome = platform::sendAllNonBlocking(
        peer, reply.data(), reply.size(),
        [](void* w) {
            const auto* on = static_cast<const Waiting*>(w);
            return waitFor(on->run, on->peer, platform::Interest::Write);
        },
        &waiting);
    if (outcome == platform::SendOutcome::Failed)
        printDiagnostic("send() failed: %d\n", platform::lastError());
    return outcome == platform::SendOutcome::Sent;
}

// Serves one peer until it closes, its connection fails or the listener is
// stopped. Each receive of up to 4096 bytes is one message.
void servePeer(ListenerRun& run, SocketHandle peer, uint32_t peerAddress)
{
    char buffer[kReceiveChunkSize];
    while (run.running.load()) {
        if (!waitFor(run, peer, platform::Interest::Read))
            break;
        const int64_t n = platform::receiveSome(peer, buffer, kReceiveChunkSize);
        if (n <= 0)
            break;
        const std::string_view message = codec::textBeforeZero(std::string_view(buffer, std::size_t(n)));
        const std::string reply = callHandler(message, peerAddress);
        trace::callback(message, reply);
        if (!sendReply(run, peer, reply))
            break;
    }
    run.running.store(false);
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
    run.running.store(true);
    run.setState(ListenerState::Listening);
    int result = 0;
    while (waitFor(run, listening, platform::Interest::Read)) {
        platform::Endpoint peerAddress{};
        const SocketHandle peer = platform::acceptPeer(listening, &peerAddress);
        if (peer == platform::kInvalidSocket) {
            const int error = platform::lastError();
            if (platform::classifyError(error) != platform::ErrorClass::Other)
                continue;
            result = error;
            printDiagnostic("accept() failed: %d\n", result);
            break;
        }
        if (!run.stopping.load())
            run.running.store(true);
        printDiagnostic("Accepted client: %s:%d\n", platform::dottedText(peerAddress.address).c_str(),
                        int(peerAddress.port));
        servePeer(run, peer, peerAddress.address);
        platform::closeSocket(peer);
        callHandler(kTerminationMessage, peerAddress.address);
    }
    run.running.store(false);
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

void setMessageHandler(std::string (*handler)(std::string_view message))
{
    if (handler == &defaultMessageHandler) {
        g_handler.store(g_defaultHandler, std::memory_order_release);
        return;
    }
    setMessageHandler(MessageHandler([handler](std::string_view message, uint32_t) { return handler(message); }));
}

void setMessageHandler(MessageHandler handler)
{
    g_installedHandlers->push_back(new MessageHandler(std::move(handler)));
    g_handler.store(g_installedHandlers->back(), std::memory_order_release);
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
