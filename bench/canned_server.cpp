#include "bench/canned_server.h"

#include <pthread.h>
#include <sched.h>

#include <cstring>
#include <vector>

#include "protocol/codec.h"
#include "client/receive.h"
#include "protocol/result_codes.h"
#include "platform/host.h"

namespace tqbse::bench {
namespace {

constexpr int kPollMs = 100; // how often an idle server looks at the stop flag
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
    if (platform::bindSocket(listening_, local) != 0 || platform::listenSocket(listening_, platform::kListenBacklog) != 0
        || platform::localEndpoint(listening_, &local) != 0) {
        error_ = std::strerror(platform::lastError());
        platform::closeSocket(listening_);
        listening_ = platform::kInvalidSocket;
        return false;
    }
    port_ = local.port;
    stopping_.store(false);
    thread_ = std::thread([this] { run(); });
    return true;
}

void CannedServer::stop()
{
    stopping_.store(true);
    if (thread_.joinable())
        thread_.join();
    if (listening_ != platform::kInvalidSocket) {
        platform::closeSocket(listening_);
        listening_ = platform::kInvalidSocket;
    }
}

// One thread serves every connection, so the library's connection and the
// raw client's are answered by the same thread on whatever core it runs:
// their figures differ only by the client side. (With a thread each, the
// scheduler may wake one on the client's core and the other across cores,
// and one side pays a cross-core wake-up that the other does not.)
void CannedServer::run()
{
    pinThisThread(cpu_);
    struct Connection {
        platform::SocketHandle socket;
        std::string pending;
        RequestFramer framer;
    };
    std::vector<Connection> connections;
    std::vector<platform::SocketHandle> sockets;
    bool readable[kMaxLiveConnections + 1];
    std::string scratch;
    while (!stopping_.load()) {
        sockets.clear();
        sockets.push_back(connections.size() < kMaxLiveConnections ? listening_ : platform::kInvalidSocket);
        for (const Connection& c : connections)
            sockets.push_back(c.socket);
        if (platform::waitAnyReadable(sockets.data(), sockets.size(), kPollMs, readable) <= 0)
            continue;
        for (std::size_t i = connections.size(); i-- > 0;) {
            if (!readable[i + 1])
                continue;
            Connection& c = connections[i];
            bool keep = receiveRequestChunk(c.socket, c.pending, c.framer) > 0;
            if (keep) {
                if (c.pending.size() > kMaxRequestBytes) {
                    keep = false;
                } else if (c.framer.complete()) {
                    const std::string& reply = replyFor(c.pending, scratch);
                    keep = platform::sendAll(c.socket, reply.data(), reply.size()) == 0;
                    if (keep)
                        served_.fetch_add(1, std::memory_order_relaxed);
                    c.pending.clear();
                    c.framer.reset();
                }
            }
            if (!keep) {
                platform::closeSocket(c.socket);
                connections.erase(connections.begin() + std::ptrdiff_t(i));
            }
        }
        if (readable[0]) {
            const platform::SocketHandle client = platform::acceptPeer(listening_, nullptr);
            if (client != platform::kInvalidSocket) {
                platform::setNoDelay(client);
                connections.push_back({client, {}, {}});
            }
        }
    }
    for (const Connection& c : connections)
        platform::closeSocket(c.socket);
}

} // namespace tqbse::bench
