// The library against the raw-socket floor, side by side in one run:
// small-call latency (paired call by call) with the call's heap allocations,
// bulk transfers against a floor that only receives (with the library's peak
// memory), codec throughput (decode into the caller's memory included) and
// the callback listener's message rate.
//
//   tqbse_bench [--tiny] [google-benchmark flags]   the benchmarks
//   tqbse_bench --serve SECONDS                     only the server (for callgrind runs;
//                                                   small calls, 1 MiB scenario, 100k trace)
//   tqbse_bench --rss-probe lib|raw scenario|trace SIZE REPLYBYTES
//                                                   one bulk call in a fresh process;
//                                                   prints "rc base_kb peak_kb"
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/canned_server.h"
#include "bench/counting_allocator.h"
#include "bench/sessions.h"
#include "bench/workloads.h"
#include "client/c_arguments.h"
#include "client/session.h"
#include "platform/platform.h"
#include "protocol/codec.h"
#include "protocol/reply_reader.h"
#include "tqBsePluginControlDll.h"

extern char** environ;

namespace tqbse::bench {
namespace {

// Bulk sizes the --serve mode answers, for profiling bulk calls.
constexpr std::size_t kProfileScenarioBytes = 1u << 20;
constexpr int32_t kProfileTracePoints = 100'000;
constexpr std::size_t kMiB = 1u << 20;
constexpr int kProbeTimeoutSeconds = 120;

struct Sizes {
    std::vector<std::size_t> scenarios;
    std::vector<int32_t> traces;
    int32_t codecArray;     // elements of the array token decoded
    std::size_t codecText;  // bytes of the text token decoded
};

Sizes fullSizes()
{
    return {{1 * kMiB, 16 * kMiB, 64 * kMiB}, {10'000, 100'000, 1'000'000}, 1'000'000, 16 * kMiB};
}
Sizes tinySizes() { return {{4096, 64 * 1024}, {100, 1000}, 1000, 64 * 1024}; }

std::string sizeLabel(std::size_t bytes)
{
    return bytes >= kMiB ? std::to_string(bytes / kMiB) + "MiB" : std::to_string(bytes / 1024) + "KiB";
}

std::string pointsLabel(int32_t points)
{
    return points >= 1'000'000 ? std::to_string(points / 1'000'000) + "M"
        : points >= 1000      ? std::to_string(points / 1000) + "k"
                              : std::to_string(points);
}

// ---- Fresh-process memory probe -------------------------------------------

// One bulk call in this (fresh) process; the resident set before it and
// its peak during it, and the growth of the heap's high-water mark. The
// caller's own buffers (the payload it owns) are allocated and touched
// before the peak windows start, so the growth is the memory of the
// library's (or the floor's) own buffers alone.
int rssProbe(const std::string& side, const std::string& kind, long size, long replyBytes)
{
    int rc = -1;
    long base = -1;
    std::int64_t heapBase = 0;
    const auto startWindows = [&] {
        heapBase = startHeapPeakWindow();
        base = startPeakWindow();
    };
    if (side == "lib") {
        // Connect without Initialise: no callback listener in the probe.
        ServerConnection& connection = defaultSession().connection;
        connection.setAddress(platform::dottedText(uint32_t(kServerOctets[0]) << 24 | uint32_t(kServerOctets[1]) << 16
                                                   | uint32_t(kServerOctets[2]) << 8 | uint32_t(kServerOctets[3])));
        if (connection.connectToServer(kServerPort) != 0)
            return 1;
        if (kind == "scenario") {
            const std::string name = scenarioName(std::size_t(size));
            std::vector<char> buffer(std::size_t(size) + 1, 1);
            startWindows();
            rc = tqBsePluginControlDll_Scenario_Download(name.c_str(), int32_t(name.size()), buffer.data(),
                                                         int32_t(size + 1));
        } else {
            std::vector<double> x(std::size_t(size), 1.0), y(std::size_t(size), 1.0);
            startWindows();
            rc = tqBsePluginControlDll_LTE_Results_GetTrace(kTraceHandle, int32_t(size), x.data(), y.data(),
                                                            int32_t(size));
        }
    } else {
        RawClient client;
        if (!client.connect(kServerAddress, kServerPort, kClientTimeoutMs))
            return 1;
        const std::string request = kind == "scenario" ? scenarioRequest(std::size_t(size))
                                                       : traceRequest(int32_t(size));
        std::vector<char> destination(std::size_t(replyBytes), 1);
        startWindows();
        rc = client.roundTrip(request, destination.data(), std::size_t(replyBytes)) ? 0 : -14;
    }
    std::printf("%d %ld %ld %lld\n", rc, base, peakRssKb(), static_cast<long long>(heapPeakBytes() - heapBase));
    return 0;
}

// The growth of a probe's memory during its one call, in bytes.
struct PeakGrowth {
    double resident = -1; // of the peak resident set
    double heap = -1;     // of the heap's high-water mark
};

// Runs the probe in a fresh copy of this program; both figures stay -1 when
// it failed, the resident one also when the peak could not be reset.
PeakGrowth probePeakGrowth(const char* side, const char* kind, long size, long replyBytes)
{
    int out[2];
    if (::pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string sizeText = std::to_string(size), replyText = std::to_string(replyBytes);
    const char* argv[] = {"tqbse_bench", "--rss-probe", side, kind, sizeText.c_str(), replyText.c_str(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // The probe gets a bounded time: a watchdog kills a probe that hangs,
    // which ends the read below.
    std::string text;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kProbeTimeoutSeconds);
        if (!ended.wait_until(lock, deadline, [&] { return done; }) && spawned == 0)
            ::kill(pid, SIGKILL);
    });
    char buffer[256];
    ssize_t n = 0;
    while (spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, std::size_t(n));
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    ended.notify_one();
    watchdog.join();
    ::close(out[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    int rc = -1;
    long base = 0, peak = 0;
    long long heap = 0;
    if (std::sscanf(text.c_str(), "%d %ld %ld %lld", &rc, &base, &peak, &heap) != 4 || rc != 0)
        return {};
    // Without a fresh window (base -1) a peak of earlier, freed memory could
    // hide the growth: no resident figure then.
    return {base < 0 ? -1 : double(peak - base) * 1024.0, double(heap)};
}

// ---- Small calls ------------------------------------------------------------

// The library call and the raw client's round trip of the same bytes to the
// same server thread, alternating call by call (and which goes first), so
// that both meet the same scheduling and the same load from elsewhere. The
// medians are reported, as scheduling on a shared machine is bimodal.
template <typename LibraryCall>
void smallPaired(benchmark::State& state, const CannedExchange& exchange, LibraryCall libraryCall)
{
    RawClient client;
    if (!client.connect(kServerAddress, kServerPort, kClientTimeoutMs)) {
        state.SkipWithError("raw client cannot connect");
        return;
    }
    using Clock = std::chrono::steady_clock;
    std::vector<double> library, raw;
    char reply[4096];
    bool libraryFirst = true;
    std::uint64_t allocations = 0; // made by the library calls, on this thread
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = Clock::now();
            if (libraryFirst == (turn == 0)) {
                const std::uint64_t before = allocationsOnThisThread();
                if (!libraryCall()) {
                    state.SkipWithError("library call failed");
                    return;
                }
                allocations += allocationsOnThisThread() - before;
                library.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            } else {
                if (!client.roundTrip(exchange.request, reply, exchange.reply.size())) {
                    state.SkipWithError("raw round trip failed");
                    return;
                }
                raw.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            }
        }
        libraryFirst = !libraryFirst;
    }
    if (std::memcmp(reply, exchange.reply.data(), exchange.reply.size()) != 0) {
        state.SkipWithError("raw reply differs");
        return;
    }
    // The library asks how many bytes wait before each request (bytes there
    // can only be a stale or duplicated reply), a system call the raw client
    // does not make: with it, the ratio cannot go below (raw + check) / raw.
    constexpr int kChecks = 2000;
    const auto checks = Clock::now();
    for (int i = 0; i < kChecks; ++i)
        benchmark::DoNotOptimize(platform::bytesWaiting(client.socket()));
    state.counters["stale_check_us"] = std::chrono::duration<double, std::micro>(Clock::now() - checks).count() / kChecks;
    const double libraryUs = medianOf(library), rawUs = medianOf(raw);
    state.counters["library_us"] = libraryUs;
    state.counters["raw_us"] = rawUs;
    state.counters["ratio"] = rawUs > 0 ? libraryUs / rawUs : 0;
    state.counters["allocations_per_call"] = library.empty() ? 0 : double(allocations) / double(library.size());
}

// ---- Bulk -------------------------------------------------------------------

// The throughput and, with `side` set, the memory of that side in a probe.
void setBulkCounters(benchmark::State& state, const char* side, const char* kind, long size, std::size_t replyBytes)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(replyBytes));
    state.counters["reply_bytes"] = double(replyBytes);
    if (!side)
        return;
    const PeakGrowth growth = probePeakGrowth(side, kind, size, long(replyBytes));
    if (growth.heap < 0) {
        state.SkipWithError("memory probe failed");
        return;
    }
    state.counters["peak_bytes"] = growth.heap;
    state.counters["peak_x_payload"] = growth.heap / double(replyBytes);
    if (growth.resident >= 0)
        state.counters["resident_x_payload"] = growth.resident / double(replyBytes);
}

