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

struct ReplayOptions {
    std::string file;             // --replay FILE; empty: no replay
    bool matchByName = false;     // --match name (default: the request's exact bytes)
    bool fallbackModel = false;   // --fallback model (default: answer -8)
    bool callbacks = false;       // --replay-callbacks
    int callbackPort = 6009;      // where the host's listener is (--callback-port)
};

class Replay {
public:
    explicit Replay(ReplayOptions options) : options_(std::move(options)) {}
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Reads the trace's call and callback lines. False with `error` set when
    // the file cannot be read or a line is not a trace line.
    bool load(std::string* error);

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
