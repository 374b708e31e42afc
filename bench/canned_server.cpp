#include "bench/canned_server.h"

#include <pthread.h>
#include <sched.h>

#include <cstring>
#include <vector>

#include "protocol/codec.h"
#include "protocol/framer.h"
#include "protocol/result_codes.h"

namespace tqbse::bench {
namespace {

constexpr int kPollMs = 100; // how often an idle thread looks at the stop flag
constexpr std::size_t kMaxLiveConnections = 64;
constexpr std::size_t kMaxRequestBytes = 64u << 20;

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

CannedServer::CannedServer(std::string address, uint16_t port) : address_(std::move(address)), port_(port) {}

CannedServer::~CannedServer() { stop(); }

void CannedServer::add(const std::string& request, std::string reply) { replies_[request] = std::move(reply); }

const std::string& CannedServer::replyFor(const std::string& request, std::string& scratch) const
{
    if (const auto it = replies_.find(request); it != replies_.end())
        return it->second;
    scratch = codec::resultOnlyReply(std::string_view(request).substr(0, request.find('=')), kFunctionNotFound);
    return scratch;
}

bool CannedServer::start(int cpu)
{
    cpu_ = cpu;
    uint32_t address = 0;
    if (!platform::parseDottedAddress(address_.c_str(), &address) || (address >> 24) != 127) {
        error_ = "not a loopback address";
        return false;
    }
    listening_ = platform::openTcpSocket();
    if (listening_ == platform::kInvalidSocket) {
        error_ = std::strerror(platform::lastError());
        return false;
    }
    platform::setListenerAddressOption(listening_);
    platform::Endpoint local{address, port_};
    if (platform::bindSocket(listening_, local) != 0 || platform::listenSocket(listening_, 8) != 0
        || !platform::localEndpoint(listening_, &local)) {
        error_ = std::strerror(platform::lastError());
        platform::closeSocket(listening_);
        listening_ = platform::kInvalidSocket;
        return false;
    }
    port_ = local.port;
    stopping_.store(false);
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void CannedServer::stop()
{
    stopping_.store(true);
    if (acceptThread_.joinable())
        acceptThread_.join();
    reap(true);
    if (listening_ != platform::kInvalidSocket) {
        platform::closeSocket(listening_);
        listening_ = platform::kInvalidSocket;
    }
}

void CannedServer::acceptLoop()
{
    pinThisThread(cpu_);
    while (!stopping_.load()) {
        reap(false);
        bool full = false;
        {
            std::lock_guard lock(connectionsMutex_);
            full = connections_.size() >= kMaxLiveConnections;
        }
        if (full) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (!platform::waitReadable(listening_, kPollMs))
            continue;
        const platform::SocketHandle socket = platform::acceptPeer(listening_, nullptr);
        if (socket == platform::kInvalidSocket)
            continue;
        platform::setNoDelay(socket);
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        Connection* c = connection.get();
        std::lock_guard lock(connectionsMutex_);
        connections_.push_back(std::move(connection));
        c->thread = std::thread([this, c] { serve(c); });
    }
}

// A thread per connection, each asleep in its wait until a request arrives:
// the library's connection and the raw client's are served by the same code
// in the same way, so their figures differ only by the client side.
void CannedServer::serve(Connection* connection)
{
    pinThisThread(cpu_);
    const platform::SocketHandle socket = connection->socket;
    std::vector<char> buffer(64 * 1024);
    std::string pending;
    std::string scratch;
    RequestFramer framer;
    while (!stopping_.load()) {
        if (!platform::waitReadable(socket, kPollMs))
            continue;
        const int64_t n = platform::receiveSome(socket, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        pending.append(buffer.data(), std::size_t(n));
        if (pending.size() > kMaxRequestBytes)
            break;
        if (framer.feed(pending)) {
            const std::string& reply = replyFor(pending, scratch);
            if (platform::sendAll(socket, reply.data(), reply.size()) != 0)
                break;
            served_.fetch_add(1, std::memory_order_relaxed);
            pending.clear();
            framer.reset();
        }
    }
    connection->done.store(true);
}

void CannedServer::reap(bool all)
{
    std::list<std::unique_ptr<Connection>> ended;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || (*it)->done.load()) {
                if (all)
                    platform::shutdownBoth((*it)->socket); // wakes its thread
                ended.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Closed only after the thread has ended, so no handle is reused under it.
    for (auto& c : ended) {
        if (c->thread.joinable())
            c->thread.join();
        platform::closeSocket(c->socket);
    }
}

} // namespace tqbse::bench
