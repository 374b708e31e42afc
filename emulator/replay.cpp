#include "emulator/replay.h"

#include <algorithm>
#include <fstream>

#include "emulator/request_handler.h"
#include "emulator/server.h"
#include "emulator/trace_format.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"
#include "protocol/trace_line.h"

namespace tqbse::emu {
namespace {

constexpr int kCallbackTimeoutMs = 2000;
constexpr int kTickMs = 20;

} // namespace

Replay::~Replay() { stop(); }

bool Replay::load(std::string* error)
{
    std::ifstream in(options_.file, std::ios::binary);
    if (!in) {
        *error = "cannot read " + options_.file;
        return false;
    }
    std::string line;
    int64_t firstCall = -1;
    std::vector<std::pair<int64_t, Callback>> callbacks;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty())
            continue;
        TraceLine o;
        if (!parseTraceLine(line, &o) || o.event().empty()) {
            *error = options_.file + ':' + std::to_string(number) + ": not a trace line";
            return false;
        }
        const int64_t at = o.time();
        if (o.event() == "call") {
            if (firstCall < 0)
                firstCall = at;
            calls_.push_back({std::string(o.text("request")), std::string(o.text("reply"))});
        } else if (o.event() == "callback") {
            callbacks.push_back({at, {0, std::string(o.text("message")), std::string(o.text("answer"))}});
        }
    }
    for (auto& [at, callback] : callbacks) {
        callback.offsetMicros = std::max<int64_t>(0, at - std::max<int64_t>(firstCall, 0));
        callbacks_.push_back(std::move(callback));
    }
    std::stable_sort(callbacks_.begin(), callbacks_.end(),
                     [](const Callback& a, const Callback& b) { return a.offsetMicros < b.offsetMicros; });
    return true;
}

std::string Replay::answer(std::string_view request, const std::string& peer,
                           const std::function<std::string()>& model)
{
    std::unique_lock lock(mutex_);
    if (requests_++ == 0) {
        start_ = std::chrono::steady_clock::now();
        if (options_.callbacks && !callbacks_.empty())
            callbackThread_ = std::thread([this, peer] { sendCallbacks(peer, options_.callbackPort); });
    }
    const std::string_view name = messageName(request);
    for (std::size_t k = next_; k < calls_.size(); ++k) {
        Call& call = calls_[k];
        const bool same = options_.matchByName ? messageName(call.request) == name : call.request == request;
        if (call.used || !same)
            continue;
        call.used = true;
        while (next_ < calls_.size() && calls_[next_].used)
            ++next_;
        return call.reply;
    }
    lock.unlock();
    std::string reply = options_.fallbackModel ? model() : codec::resultOnlyReply(name, kFunctionNotFound);
    lock.lock();
    unmatched_.push_back(describeMessage(request) + " -> " + describeMessage(reply));
    return reply;
}

void Replay::sendCallbacks(std::string peer, int port)
{
    for (const Callback& callback : callbacks_) {
        const auto due = start_ + std::chrono::microseconds(callback.offsetMicros);
        while (!stopping_ && std::chrono::steady_clock::now() < due)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                due - std::chrono::steady_clock::now(), std::chrono::milliseconds(kTickMs)));
        if (stopping_)
            return;
        const std::string answer = sendCallback(peer, port, callback.message, kCallbackTimeoutMs);
        printLine("replayed callback " + describeMessage(callback.message) + " answered: " + answer);
        if (answer != callback.answer) {
            std::lock_guard lock(mutex_);
            callbackErrors_.push_back(describeMessage(callback.message) + " answered " + describeMessage(answer)
                                      + ", recorded " + describeMessage(callback.answer));
        }
    }
}

void Replay::stop()
{
    stopping_ = true;
    if (callbackThread_.joinable())
        callbackThread_.join();
}

bool Replay::allMatched() const
{
    std::lock_guard lock(mutex_);
    return unmatched_.empty() && callbackErrors_.empty();
}

std::string Replay::summary() const
{
    std::lock_guard lock(mutex_);
    std::size_t unused = 0;
    for (const Call& call : calls_)
        unused += call.used ? 0 : 1;
    std::string text = "replay: " + std::to_string(requests_ - unmatched_.size()) + " of "
        + std::to_string(requests_) + " requests matched a recorded call ("
        + (options_.matchByName ? "by name" : "byte for byte") + "), " + std::to_string(unmatched_.size())
        + " did not; " + std::to_string(unused) + " of " + std::to_string(calls_.size())
        + " recorded calls were never asked for";
    for (const std::string& line : unmatched_)
        text += "\nreplay: no match: " + line;
    for (const std::string& line : callbackErrors_)
        text += "\nreplay: callback " + line;
    return text;
}

} // namespace tqbse::emu
