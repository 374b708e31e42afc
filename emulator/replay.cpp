// Replaying a library trace: recorded replies for recorded requests.
#include "emulator/replay.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "emulator/request_handler.h"
#include "emulator/server.h"
#include "emulator/trace_format.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"
#include "protocol/trace_file.h"
#include "protocol/trace_line.h"

namespace tqbse::emu {
namespace {

constexpr int kCallbackTimeoutMs = 2000;
constexpr int kTickMs = 20;

} // namespace

Replay::~Replay() { stop(); }

bool Replay::load(std::string* error)
{
    // Calls, callbacks (with their time and line number) and the first
    // line's time; the callbacks' offsets are known once every line is read.
    struct Recorded {
        int64_t at;
        int64_t number;
        Callback callback;
    };
    std::vector<Recorded> callbacks;
    std::optional<int64_t> firstCall, firstLine;
    std::string bad;
    const bool read = readTraceFile(
        options_.file,
        [&](int64_t number, TraceLineKind kind, const TraceLine& o) {
            if (kind == TraceLineKind::CutOff) {
                warnings_.push_back(cutOffLineWarning(options_.file, number));
                return true;
            }
            if (kind == TraceLineKind::Bad) {
                bad = options_.file + ':' + std::to_string(number) + ": not a trace line";
                return false;
            }
            const int64_t at = o.time();
            firstLine = firstLine.value_or(at);
            if (o.event() == "call") {
                firstCall = firstCall.value_or(at);
                calls_.push_back({std::string(o.text("request")), std::string(o.text("reply"))});
            } else if (o.event() == "callback") {
                callbacks.push_back({at, number, {0, std::string(o.text("message")), std::string(o.text("answer"))}});
            }
            return true;
        },
        error);
    if (!read)
        return false;
    if (!bad.empty()) {
        *error = bad;
        return false;
    }
    // Offsets count from the first call (from the first line when there is
    // none); a callback recorded before it is due at once. An offset beyond
    // any real session is a damaged or made-up time: refused, never wrapped.
    const int64_t origin = firstCall.value_or(firstLine.value_or(0));
    for (Recorded& r : callbacks) {
        int64_t offset = 0;
        if (__builtin_sub_overflow(r.at, origin, &offset))
            offset = r.at < origin ? 0 : std::numeric_limits<int64_t>::max();
        if (offset > kMaxCallbackOffsetMicros) {
            *error = options_.file + ':' + std::to_string(r.number) + ": the callback's time \"t\":"
                + std::to_string(r.at) + " lies more than " + std::to_string(kMaxCallbackOffsetMicros / kMicrosPerDay)
                + " days after the trace's first call; no recorded session runs that long";
            return false;
        }
        r.callback.offsetMicros = std::max<int64_t>(0, offset);
        callbacks_.push_back(std::move(r.callback));
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
        const std::string answer = sendCallback(options_.from, peer, port, callback.message, kCallbackTimeoutMs);
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
