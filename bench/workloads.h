// The requests and replies the benchmarks exchange, built with the library's
// own encoder so that the library and the raw client send the same bytes,
// and a raw-socket client that is the floor the library is measured against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/canned_server.h"
#include "platform/platform.h"

namespace tqbse::bench {

inline constexpr char kServerAddress[] = "127.0.0.40";
inline constexpr int kServerOctets[4] = {127, 0, 0, 40};
inline constexpr uint16_t kServerPort = 6002;
inline constexpr uint16_t kCallbackPort = 6009;
// How long a benchmark's own sockets wait.
inline constexpr int kClientTimeoutMs = 10000;

inline constexpr int32_t kRxIndex = 0;
inline constexpr double kRxFrequency = 1.0e9;
inline constexpr int32_t kTraceHandle = 7;

struct CannedExchange {
    std::string request;
    std::string reply;
};

CannedExchange rxSetExchange();
CannedExchange rxGetExchange();

// A scenario file of exactly `bytes` printable bytes; its name encodes the size.
std::string scenarioName(std::size_t bytes);
std::string scenarioText(std::size_t bytes);
// Scenario_Download of that file into a buffer of bytes + 1.
std::string scenarioRequest(std::size_t bytes);
CannedExchange scenarioExchange(std::size_t bytes);

// LTE_Results_GetTrace of `points` x and y values (trace number = points,
// capacity = points). The values are traceX(i) and traceY(i).
std::string traceRequest(int32_t points);
CannedExchange traceExchange(int32_t points);
double traceX(int32_t i);
double traceY(int32_t i);

// Registers the two small calls and the given bulk sizes.
void registerWorkloads(CannedServer& server, const std::vector<std::size_t>& scenarioSizes,
                       const std::vector<int32_t>& tracePoints);

// The floor: a plain blocking TCP client (TCP_NODELAY, send and receive
// timeouts), one send and one receive system call at a time, no parsing.
class RawClient {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Connects to `address`:`port`, from the local address `from` when
    // given (a loopback address, as a second server would appear).
    bool connect(const char* address, uint16_t port, int timeoutMs, const char* from = nullptr);
    // Sends the request and receives exactly `replyBytes` into `into` in
    // receives of at most `chunk` bytes (by default each receive takes all
    // the kernel holds, up to the end of the reply). False on error, close
    // or timeout.
    bool roundTrip(const std::string& request, char* into, std::size_t replyBytes,
                   std::size_t chunk = SIZE_MAX);
    platform::SocketHandle socket() const { return socket_; }

private:
    platform::SocketHandle socket_ = platform::kInvalidSocket;
};

// Connects `client` to the callback listener (127.0.0.1 or `address`, port
// kCallbackPort, from `from` when given), retrying for up to 2 s: the
// listener's thread binds its port a moment after it is started.
bool connectToListener(RawClient& client, const char* address, const char* from = nullptr);

// The median of `samples` (reordered); 0 for none.
double medianOf(std::vector<double>& samples);

// The process's peak resident set size so far, in KiB.
long peakRssKb();
// Starts a new peak window: resets the peak resident set to the current
// one (Linux's clear_refs) and returns it, in KiB; -1 when the peak cannot
// be reset, as a peak of earlier, freed memory would then hide the growth
// that follows.
long startPeakWindow();

} // namespace tqbse::bench