// Each side of a bulk pair makes one untimed call before its timed loop, so
// both are measured as a repeated call runs: the library's reply buffer is
// grown and its pages touched by then (the floor's buffer is allocated and
// touched before its loop), whatever size the benchmark run before it asked
// for, and the floor's new connection has had its first transfer.
void bulkLibraryScenario(benchmark::State& state, std::size_t bytes, std::size_t replyBytes)
{
    const std::string name = scenarioName(bytes);
    std::vector<char> buffer(bytes + 1);
    const auto call = [&] {
        return tqBsePluginControlDll_Scenario_Download(name.c_str(), int32_t(name.size()), buffer.data(),
                                                       int32_t(bytes + 1));
    };
    call();
    for (auto _ : state) {
        if (call() != 0) {
            state.SkipWithError("Scenario_Download failed");
            return;
        }
    }
    if (std::strlen(buffer.data()) != bytes || scenarioText(bytes) != buffer.data()) {
        state.SkipWithError("Scenario_Download delivered other text");
        return;
    }
    setBulkCounters(state, "lib", "scenario", long(bytes), replyBytes);
}

void bulkLibraryTrace(benchmark::State& state, int32_t points, std::size_t replyBytes)
{
    std::vector<double> x(static_cast<std::size_t>(points)), y(static_cast<std::size_t>(points));
    tqBsePluginControlDll_LTE_Results_GetTrace(kTraceHandle, points, x.data(), y.data(), points);
    for (auto _ : state) {
        if (tqBsePluginControlDll_LTE_Results_GetTrace(kTraceHandle, points, x.data(), y.data(), points) != 0) {
            state.SkipWithError("LTE_Results_GetTrace failed");
            return;
        }
    }
    for (int32_t i = 0; i < points; ++i) {
        if (x[std::size_t(i)] != traceX(i) || y[std::size_t(i)] != traceY(i)) {
            state.SkipWithError("LTE_Results_GetTrace delivered other values");
            return;
        }
    }
    setBulkCounters(state, "lib", "trace", points, replyBytes);
}

