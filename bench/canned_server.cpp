#include "bench/canned_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tqbse::bench {
namespace {

constexpr int kPollMs = 100; // how often an idle server looks at the stop flag
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
    thread_ = std::thread([this] { run(); });
    return true;
}

void CannedServer::stop()
{
    stopping_.store(true);
    if (thread_.joinable())
        thread_.join();
    if (listening_ >= 0) {
        ::close(listening_);
        listening_ = -1;
    }
}

// One thread serves every connection, so the library's connection and the
// raw client's are answered by the same thread on whatever core it runs:
// their figures differ only by the client side.
void CannedServer::run()
{
    pinThisThread(cpu_);
    struct Connection {
        int fd;
        std::string pending;
    };
    std::vector<Connection> connections;
    std::vector<pollfd> fds;
    std::vector<char> buffer(64 * 1024);
    std::string scratch;
    while (!stopping_.load()) {
        fds.clear();
        fds.push_back({connections.size() < kMaxLiveConnections ? listening_ : -1, POLLIN, 0});
        for (const Connection& c : connections)
            fds.push_back({c.fd, POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), kPollMs);
        if (ready <= 0)
            continue;
        for (std::size_t i = connections.size(); i-- > 0;) {
            if (fds[i + 1].revents == 0)
                continue;
            Connection& c = connections[i];
            const ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            bool keep = n > 0;
            if (keep) {
                c.pending.append(buffer.data(), std::size_t(n));
                if (c.pending.size() > kMaxRequestBytes) {
                    keep = false;
                } else if (requestLength(c.pending) != 0) {
                    const std::string& reply = replyFor(c.pending, scratch);
                    keep = sendAll(c.fd, reply.data(), reply.size());
                    if (keep)
                        served_.fetch_add(1, std::memory_order_relaxed);
                    c.pending.clear();
                }
            }
            if (!keep) {
                ::close(c.fd);
                connections.erase(connections.begin() + std::ptrdiff_t(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const int on = 1;
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                connections.push_back({client, {}});
            }
        }
    }
    for (const Connection& c : connections)
        ::close(c.fd);
}

} // namespace tqbse::bench
