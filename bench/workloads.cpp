#include "bench/workloads.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "client/call_remote.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"
#include "protocol/rows/core.h"
#include "protocol/rows/lte_results.h"
#include "protocol/rows/rf_settings.h"
#include "protocol/rows/scenarios.h"
#include "platform/host.h"

namespace tqbse::bench {
namespace {

std::string okReply(const CallDesc& call) { return codec::resultOnlyReply(call.fullName(), kSuccess); }

} // namespace

CannedExchange rxSetExchange()
{
    const ArgValue args[] = {ArgValue(kRxIndex), ArgValue(kRxFrequency)};
    return {buildRequest(calls::RX_CentreFrequency_Set, args), okReply(calls::RX_CentreFrequency_Set)};
}

CannedExchange rxGetExchange()
{
    const ArgValue args[] = {ArgValue(kRxIndex), ArgValue(static_cast<double*>(nullptr))};
    std::string reply = okReply(calls::RX_CentreFrequency_Get);
    codec::appendDouble(reply, kRxFrequency);
    return {buildRequest(calls::RX_CentreFrequency_Get, args), reply};
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
    return buildRequest(calls::Scenario_Download, args);
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
    return buildRequest(calls::LTE_Results_GetTrace, args);
}

CannedExchange traceExchange(int32_t points)
{
    std::vector<double> x(static_cast<std::size_t>(points)), y(static_cast<std::size_t>(points));
    for (int32_t i = 0; i < points; ++i) {
        x[std::size_t(i)] = traceX(i);
        y[std::size_t(i)] = traceY(i);
    }
    std::string reply = okReply(calls::LTE_Results_GetTrace);
    codec::appendDoubleArray(reply, x.data(), x.size());
    codec::appendDoubleArray(reply, y.data(), y.size());
    return {traceRequest(points), std::move(reply)};
}

void registerWorkloads(CannedServer& server, const std::vector<std::size_t>& scenarioSizes,
                       const std::vector<int32_t>& tracePoints)
{
    for (const CannedExchange& e : {rxSetExchange(), rxGetExchange()})
        server.add(e.request, e.reply);
    // Initialise and Shutdown announce the connection with -1 and 0.
    for (int32_t state : {-1, 0}) {
        const ArgValue args[] = {ArgValue(state)};
        server.add(buildRequest(calls::RemoteConnection_Set, args), okReply(calls::RemoteConnection_Set));
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
    if (socket_ != platform::kInvalidSocket)
        platform::closeSocket(socket_);
}

bool connectToListener(RawClient& client, const char* address, const char* from)
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (client.connect(address, kCallbackPort, kClientTimeoutMs, from))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

double medianOf(std::vector<double>& samples)
{
    if (samples.empty())
        return 0;
    auto middle = samples.begin() + std::ptrdiff_t(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

bool RawClient::connect(const char* address, uint16_t port, int timeoutMs, const char* from)
{
    uint32_t server = 0, local = 0;
    if (!platform::parseDottedAddress(address, &server) || (server >> 24) != 127)
        return false; // loopback only
    if (from != nullptr && (!platform::parseDottedAddress(from, &local) || (local >> 24) != 127))
        return false;
    socket_ = platform::openTcpSocket();
    if (socket_ == platform::kInvalidSocket)
        return false;
    if (from != nullptr && platform::bindSocket(socket_, {local, 0}) != 0) {
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
        return false;
    }
    platform::setNoDelay(socket_);
    platform::setTimeouts(socket_, timeoutMs);
    if (platform::connectWithTimeout(socket_, {server, port}, timeoutMs) != 0) {
        platform::closeSocket(socket_);
        socket_ = platform::kInvalidSocket;
        return false;
    }
    return true;
}

bool RawClient::roundTrip(const std::string& request, char* into, std::size_t replyBytes, std::size_t chunk)
{
    if (platform::sendAll(socket_, request.data(), request.size()) != 0)
        return false;
    std::size_t got = 0;
    while (got < replyBytes) {
        const std::size_t want = std::min(chunk, replyBytes - got);
        const int64_t n = platform::receiveSome(socket_, into + got, want);
        if (n <= 0)
            return false;
        got += std::size_t(n);
    }
    return true;
}

namespace {

// One "Name:   123 kB" line of /proc/self/status, in KiB; -1 when missing.
long statusKb(const char* field)
{
    long kb = -1;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        const std::size_t length = std::strlen(field);
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
                std::sscanf(line + length + 1, "%ld", &kb);
                break;
            }
        std::fclose(f);
    }
    return kb;
}

} // namespace

long peakRssKb()
{
    // VmHWM rather than getrusage's ru_maxrss: after posix_spawn the latter
    // starts at the spawning process's peak, which hides the probe's own.
    return statusKb("VmHWM");
}

long startPeakWindow()
{
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return -1;
    const bool reset = std::fputs("5", f) >= 0;
    if (std::fclose(f) != 0 || !reset)
        return -1;
    return statusKb("VmRSS");
}

} // namespace tqbse::bench
