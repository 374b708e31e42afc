// Helpers for the listener tests: a recording message handler and bounded
// waits (the peer of port 6009 is support/peer.h).
// Every socket here has a receive and send timeout; every loop is bounded.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "listener/listener.h"
#include "support/fake_server.h"
#include "support/peer.h"

namespace tqbse::test {

using namespace std::chrono_literals;
// Polls `done` every 10 ms for at most `limit`.
template <typename Pred>
bool waitUntil(Pred done, std::chrono::milliseconds limit = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

inline bool waitForState(listener::ListenerState state)
{
    return waitUntil([state] { return listener::listenerState() == state; });
}

// Runs `work`; a run that has not finished after 10 s ends the process with
// a failure rather than leaving CI waiting.
inline void runBounded(const char* what, std::function<void()> work)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done, work = std::move(work)] {
        work();
        done->set_value();
    }).detach();
    if (finished.wait_for(10s) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not finish within 10 s\n", what);
        std::_Exit(1);
    }
}

// A handler that records every message as it came and answers through `reply`.
class Recorder {
public:
    using Answer = std::function<std::string(const std::string&)>;

    listener::MessageHandler handler(Answer reply = {})
    {
        auto self = shared_;
        return [self, reply](std::string_view message) {
            const std::string text(message);
            {
                const std::lock_guard lock(self->mutex);
                self->messages.push_back(text);
            }
            self->changed.notify_all();
            return reply ? reply(text) : std::string();
        };
    }

    std::vector<std::string> messages() const
    {
        const std::lock_guard lock(shared_->mutex);
        return shared_->messages;
    }

    // Waits at most 5 s for at least `count` messages.
    bool waitForCount(std::size_t count) const
    {
        std::unique_lock lock(shared_->mutex);
        return shared_->changed.wait_for(lock, 5s, [&] { return shared_->messages.size() >= count; });
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::string> messages;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

} // namespace tqbse::test