// The floor: the same request to the same server, whose reply is built
// before any clock starts, received into one buffer of the reply's final
// size that was allocated and touched before the timed loop; each receive
// takes whatever the kernel holds, nothing is parsed and nothing grows. What
// is left is the transfer itself, so library / floor measures the client.
// With `chunk` set, each receive takes at most that many bytes: the floor
// then pays the library's number of receive calls, which tells how much of
// the gap is the receive size and how much the rest of the client (its
// memory is the unchunked floor's, not probed again).
void bulkFloor(benchmark::State& state, const char* kind, long size, const std::string& request,
               const std::string& expected, std::size_t chunk = SIZE_MAX)
{
    RawClient client;
    if (!client.connect(kServerAddress, kServerPort, kClientTimeoutMs)) {
        state.SkipWithError("raw client cannot connect");
        return;
    }
    std::vector<char> destination(expected.size());
    client.roundTrip(request, destination.data(), destination.size(), chunk);
    for (auto _ : state) {
        if (!client.roundTrip(request, destination.data(), destination.size(), chunk)) {
            state.SkipWithError("raw bulk round trip failed");
            return;
        }
    }
    if (std::memcmp(destination.data(), expected.data(), expected.size()) != 0) {
        state.SkipWithError("raw bulk reply differs");
        return;
    }
    setBulkCounters(state, chunk == SIZE_MAX ? "raw" : nullptr, kind, size, expected.size());
}

