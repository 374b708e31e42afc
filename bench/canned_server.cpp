#include "bench/canned_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tqbse::bench {
namespace {

constexpr int kPollMs = 100;          // how often idle threads look at the stop flag
constexpr std::size_t kMaxLiveConnections = 64;
constexpr std::size_t kMaxRequestBytes = 64u << 20;

bool sendAll(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        p += sent;
        n -= std::size_t(sent);
    }
    return true;
}

} // namespace

bool pinThisThread(int cpu)
{
    if (cpu < 0)
        return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

CannedServer::CannedServer(std::string address, uint16_t port)
    : address_(std::move(address)), port_(port)
{
}

CannedServer::~CannedServer() { stop(); }

void CannedServer::add(const std::string& request, std::string reply)
{
    replies_[request] = std::move(reply);
}

std::size_t CannedServer::requestLength(const std::string& pending)
{
    const std::size_t eq = pending.find('=');
    if (eq == std::string::npos)
        return 0;
    long depth = 0;
    for (std::size_t i = eq + 1; i < pending.size(); ++i) {
        if (pending[i] == '(')
            ++depth;
        else if (pending[i] == ')' && --depth == 0 && i + 1 == pending.size())
            return i + 1;
    }
    // "name=" alone is a request without inputs.
    if (eq + 1 == pending.size())
        return pending.size();
    return 0;
}

const std::string& CannedServer::replyFor(const std::string& request, std::string& scratch) const
{
    if (const auto it = replies_.find(request); it != replies_.end())
        return it->second;
    scratch.assign(request, 0, request.find('='));
    scratch += "=(n=f8ffffff)";
    return scratch;
}

bool CannedServer::start(int cpu)
{
    cpu_ = cpu;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port_);
    if (::inet_pton(AF_INET, address_.c_str(), &local.sin_addr) != 1
        || (ntohl(local.sin_addr.s_addr) >> 24) != 127) {
        errno = EINVAL; // loopback only
        return false;
    }
    listening_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening_ < 0)
        return false;
    const int on = 1;
    ::setsockopt(listening_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listening_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0
        || ::listen(listening_, 8) != 0) {
        const int error = errno;
        ::close(listening_);
        listening_ = -1;
        errno = error;
        return false;
    }
    stopping_.store(false);
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
}

void CannedServer::stop()
{
    stopping_.store(true);
    if (acceptor_.joinable())
        acceptor_.join();
    std::vector<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(workersMutex_);
        workers.swap(workers_);
    }
    for (Worker& w : workers)
        w.thread.join();
    if (listening_ >= 0) {
        ::close(listening_);
        listening_ = -1;
    }
}

void CannedServer::acceptLoop()
{
    pinThisThread(cpu_);
    while (!stopping_.load()) {
        pollfd p{listening_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        std::lock_guard<std::mutex> lock(workersMutex_);
        // Join the threads of connections that have ended; past the live
        // limit, new connections wait in the backlog.
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
        if (workers_.size() >= kMaxLiveConnections) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const int client = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([this, client, done] {
                                serve(client);
                                done->store(true);
                            }),
                            done});
    }
}

void CannedServer::serve(int client)
{
    pinThisThread(cpu_);
    std::string pending;
    std::string scratch;
    std::vector<char> buffer(64 * 1024);
    // A receive timeout rather than poll: one system call per request, as a
    // plain blocking server has, while the stop flag is still looked at
    // every kPollMs.
    timeval tv{0, kPollMs * 1000};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    while (!stopping_.load()) {
        const ssize_t n = ::recv(client, buffer.data(), buffer.size(), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            break;
        pending.append(buffer.data(), std::size_t(n));
        if (pending.size() > kMaxRequestBytes)
            break;
        if (requestLength(pending) == 0)
            continue;
        const std::string& reply = replyFor(pending, scratch);
        if (!sendAll(client, reply.data(), reply.size()))
            break;
        served_.fetch_add(1, std::memory_order_relaxed);
        pending.clear();
    }
    ::close(client);
}

} // namespace tqbse::bench
