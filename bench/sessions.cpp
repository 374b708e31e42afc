// The session API's benchmarks (bench/sessions.h).
#include "bench/sessions.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/canned_server.h"
#include "bench/workloads.h"
#include "tqBsePluginControlDll.h"
#include "tqbse_session.h"

namespace tqbse::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Opens a session to `address`, closed with the object.
struct OpenSession {
    tqbse_session* session = nullptr;
    explicit OpenSession(const char* address) { tqbse_open(address, nullptr, &session); }
    ~OpenSession()
    {
        if (session != nullptr)
            tqbse_close(session);
    }
};

bool sessionGet(tqbse_session* session)
{
    double frequency = 0;
    return tqbse_RX_CentreFrequency_Get(session, kRxIndex, &frequency) == 0 && frequency == kRxFrequency;
}

// The flat export and the session twin to the same server, alternating call
// by call; medians and their ratio.
void sessionVersusFlat(benchmark::State& state)
{
    OpenSession open(kServerAddress);
    if (open.session == nullptr) {
        state.SkipWithError("tqbse_open failed");
        return;
    }
    std::vector<double> flat, session;
    for (auto _ : state) {
        auto start = Clock::now();
        double frequency = 0;
        if (tqBsePluginControlDll_RX_CentreFrequency_Get(kRxIndex, &frequency) != 0) {
            state.SkipWithError("flat call failed");
            return;
        }
        flat.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        start = Clock::now();
        if (!sessionGet(open.session)) {
            state.SkipWithError("session call failed");
            return;
        }
        session.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    const double flatUs = medianOf(flat), sessionUs = medianOf(session);
    state.counters["flat_us"] = flatUs;
    state.counters["session_us"] = sessionUs;
    state.counters["ratio"] = flatUs > 0 ? sessionUs / flatUs : 0;
}

// Calls per second of one session from one thread, then of two sessions to
// two servers (each with its own serving thread) from two threads.
void twoServersTwoThreads(benchmark::State& state)
{
    CannedServer second("127.0.0.41", kServerPort), third("127.0.0.42", kServerPort);
    registerWorkloads(second, {}, {});
    registerWorkloads(third, {}, {});
    if (!second.start() || !third.start()) {
        state.SkipWithError("cannot serve 127.0.0.41 and 127.0.0.42");
        return;
    }
    OpenSession a("127.0.0.41"), b("127.0.0.42");
    if (a.session == nullptr || b.session == nullptr) {
        state.SkipWithError("tqbse_open failed");
        return;
    }
    constexpr int kCalls = 4000;
    double one = 0, two = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < kCalls; ++i)
            sessionGet(a.session);
        one = kCalls / std::chrono::duration<double>(Clock::now() - start).count();
        std::atomic<int> failed{0};
        start = Clock::now();
        std::thread other([&] {
            for (int i = 0; i < kCalls; ++i)
                failed += sessionGet(b.session) ? 0 : 1;
        });
        for (int i = 0; i < kCalls; ++i)
            failed += sessionGet(a.session) ? 0 : 1;
        other.join();
        two = 2 * kCalls / std::chrono::duration<double>(Clock::now() - start).count();
        if (failed != 0) {
            state.SkipWithError("a session call failed");
            return;
        }
    }
    state.counters["one_session_calls_per_s"] = one;
    state.counters["two_sessions_calls_per_s"] = two;
    state.counters["speedup"] = one > 0 ? two / one : 0;
}

// From the server sending an event to the listener until a host thread
// waiting in tqbse_wait_event has it, over one kept callback connection.
void eventToWaitingHost(benchmark::State& state)
{
    OpenSession open(kServerAddress);
    RawClient server;
    if (open.session == nullptr || !connectToListener(server, "127.0.0.1", kServerAddress)) {
        state.SkipWithError("no session, or cannot reach the callback listener from the server's address");
        return;
    }
    const std::string event = "BenchEvent=(n=01000000)";
    const std::string answer = "BenchEvent=(n=00000000)";
    std::vector<double> latency;
    for (auto _ : state) {
        std::atomic<bool> waiting{false};
        Clock::time_point received;
        int32_t rc = -1;
        std::thread host([&] {
            char buffer[64];
            waiting = true;
            rc = tqbse_wait_event(open.session, 5000, buffer, sizeof buffer, nullptr);
            received = Clock::now();
        });
        while (!waiting)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(200)); // the host is in its wait
        char reply[64];
        const auto sent = Clock::now();
        const bool answered = server.roundTrip(event, reply, answer.size());
        host.join();
        if (!answered || rc != 0 || answer != std::string(reply, answer.size())) {
            state.SkipWithError("event not delivered or answered");
            return;
        }
        latency.push_back(std::chrono::duration<double, std::micro>(received - sent).count());
    }
    state.counters["event_to_host_us"] = medianOf(latency);
}

} // namespace

void registerSessions()
{
    benchmark::RegisterBenchmark("sessions/RX_CentreFrequency_Get/session_vs_flat", sessionVersusFlat)->UseRealTime();
    benchmark::RegisterBenchmark("sessions/two_servers_two_threads", twoServersTwoThreads)
        ->UseRealTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("sessions/event_to_waiting_host", eventToWaitingHost)->UseRealTime()->Iterations(200);
}

} // namespace tqbse::bench