// What a call must still do after the last byte of its reply has arrived,
// since the caller's memory is written only once the whole reply is in and
// judged: the text copied into the caller's buffer, or the arrays decoded
// into the caller's (all elements but the last checked already, as the
// reader checks them while they arrive). Added to the floor's time it gives
// the best library / floor ratio the contract allows in the same run.
void bulkDelivery(benchmark::State& state, const std::string& reply)
{
    // The output tokens with the caller's memory for each, as the library's
    // call procedure delivers them (codec::parseDoubleArray and copyTo, or
    // codec::decodeCutString and copyText).
    struct Output {
        std::string_view token;
        std::vector<double> values; // an array's
        std::vector<char> text;     // a text's, with its terminating zero
    };
    const codec::SplitMessage message = codec::splitMessage(reply);
    std::vector<Output> outputs;
    for (std::size_t k = 1; k < message.params.size(); ++k) {
        const std::string_view token = message.params[k];
        codec::DoubleArrayView view;
        codec::DecodedString text;
        if (token.starts_with("(da=") && codec::parseDoubleArray(token, &view) == kSuccess)
            outputs.push_back({token, std::vector<double>(std::size_t(view.count)), {}});
        else if (token.starts_with("(s=") && codec::decodeCutString(token, &text) == kSuccess)
            outputs.push_back({token, {}, std::vector<char>(text.text.size() + 1)});
    }
    for (auto _ : state) {
        for (Output& out : outputs) {
            int32_t rc = kSuccess;
            if (!out.values.empty()) {
                codec::DoubleArrayView view;
                rc = codec::parseDoubleArray(out.token, &view, out.values.size() - 1);
                if (rc == kSuccess)
                    view.copyTo(out.values.data());
            } else {
                codec::DecodedString text;
                rc = codec::decodeCutString(out.token, &text);
                if (rc == kSuccess)
                    rc = copyText(text.text, out.text.data(), int32_t(out.text.size()));
            }
            if (rc != kSuccess) {
                state.SkipWithError("an output does not deliver");
                return;
            }
        }
        benchmark::ClobberMemory();
    }
}

// ---- Codec ------------------------------------------------------------------

constexpr int kCodecBatch = 1000;

