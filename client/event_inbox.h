// One session's events: the callback messages its server sent, either queued
// for a host thread to wait for, or handed to a handler on the listener
// thread. The listener delivers, host threads wait, set handlers and close;
// everything they share is under the inbox's mutex.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace tqbse {

class EventInbox {
public:
    // Queued events kept; when full, the oldest is dropped and counted.
    static constexpr std::size_t kQueueLength = 256;

    // Called on the listener thread with the whole message text; its result
    // is the code the peer is answered with.
    using Handler = std::function<int32_t(std::string_view message)>;

    // Hands one message to the handler for its name, else the handler for
    // all names, else the queue. The code to answer with: the handler's, or
    // 0 once queued; nothing once the inbox is closed (the message is then
    // nobody's).
    std::optional<int32_t> deliver(std::string_view message);

    // Sets (or with an empty handler removes) the handler for events named
    // `name`, or for all names when `name` is empty. On return a handler
    // taken away is not running and will not be called again, unless the
    // caller is that handler itself (on the listener thread).
    void setHandler(std::string_view name, Handler handler);

    // What wait() found.
    enum class Waited {
        Event,    // copied into the buffer and taken off the queue
        TooSmall, // the buffer cannot hold it; it stays queued
        None,     // nothing within the timeout, or the inbox closed
    };
    // Waits up to `timeoutMs` (< 0: until an event or close; 0: no wait)
    // for the oldest queued event and copies it with a terminating zero into
    // `buffer` of `bufferSize` bytes. `*length` (if not null) is the event's
    // length without the zero for Event and TooSmall.
    Waited wait(int timeoutMs, char* buffer, std::size_t bufferSize, std::size_t* length);

    uint64_t dropped() const;

    // Ends delivery and every wait (their result: None), then waits for the
    // waiting threads to leave and for a running handler to return, unless
    // called from that handler. Afterwards nothing touches the inbox's
    // handlers or waiters again.
    void close();

private:
    // Waits until no handler runs, except one on this very thread.
    void waitForHandlers(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    uint64_t dropped_ = 0;
    // Kept by shared pointer so that a delivery calls the handler it found
    // without the mutex, even while another thread replaces it.
    std::map<std::string, std::shared_ptr<const Handler>, std::less<>> named_;
    std::shared_ptr<const Handler> forAll_;
    bool closed_ = false;
    int waiters_ = 0;
    int running_ = 0;
    std::thread::id runningOn_;
};

// The event's name: the message text before its "=" (all of it without one).
std::string_view eventName(std::string_view message);

} // namespace tqbse
