#include "bench/workloads.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cmath>

#include "api/lte_results_calls.h"
#include "api/rf_settings_calls.h"
#include "api/scenarios_calls.h"
#include "core/call_remote.h"
#include "core/codec.h"
#include "core/core_calls.h"

namespace tqbse::bench {
namespace {

std::string toStd(const QByteArray& bytes) { return std::string(bytes.constData(), std::size_t(bytes.size())); }

std::string okReply(const CallDesc& call)
{
    QByteArray reply(call.name);
    reply.append('=');
    codec::appendInt(reply, 0);
    return toStd(reply);
}

} // namespace

CannedExchange rxSetExchange()
{
    const ArgValue args[] = {ArgValue(kRxIndex), ArgValue(kRxFrequency)};
    return {toStd(buildRequest(calls::RX_CentreFrequency_Set, args)), okReply(calls::RX_CentreFrequency_Set)};
}

CannedExchange rxGetExchange()
{
    const ArgValue args[] = {ArgValue(kRxIndex), ArgValue(static_cast<double*>(nullptr))};
    std::string reply = okReply(calls::RX_CentreFrequency_Get);
    QByteArray value;
    codec::appendDouble(value, kRxFrequency);
    reply += toStd(value);
    return {toStd(buildRequest(calls::RX_CentreFrequency_Get, args)), reply};
}

std::string scenarioName(std::size_t bytes) { return "bench_" + std::to_string(bytes) + ".scn"; }

std::string scenarioText(std::size_t bytes)
{
    // Lines of printable text without parentheses, cut to the exact size.
    std::string text;
    text.reserve(bytes + 64);
    for (std::size_t line = 0; text.size() < bytes; ++line)
        text += "step " + std::to_string(line) + ": SET RX level -" + std::to_string(line % 97)
            + " dBm; WAIT 10 ms; EXPECT attach_complete\n";
    text.resize(bytes);
    return text;
}

std::string scenarioRequest(std::size_t bytes)
{
    const std::string name = scenarioName(bytes);
    const ArgValue args[] = {ArgValue(name.c_str()), ArgValue(int32_t(name.size())),
                             ArgValue(static_cast<char*>(nullptr)), ArgValue(int32_t(bytes + 1))};
    return toStd(buildRequest(calls::Scenario_Download, args));
}

CannedExchange scenarioExchange(std::size_t bytes)
{
    const std::string text = scenarioText(bytes);
    std::string reply = okReply(calls::Scenario_Download);
    reply.reserve(reply.size() + bytes + 5);
    reply += "(s=";
    reply += text;
    reply += ")";
    return {scenarioRequest(bytes), std::move(reply)};
}

double traceX(int32_t i) { return 1.0e9 + 15.0e3 * i; }
double traceY(int32_t i) { return -60.0 + 20.0 * std::sin(i * 0.001); }

std::string traceRequest(int32_t points)
{
    const ArgValue args[] = {ArgValue(kTraceHandle), ArgValue(points), ArgValue(static_cast<double*>(nullptr)),
                             ArgValue(static_cast<double*>(nullptr)), ArgValue(points)};
    return toStd(buildRequest(calls::LTE_Results_GetTrace, args));
}

CannedExchange traceExchange(int32_t points)
{
    std::vector<double> x(static_cast<std::size_t>(points)), y(static_cast<std::size_t>(points));
    for (int32_t i = 0; i < points; ++i) {
        x[std::size_t(i)] = traceX(i);
        y[std::size_t(i)] = traceY(i);
    }
    QByteArray reply(calls::LTE_Results_GetTrace.name);
    reply.append('=');
    codec::appendInt(reply, 0);
    codec::appendDoubleArray(reply, x.data(), x.size());
    codec::appendDoubleArray(reply, y.data(), y.size());
    return {traceRequest(points), toStd(reply)};
}

void registerWorkloads(CannedServer& server, const std::vector<std::size_t>& scenarioSizes,
                       const std::vector<int32_t>& tracePoints)
{
    for (const CannedExchange& e : {rxSetExchange(), rxGetExchange()})
        server.add(e.request, e.reply);
    // Initialise and Shutdown announce the connection with -1 and 0.
    for (int32_t state : {-1, 0}) {
        const ArgValue args[] = {ArgValue(state)};
        server.add(toStd(buildRequest(calls::RemoteConnection_Set, args)), okReply(calls::RemoteConnection_Set));
    }
    for (std::size_t bytes : scenarioSizes) {
        CannedExchange e = scenarioExchange(bytes);
        server.add(e.request, std::move(e.reply));
    }
    for (int32_t points : tracePoints) {
        CannedExchange e = traceExchange(points);
        server.add(e.request, std::move(e.reply));
    }
}

RawClient::~RawClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RawClient::connect(const char* address, uint16_t port, int timeoutMs)
{
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    if (::inet_pton(AF_INET, address, &server.sin_addr) != 1 || (ntohl(server.sin_addr.s_addr) >> 24) != 127)
        return false; // loopback only
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool RawClient::roundTrip(const std::string& request, char* into, std::size_t replyBytes, std::size_t chunk)
{
    const char* p = request.data();
    std::size_t left = request.size();
    while (left > 0) {
        const ssize_t n = ::send(fd_, p, left, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        p += n;
        left -= std::size_t(n);
    }
    std::size_t got = 0;
    while (got < replyBytes) {
        const std::size_t want = std::min(chunk, replyBytes - got);
        const ssize_t n = ::recv(fd_, into + got, want, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += std::size_t(n);
    }
    return true;
}

long peakRssKb()
{
    // VmHWM rather than getrusage's ru_maxrss: after posix_spawn the latter
    // starts at the spawning process's peak, which hides the probe's own.
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        long kb = -1;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1)
                break;
        std::fclose(f);
        if (kb >= 0)
            return kb;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace tqbse::bench