template <typename Encode>
void codecEncode(benchmark::State& state, Encode encode)
{
    std::string out;
    out.reserve(64 * kCodecBatch);
    for (auto _ : state) {
        out.resize(0);
        for (int i = 0; i < kCodecBatch; ++i)
            encode(out, i);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
    state.SetItemsProcessed(int64_t(state.iterations()) * kCodecBatch);
}

template <typename Decode>
void codecDecode(benchmark::State& state, const std::vector<std::string>& tokens, Decode decode)
{
    int64_t bytes = 0;
    for (const std::string& t : tokens)
        bytes += int64_t(t.size());
    for (auto _ : state) {
        for (const std::string& t : tokens) {
            if (decode(t) != kSuccess) {
                state.SkipWithError("decode failed");
                return;
            }
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(tokens.size()));
}

template <typename Encode>
std::vector<std::string> makeTokens(Encode encode)
{
    std::vector<std::string> tokens;
    for (int i = 0; i < kCodecBatch; ++i) {
        std::string t;
        encode(t, i);
        tokens.push_back(t);
    }
    return tokens;
}

const char kSampleText[] = "scenario_lte_attach_detach_band7_20MHz_2x2_mimo_ue_category_4.scn";

// A text token into the caller's buffer, as the library delivers an output
// text: the decode, the copy and the closing zero byte.
int32_t decodeTextInto(std::string_view token, char* buffer)
{
    codec::DecodedString d;
    const int32_t rc = codec::decodeString(token, &d);
    if (rc == kSuccess) {
        std::memcpy(buffer, d.text.data(), d.text.size());
        buffer[d.text.size()] = '\0';
    }
    benchmark::DoNotOptimize(buffer);
    return rc;
}

// Decode of one large token into the caller's memory, over memory that no
// cache holds: `decode(token)` fills the destination, `check()` tells
// whether it holds the expected values afterwards.
template <typename Decode, typename Check>
void decodeLarge(benchmark::State& state, const std::string& token, std::size_t items, Decode decode, Check check)
{
    for (auto _ : state) {
        if (decode(token) != kSuccess) {
            state.SkipWithError("decode failed");
            return;
        }
    }
    if (!check())
        state.SkipWithError("decoded values differ");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(token.size()));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(items));
}

void registerCodec(int32_t arrayCount, std::size_t textBytes)
{
    auto encInt = [](std::string& o, int i) { codec::appendInt(o, i * 7919); };
    auto encDouble = [](std::string& o, int i) { codec::appendDouble(o, i * 1.5e6); };
    auto encString = [](std::string& o, int) { codec::appendString(o, kSampleText); };
    benchmark::RegisterBenchmark("codec/encode/int", [=](benchmark::State& s) { codecEncode(s, encInt); });
    benchmark::RegisterBenchmark("codec/encode/double", [=](benchmark::State& s) { codecEncode(s, encDouble); });
    benchmark::RegisterBenchmark("codec/encode/string", [=](benchmark::State& s) { codecEncode(s, encString); });

    static const std::vector<std::string> ints = makeTokens(encInt);
    static const std::vector<std::string> doubles = makeTokens(encDouble);
    static const std::vector<std::string> strings = makeTokens(encString);
    benchmark::RegisterBenchmark("codec/decode/int", [](benchmark::State& s) {
        int32_t v = 0;
        codecDecode(s, ints, [&](const std::string& t) { return codec::decodeInt(t, &v); });
        benchmark::DoNotOptimize(v);
    });
    benchmark::RegisterBenchmark("codec/decode/double", [](benchmark::State& s) {
        double v = 0;
        codecDecode(s, doubles, [&](const std::string& t) { return codec::decodeDouble(t, &v); });
        benchmark::DoNotOptimize(v);
    });
    benchmark::RegisterBenchmark("codec/decode/string", [](benchmark::State& s) {
        char buffer[256];
        codecDecode(s, strings, [&](const std::string& t) { return decodeTextInto(t, buffer); });
    });

    static std::vector<double> values;
    values.resize(std::size_t(arrayCount));
    for (int32_t i = 0; i < arrayCount; ++i)
        values[std::size_t(i)] = traceY(i);
    const std::string label = pointsLabel(arrayCount);
    benchmark::RegisterBenchmark(("codec/encode/double_array/" + label).c_str(), [](benchmark::State& s) {
        std::string out;
        for (auto _ : s) {
            out.resize(0);
            codec::appendDoubleArray(out, values.data(), values.size());
            benchmark::DoNotOptimize(out.data());
        }
        s.SetBytesProcessed(int64_t(s.iterations()) * int64_t(out.size()));
        s.SetItemsProcessed(int64_t(s.iterations()) * int64_t(values.size()));
    });
    // The library's decode path of bulk outputs, into the caller's memory:
    // the array validated and decoded (parseDoubleArray, copyTo), the text
    // found and copied.
    benchmark::RegisterBenchmark(("codec/decode/double_array/" + label).c_str(), [](benchmark::State& s) {
        std::string token;
        codec::appendDoubleArray(token, values.data(), values.size());
        std::vector<double> decoded(values.size());
        decodeLarge(
            s, token, values.size(),
            [&](const std::string& t) {
                codec::DoubleArrayView view;
                const int32_t rc = codec::parseDoubleArray(t, &view);
                if (rc == kSuccess)
                    view.copyTo(decoded.data());
                benchmark::DoNotOptimize(decoded.data());
                return rc;
            },
            [&] { return decoded == values; });
    });
    static std::string text;
    text = scenarioText(textBytes);
    benchmark::RegisterBenchmark(("codec/decode/text/" + sizeLabel(textBytes)).c_str(), [](benchmark::State& s) {
        const std::string token = "(s=" + text + ")";
        std::vector<char> buffer(text.size() + 1);
        decodeLarge(
            s, token, text.size(), [&](const std::string& t) { return decodeTextInto(t, buffer.data()); },
            [&] { return std::string_view(buffer.data()) == text; });
    });
}

