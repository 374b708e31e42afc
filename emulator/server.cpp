// The emulator's TCP server: accepting, serving each connection, callbacks.
#include "emulator/server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "emulator/options.h"
#include "emulator/request_handler.h"
#include "emulator/trace_format.h"
#include "client/receive.h"
#include "protocol/codec.h"
#include "platform/host.h"

namespace tqbse::emu {
namespace {

constexpr int kIdlePollMs = 500;
constexpr int kTickMs = 50;
// The longest a stalled connection is held open (ten minutes).
constexpr int kMaxStallMs = 600000;
constexpr std::size_t kMaxEndlessBytes = std::size_t(1) << 30;
constexpr int kCallbackTimeoutMs = 2000;
constexpr int kCallbackMaxReads = 64;
// A request buffer larger than this is released once its request has been
// answered, giving its memory back; a smaller one is kept for the next.
constexpr std::size_t kKeptBufferBytes = std::size_t(1) << 20;

std::mutex printMutex;

bool sendAll(platform::SocketHandle socket, const char* data, std::size_t size)
{
    return platform::sendAll(socket, data, size) == 0;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

} // namespace

void printLine(std::string_view line)
{
    std::lock_guard lock(printMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printErrorLine(std::string_view line)
{
    std::lock_guard lock(printMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string refusalLine(const Answer& answer)
{
    // The reason as the reply carries it; a name as sent may hold any bytes.
    const std::string name = reasonToken(answer.name.substr(0, 80));
    const std::string reason = reasonToken(answer.reason);
    return "tqbse-emulator: " + name.substr(3, name.size() - 4) + " -> " + std::to_string(answer.result) + ": "
        + reason.substr(3, reason.size() - 4);
}

Server::Server(Model& model, ServerSettings settings)
    : model_(model), settings_(std::move(settings)), requestMemory_(settings_.requestMemory)
{
}

Server::~Server()
{
    stopping_ = true;
    reapWorkers(true);
    if (listening_ != platform::kInvalidSocket)
        platform::closeSocket(listening_);
}

bool Server::listen(std::string* error)
{
    uint32_t address = 0;
    if (!parseIpv4Address(settings_.bind, &address)) {
        *error = "not an IPv4 address: " + settings_.bind;
        return false;
    }
    listening_ = platform::openTcpSocket();
    if (listening_ == platform::kInvalidSocket) {
        *error = "socket() failed: " + std::to_string(platform::lastError());
        return false;
    }
    platform::setListenerAddressOption(listening_);
    if (platform::bindSocket(listening_, {address, uint16_t(settings_.port)}) != 0
        || platform::listenSocket(listening_, platform::kListenBacklog) != 0) {
        *error = "cannot listen on " + settings_.bind + ':' + std::to_string(settings_.port) + ": "
            + std::strerror(platform::lastError());
        platform::closeSocket(listening_);
        listening_ = platform::kInvalidSocket;
        return false;
    }
    return true;
}

void Server::run(const std::atomic<bool>& stop)
{
    nextEvent_ = Clock::now() + std::chrono::milliseconds(settings_.eventEveryMs);
    while (!stopping_ && !stop) {
        // Woken in time for the next event when that comes before a tick.
        int waitMs = kTickMs;
        if (settings_.eventEveryMs > 0) {
            const auto untilEvent =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextEvent_ - Clock::now()).count();
            waitMs = int(std::clamp<int64_t>(untilEvent, 0, kTickMs));
        }
        if (platform::waitReadable(listening_, waitMs) && !stop) {
            platform::Endpoint peer;
            const platform::SocketHandle socket = platform::acceptPeer(listening_, &peer);
            if (socket != platform::kInvalidSocket) {
                platform::setNoDelay(socket);
                const std::string text = platform::dottedText(peer.address);
                printLine("client connected: " + text + ':' + std::to_string(peer.port));
                {
                    std::lock_guard lock(latestClientMutex_);
                    latestClient_ = text;
                }
                startWorker(socket, [this, text](Worker* w) { serveConnection(w, text); });
            }
        }
        std::optional<FinishedScenario> finished;
        {
            std::lock_guard lock(model_.mutex);
            finished = model_.takeFinishedScenario(Clock::now());
        }
        if (finished) {
            printLine("scenario finished: " + finished->name);
            if (settings_.callbackOnScenarioEnd)
                startWorker(platform::kInvalidSocket, [this, f = *finished](Worker*) { notifyScenarioEnd(f); });
        }
        if (settings_.eventEveryMs > 0)
            sendEventIfDue(Clock::now());
        reapWorkers(false);
    }
    stopping_ = true;
    reapWorkers(true);
}

void Server::startWorker(platform::SocketHandle socket, std::function<void(Worker*)> body)
{
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    w->socket = socket;
    std::lock_guard lock(workersMutex_);
    workers_.push_back(std::move(worker));
    w->thread = std::thread([w, body = std::move(body)] {
        body(w);
        w->done = true;
    });
}

void Server::reapWorkers(bool all)
{
    std::list<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard lock(workersMutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (all && (*it)->socket != platform::kInvalidSocket)
                platform::shutdownBoth((*it)->socket); // wakes its thread
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& w : finished)
        if (w->thread.joinable())
            w->thread.join();
}

void Server::serveConnection(Worker* worker, std::string peer)
{
    const platform::SocketHandle socket = worker->socket;
    std::string buffer;
    std::size_t held = 0; // the bytes this connection has taken from requestMemory_
    RequestFramer framer;
    int faultCount = 0;
    bool open = true;
    auto answerBuffer = [&] {
        open = answer(socket, peer, buffer, &faultCount);
        buffer.clear();
        framer.reset();
        if (held > kKeptBufferBytes) {
            std::string().swap(buffer);
            requestMemory_.give(held);
            held = 0;
        }
    };
    const std::size_t perConnection = std::min(kMaxRequestBytes, requestMemory_.limit());
    const auto keepWaiting = [this](int) { return !stopping_.load(); };
    const auto makeRoom = [&](std::size_t at) {
        if (at + kRequestChunkSize <= held)
            return true;
        // Grow by doubling, to at most one chunk past the connection's
        // bound, with the growth taken from the bound of all requests.
        const std::size_t wanted =
            std::min(std::max(2 * held, at + kRequestChunkSize), perConnection + kRequestChunkSize);
        if (!requestMemory_.take(wanted - held)) {
            printLine("request from " + peer + " refused: its " + std::to_string(at) + " bytes and more would take "
                      "the memory of all unfinished requests past " + std::to_string(requestMemory_.limit())
                      + " bytes (--max-request-memory): closing");
            return false;
        }
        held = wanted;
        buffer.reserve(held);
        return true;
    };
    while (open && !stopping_) {
        const RequestEnd end =
            receiveRequest(socket, buffer, framer, {kIdlePollMs, perConnection}, keepWaiting, makeRoom);
        if (end == RequestEnd::Complete || end == RequestEnd::Quiet) {
            answerBuffer();
            continue;
        }
        if (end == RequestEnd::TooLarge)
            printLine("request from " + peer + " exceeds " + std::to_string(perConnection) + " bytes: closing");
        break;
    }
    std::string().swap(buffer);
    requestMemory_.give(held);
    {
        // Forget the socket before closing it, so that a stop never shuts
        // down a socket whose handle has been reused.
        std::lock_guard lock(workersMutex_);
        worker->socket = platform::kInvalidSocket;
    }
    platform::closeSocket(socket);
    printLine("client disconnected: " + peer);
}

bool Server::answer(platform::SocketHandle socket, const std::string& peer, std::string_view request,
                    int* faultCount)
{
    const FaultOptions& faults = settings_.faults;
    const bool faulty = faults.any() && faults.appliesTo(messageName(request));
    if (settings_.trace)
        printLine("> " + peer + ' ' + describeMessage(request));
    if (faulty && faults.closeAfter >= 0 && (*faultCount)++ >= faults.closeAfter) {
        printLine("fault: closing the connection of " + peer + " instead of answering");
        return false;
    }

    CallContext context;
    context.peer = peer;
    context.now = Clock::now();
    const auto modelReply = [&] {
        Answer answer = answerRequest(model_, request, context);
        if (answer.result < 0)
            printErrorLine(refusalLine(answer));
        return std::move(answer.reply);
    };
    std::string reply = settings_.replay ? settings_.replay->answer(request, peer, modelReply) : modelReply();
    if (faulty)
        reply = applyReplyFaults(faults, std::move(reply));
    if (settings_.trace)
        printLine("< " + peer + ' ' + describeMessage(reply));

    if (faulty && faults.delayMs > 0)
        sleepMs(faults.delayMs);
    if (faulty && faults.stallAfter >= 0) {
        // Never the whole reply: at most all of it but its last byte.
        const std::size_t sent = std::min(std::size_t(faults.stallAfter), reply.size() - 1);
        if (!sendAll(socket, reply.data(), sent))
            return false;
        printLine("fault: stalled the reply to " + peer + " after " + std::to_string(sent) + " bytes");
        stall(socket);
        return false;
    }
    if (faulty && faults.closeMidReply) {
        sendAll(socket, reply.data(), midReplyCut(reply));
        printLine("fault: closed the connection of " + peer + " in the middle of a reply");
        return false;
    }
    if (faulty && faults.endlessText) {
        sendEndlessText(socket, peer, messageName(request));
        return false;
    }
    std::vector<std::size_t> ends{reply.size()};
    int pauseMs = 0;
    if (faulty && faults.pieceSize > 0) {
        ends = pieceEnds(reply, faults.pieceSize);
        pauseMs = faults.piecePauseMs;
    } else if (faulty && faults.tokenPauseMs >= 0) {
        ends = tokenEnds(reply);
        pauseMs = faults.tokenPauseMs;
    }
    for (int copy = faulty && faults.sendTwice ? 2 : 1; copy > 0; --copy) {
        std::size_t start = 0;
        for (const std::size_t end : ends) {
            if (start > 0)
                sleepMs(pauseMs);
            if (!sendAll(socket, reply.data() + start, end - start))
                return false;
            start = end;
        }
    }
    return true;
}

void Server::sendEndlessText(platform::SocketHandle socket, const std::string& peer, std::string_view name)
{
    // The result, then a text that goes on until the client gives up (or
    // kMaxEndlessBytes, so that a client that reads for ever still ends).
    std::string head = std::string(name) + "=(n=00000000)(s=";
    const std::string filler(64 * 1024, 'x');
    std::size_t sent = 0;
    bool open = sendAll(socket, head.data(), head.size());
    while (open && !stopping_ && sent < kMaxEndlessBytes) {
        open = sendAll(socket, filler.data(), filler.size());
        sent += filler.size();
    }
    printLine("fault: sent " + std::to_string(sent) + " bytes of an endless text to " + peer);
}

void Server::stall(platform::SocketHandle socket)
{
    // The connection stays open and silent: requests are read and dropped
    // until the client closes, the server stops, or kMaxStallMs have passed.
    char sink[kReceiveChunkSize];
    for (int waited = 0; waited < kMaxStallMs && !stopping_; waited += kTickMs) {
        if (!platform::waitReadable(socket, kTickMs))
            continue;
        if (platform::receiveSome(socket, sink, sizeof sink) <= 0)
            return;
    }
}

void Server::notifyScenarioEnd(const FinishedScenario& finished)
{
    const std::string message = "ScenarioFinished=(s=" + finished.name + ')';
    const std::string answer =
        sendCallback(settings_.bind, finished.peer, settings_.callbackPort, message, kCallbackTimeoutMs);
    const std::string where = finished.peer + ':' + std::to_string(settings_.callbackPort);
    if (answer.empty())
        printLine("callback to " + where + " got no answer");
    else
        printLine("callback to " + where + " answered: " + answer);
}

void Server::sendEventIfDue(Clock::time_point now)
{
    if (now < nextEvent_)
        return;
    // The next one is due a period after this one was, never in a burst
    // after a pause: an event that cannot go now is skipped, not saved up.
    nextEvent_ += std::chrono::milliseconds(settings_.eventEveryMs);
    if (nextEvent_ < now)
        nextEvent_ = now + std::chrono::milliseconds(settings_.eventEveryMs);
    std::string client;
    {
        std::lock_guard lock(latestClientMutex_);
        client = latestClient_;
    }
    // No client yet, or the event before still waits for its answer.
    if (client.empty() || eventInFlight_.exchange(true))
        return;
    const std::string message = settings_.eventName + '=' + codec::encodeInt(++eventsSent_);
    startWorker(platform::kInvalidSocket, [this, client, message](Worker*) {
        const std::string answer = sendCallback(settings_.bind, client, settings_.callbackPort, message,
                                                kCallbackTimeoutMs);
        const std::string where = client + ':' + std::to_string(settings_.callbackPort);
        printLine("event " + message + " to " + where + (answer.empty() ? " got no answer" : " answered: " + answer));
        eventInFlight_ = false;
    });
}

std::string sendCallback(const std::string& from, const std::string& address, int port, std::string_view message,
                         int timeoutMs)
{
    uint32_t to = 0;
    uint32_t local = platform::kAnyAddress;
    if (!parseIpv4Address(address, &to) || !parseIpv4Address(from, &local))
        return {};
    const platform::SocketHandle socket = platform::openTcpSocket();
    if (socket == platform::kInvalidSocket)
        return {};
    std::string answer;
    // From the emulator's own address; any free port.
    const bool bound = local == platform::kAnyAddress || platform::bindSocket(socket, {local, 0}) == 0;
    if (bound && platform::connectWithTimeout(socket, {to, uint16_t(port)}, timeoutMs) == 0) {
        platform::setTimeouts(socket, timeoutMs);
        if (sendAll(socket, message.data(), message.size())) {
            // The answer ends where a client of the listener takes a reply
            // to end.
            ReplyReader reader;
            reader.begin(1);
            receiveReply(socket, reader, nullptr, kCallbackMaxReads);
            answer = reader.reply();
        }
    }
    platform::closeSocket(socket);
    return answer;
}

} // namespace tqbse::emu
