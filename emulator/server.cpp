#include "emulator/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "emulator/request_handler.h"
#include "emulator/trace_format.h"

namespace tqbse::emu {
namespace {

constexpr qsizetype kReceiveChunk = 64 * 1024;
constexpr int kIdlePollMs = 500;
constexpr int kTickMs = 50;
constexpr int kCallbackTimeoutMs = 2000;
constexpr int kCallbackMaxReads = 64;

std::mutex printMutex;

bool sendAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, std::size_t(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool faultsEnabled(const FaultOptions& f)
{
    return f.delayMs > 0 || f.pieceSize > 0 || f.closeAfter >= 0 || f.closeMidReply || f.wrongName
        || f.missingOutputs || f.badHex;
}

QByteArray peerText(const sockaddr_in& a)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return QByteArray(text);
}

} // namespace

void printLine(const QByteArray& line)
{
    std::lock_guard lock(printMutex);
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

Server::Server(Model& model, ServerSettings settings) : model_(model), settings_(std::move(settings)) {}

Server::~Server()
{
    stopping_ = true;
    reapWorkers(true);
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool Server::listen(QString* error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(settings_.port));
    if (inet_pton(AF_INET, settings_.bind.constData(), &address.sin_addr) != 1) {
        *error = QStringLiteral("not an IPv4 address: %1").arg(QString::fromLatin1(settings_.bind));
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        *error = QStringLiteral("socket() failed: %1").arg(errno);
        return false;
    }
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::listen(listenFd_, 16) != 0) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(QString::fromLatin1(settings_.bind))
                     .arg(settings_.port)
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    return true;
}

void Server::run(int stopFd)
{
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, kTickMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
            if (fd >= 0) {
                const int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                const QByteArray text = peerText(peer);
                printLine("client connected: " + text + ':' + QByteArray::number(ntohs(peer.sin_port)));
                startWorker(fd, [this, text](Worker* w) { serveClient(w, text); });
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
                startWorker(-1, [this, f = *finished](Worker*) { notifyScenarioEnd(f); });
        }
        reapWorkers(false);
    }
    stopping_ = true;
    reapWorkers(true);
}

void Server::startWorker(int fd, std::function<void(Worker*)> body)
{
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    w->fd = fd;
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
            if (all && (*it)->fd >= 0)
                ::shutdown((*it)->fd, SHUT_RDWR); // wakes its thread
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

void Server::serveClient(Worker* worker, QByteArray peer)
{
    const int fd = worker->fd;
    QByteArray buffer;
    RequestScanner scanner;
    int faultCount = 0;
    bool open = true;
    while (open && !stopping_) {
        if (scanner.complete()) {
            open = answer(fd, peer, buffer, &faultCount);
            buffer.clear();
            scanner.reset();
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, buffer.isEmpty() ? kIdlePollMs : kRequestQuietMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            break;
        if (ready == 0) {
            if (!buffer.isEmpty()) { // quiet: take what arrived as the request
                open = answer(fd, peer, buffer, &faultCount);
                buffer.clear();
                scanner.reset();
            }
            continue;
        }
        const qsizetype at = buffer.size();
        if (buffer.capacity() - at < kReceiveChunk)
            buffer.reserve(std::max(2 * buffer.capacity(), at + kReceiveChunk));
        buffer.resize(at + kReceiveChunk);
        const ssize_t n = ::recv(fd, buffer.data() + at, std::size_t(kReceiveChunk), 0);
        if (n < 0 && errno == EINTR) {
            buffer.resize(at);
            continue;
        }
        if (n <= 0)
            break;
        buffer.resize(at + n);
        if (buffer.size() > kMaxRequestBytes) {
            printLine("request from " + peer + " exceeds " + QByteArray::number(kMaxRequestBytes) + " bytes: closing");
            break;
        }
        scanner.feed(buffer);
    }
    {
        // Forget the descriptor before closing it, so that a stop never
        // shuts down a descriptor number that has been reused.
        std::lock_guard lock(workersMutex_);
        worker->fd = -1;
    }
    ::close(fd);
    printLine("client disconnected: " + peer);
}

bool Server::answer(int fd, const QByteArray& peer, QByteArrayView request, int* faultCount)
{
    const FaultOptions& faults = settings_.faults;
    const QByteArrayView name = messageName(request);
    const bool faulty = faultsEnabled(faults) && faults.appliesTo(name);
    if (settings_.trace)
        printLine("> " + peer + ' ' + describeMessage(request));
    if (faulty && faults.closeAfter >= 0 && (*faultCount)++ >= faults.closeAfter) {
        printLine("fault: closing the connection of " + peer + " instead of answering");
        return false;
    }

    CallContext context;
    context.peer = peer;
    context.now = Clock::now();
    QByteArray reply = handleRequest(model_, request, context);
    if (faulty)
        reply = applyReplyFaults(faults, std::move(reply));
    if (settings_.trace)
        printLine("< " + peer + ' ' + describeMessage(reply));

    if (faulty && faults.delayMs > 0)
        sleepMs(faults.delayMs);
    if (faulty && faults.closeMidReply) {
        sendAll(fd, reply.constData(), midReplyCut(reply));
        printLine("fault: closed the connection of " + peer + " in the middle of a reply");
        return false;
    }
    if (faulty && faults.pieceSize > 0) {
        qsizetype start = 0;
        for (const qsizetype end : pieceEnds(reply, faults.pieceSize)) {
            if (start > 0)
                sleepMs(faults.piecePauseMs);
            if (!sendAll(fd, reply.constData() + start, end - start))
                return false;
            start = end;
        }
        return true;
    }
    return sendAll(fd, reply.constData(), reply.size());
}

void Server::notifyScenarioEnd(const FinishedScenario& finished)
{
    QByteArray message = "ScenarioFinished=(s=" + finished.name + ')';
    const QByteArray answer = sendCallback(finished.peer, settings_.callbackPort, message, kCallbackTimeoutMs);
    const QByteArray where = finished.peer + ':' + QByteArray::number(settings_.callbackPort);
    if (answer.isEmpty())
        printLine("callback to " + where + " got no answer");
    else
        printLine("callback to " + where + " answered: " + answer);
}

QByteArray sendCallback(const QByteArray& address, int port, const QByteArray& message, int timeoutMs)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.constData(), &to.sin_addr) != 1)
        return {};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return {};
    QByteArray answer;
    int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLOUT, 0};
    if (rc != 0 && errno == EINPROGRESS && ::poll(&p, 1, timeoutMs) == 1) {
        int err = 0;
        socklen_t length = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length);
        rc = err == 0 ? 0 : -1;
    }
    if (rc == 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (sendAll(fd, message.constData(), message.size())) {
            char chunk[4096];
            for (int reads = 0; reads < kCallbackMaxReads; ++reads) {
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                answer.append(chunk, n);
                if (answer.endsWith(')'))
                    break;
            }
        }
    }
    ::close(fd);
    return answer;
}

} // namespace tqbse::emu
