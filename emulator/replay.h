// Replay of a library trace (TQBSE_TRACE): the emulator answers each request
// with the reply recorded for the matching recorded request, in order, and
// can send the recorded callback messages to the host's listener at their
// recorded offsets. docs/EMULATOR.md describes the options.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tqbse::emu {

inline constexpr int64_t kMicrosPerDay = int64_t(86400) * 1000000;
// The latest a recorded callback may come after the trace's first call:
// thirty days, far beyond any recorded session and far below where a clock
// computation could overflow.
inline constexpr int64_t kMaxCallbackOffsetMicros = 30 * kMicrosPerDay;

struct ReplayOptions {
    std::string file;             // --replay FILE; empty: no replay
    bool matchByName = false;     // --match name (default: the request's exact bytes)
    bool fallbackModel = false;   // --fallback model (default: answer -8)
    bool callbacks = false;       // --replay-callbacks
    int callbackPort = 6009;      // where the host's listener is (--callback-port)
    std::string from = "127.0.0.1"; // the address callbacks come from: the emulator's own (--bind)
};

class Replay {
public:
    explicit Replay(ReplayOptions options) : options_(std::move(options)) {}
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Reads the trace's call and callback lines (protocol/trace_file.h: a
    // cut-off last line is skipped, with a warning in warnings()). False
    // with `error` set when the file is a folder or cannot be read, a line
    // before the last is not a trace line, or a callback lies more than
    // kMaxCallbackOffsetMicros after the first call.
    bool load(std::string* error);
    // What load() skipped, for standard error.
    const std::vector<std::string>& warnings() const { return warnings_; }

    // The answer to one request from `peer`: the recorded reply of the first
    // recorded call not yet replayed that matches it, else -8 or the model's
    // answer (`model`). The first request starts the callbacks' clock.
    std::string answer(std::string_view request, const std::string& peer, const std::function<std::string()>& model);

    // Counts, every request that did not match with what it was answered,
    // recorded calls never asked for and callbacks whose answer differed.
    std::string summary() const;
    bool allMatched() const;
    // Stops the callback thread (at the end of a run).
    void stop();

    struct Call {
        std::string request;
        std::string reply;
        bool used = false;
    };
    struct Callback {
        int64_t offsetMicros = 0; // after the first recorded call
        std::string message;
        std::string answer;
    };

private:
    void sendCallbacks(std::string peer, int port);

    ReplayOptions options_;
    std::vector<Call> calls_;
    std::vector<Callback> callbacks_;
    std::vector<std::string> warnings_;
    mutable std::mutex mutex_;
    std::size_t next_ = 0; // the first recorded call not yet replayed
    std::size_t requests_ = 0;
    std::vector<std::string> unmatched_;      // "request -> answer"
    std::vector<std::string> callbackErrors_; // callbacks answered otherwise than recorded
    std::chrono::steady_clock::time_point start_;
    std::thread callbackThread_;
    std::atomic<bool> stopping_{false};
};

} // namespace tqbse::emu