// ---- Callback listener ----------------------------------------------------------

bool port6009WasFree = false;

bool portIsFree(uint16_t port)
{
    const platform::SocketHandle s = platform::openTcpSocket();
    if (s == platform::kInvalidSocket)
        return false;
    platform::setListenerAddressOption(s);
    const bool free = platform::bindSocket(s, {platform::kAnyAddress, port}) == 0;
    platform::closeSocket(s);
    return free;
}

void callbackMessages(benchmark::State& state)
{
    if (!port6009WasFree) {
        state.SkipWithError("port 6009 was held by another process; its listener is not ours to measure");
        return;
    }
    RawClient client;
    if (!connectToListener(client, kServerAddress)) {
        state.SkipWithError("cannot connect to the callback listener");
        return;
    }
    const std::string message = "BenchCallback=(n=01000000)";
    const std::string expected = "BenchCallback=(n=f8ffffff)";
    char reply[64] = {};
    for (auto _ : state) {
        if (!client.roundTrip(message, reply, expected.size())) {
            state.SkipWithError("callback round trip failed");
            return;
        }
    }
    if (expected != std::string(reply, expected.size()))
        state.SkipWithError("callback reply differs");
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// ---- Registration -----------------------------------------------------------------

// `server` holds every reply, built before any benchmark runs.
void registerAll(const Sizes& sizes, const CannedServer& server)
{
    static const CannedExchange set = rxSetExchange();
    static const CannedExchange get = rxGetExchange();
    benchmark::RegisterBenchmark("small/RX_CentreFrequency_Set/paired", [](benchmark::State& s) {
        smallPaired(s, set, [] { return tqBsePluginControlDll_RX_CentreFrequency_Set(kRxIndex, kRxFrequency) == 0; });
    })->UseRealTime();
    benchmark::RegisterBenchmark("small/RX_CentreFrequency_Get/paired", [](benchmark::State& s) {
        smallPaired(s, get, [] {
            double frequency = 0;
            return tqBsePluginControlDll_RX_CentreFrequency_Get(kRxIndex, &frequency) == 0 && frequency == kRxFrequency;
        });
    })->UseRealTime();

    // The library and the floor ask the same server for the same reply.
    auto registerBulk = [&server](const std::string& name, const char* kind, long size, const std::string& request,
                                  auto library) {
        static std::string scratch; // never used: every bulk request is registered
        const std::string* reply = &server.replyFor(request, scratch);
        benchmark::RegisterBenchmark((name + "/library").c_str(),
                                     [=](benchmark::State& s) { library(s, reply->size()); })
            ->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((name + "/floor").c_str(),
                                     [=](benchmark::State& s) { bulkFloor(s, kind, size, request, *reply); })
            ->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((name + "/delivery").c_str(),
                                     [=](benchmark::State& s) { bulkDelivery(s, *reply); })
            ->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((name + "/floor_chunked").c_str(),
                                     [=](benchmark::State& s) {
                                         bulkFloor(s, kind, size, request, *reply, kReceiveChunkSize);
                                     })
            ->UseRealTime()->Unit(benchmark::kMillisecond);
    };
    for (std::size_t bytes : sizes.scenarios)
        registerBulk("bulk/Scenario_Download/" + sizeLabel(bytes), "scenario", long(bytes), scenarioRequest(bytes),
                     [bytes](benchmark::State& s, std::size_t reply) { bulkLibraryScenario(s, bytes, reply); });
    for (int32_t points : sizes.traces)
        registerBulk("bulk/LTE_Results_GetTrace/" + pointsLabel(points), "trace", points, traceRequest(points),
                     [points](benchmark::State& s, std::size_t reply) { bulkLibraryTrace(s, points, reply); });
    registerCodec(sizes.codecArray, sizes.codecText);
    benchmark::RegisterBenchmark("callback/listener_6009", callbackMessages)->UseRealTime();
    registerSessions();
}

int serveOnly(int seconds)
{
    CannedServer server(kServerAddress, kServerPort);
    registerWorkloads(server, {kProfileScenarioBytes}, {kProfileTracePoints});
    if (!server.start()) {
        std::fprintf(stderr, "cannot serve %s:%d: %s\n", kServerAddress, kServerPort, server.error().c_str());
        return 1;
    }
    std::printf("serving %s:%d\n", kServerAddress, kServerPort);
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    return 0;
}

} // namespace
} // namespace tqbse::bench

int main(int argc, char** argv)
{
    using namespace tqbse::bench;
    if (argc == 6 && std::strcmp(argv[1], "--rss-probe") == 0)
        return rssProbe(argv[2], argv[3], std::atol(argv[4]), std::atol(argv[5]));
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0)
        return serveOnly(std::max(1, std::min(std::atoi(argv[2]), 3600)));

    bool tiny = false;
    bool pin = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tiny") == 0)
            tiny = true;
        else if (std::strcmp(argv[i], "--pin") == 0)
            pin = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    const Sizes sizes = tiny ? tinySizes() : fullSizes();

    // --pin puts client and server on different cores (as the reference
    // figures are); on a machine shared with other work, pinning to a busy
    // core costs more than it saves, so it is not the default.
    const bool twoCores = pin && std::thread::hardware_concurrency() >= 2;
    CannedServer server(kServerAddress, kServerPort);
    registerWorkloads(server, sizes.scenarios, sizes.traces);
    if (!server.start(twoCores ? 1 : -1)) {
        std::fprintf(stderr, "cannot serve %s:%d: %s\n", kServerAddress, kServerPort, server.error().c_str());
        return 1;
    }
    if (twoCores)
        pinThisThread(0);

    port6009WasFree = portIsFree(kCallbackPort);
    const int32_t rc = tqBsePluginControlDll_Initialise(kServerOctets[0], kServerOctets[1], kServerOctets[2],
                                                        kServerOctets[3]);
    if (rc != 0) {
        std::fprintf(stderr, "Initialise against %s returned %d\n", kServerAddress, rc);
        return 1;
    }

    registerAll(sizes, server);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const std::size_t ran = benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tqBsePluginControlDll_Shutdown();
    server.stop();
    return ran > 0 ? 0 : 1;
}
