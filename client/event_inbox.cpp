// One session's events: the queue, the handlers and the waits on them.
#include "client/event_inbox.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace tqbse {

std::string_view eventName(std::string_view message)
{
    return message.substr(0, message.find('='));
}

std::optional<int32_t> EventInbox::deliver(std::string_view message)
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return std::nullopt;
    std::shared_ptr<const Handler> handler;
    if (const auto found = named_.find(eventName(message)); found != named_.end())
        handler = found->second;
    else
        handler = forAll_;
    if (!handler) {
        if (queue_.size() == kQueueLength) {
            queue_.pop_front();
            ++dropped_;
        }
        queue_.emplace_back(message);
        changed_.notify_all();
        return 0;
    }
    ++running_;
    runningOn_ = std::this_thread::get_id();
    lock.unlock();
    int32_t code = 0;
    try {
        code = (*handler)(message);
    } catch (...) {
        // A handler that throws answers as one that has nothing to say.
        code = 0;
    }
    lock.lock();
    if (--running_ == 0)
        runningOn_ = std::thread::id();
    changed_.notify_all();
    return code;
}

void EventInbox::waitForHandlers(std::unique_lock<std::mutex>& lock)
{
    const std::thread::id self = std::this_thread::get_id();
    changed_.wait(lock, [&] { return running_ == 0 || runningOn_ == self; });
}

void EventInbox::setHandler(std::string_view name, Handler handler)
{
    std::shared_ptr<const Handler> taken;
    std::unique_lock lock(mutex_);
    auto shared = handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
    if (name.empty()) {
        taken = std::exchange(forAll_, std::move(shared));
    } else if (shared) {
        auto [at, inserted] = named_.try_emplace(std::string(name), shared);
        if (!inserted)
            taken = std::exchange(at->second, std::move(shared));
    } else if (const auto found = named_.find(name); found != named_.end()) {
        taken = std::move(found->second);
        named_.erase(found);
    }
    if (taken)
        waitForHandlers(lock);
}

EventInbox::Waited EventInbox::wait(int timeoutMs, char* buffer, std::size_t bufferSize, std::size_t* length)
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return Waited::None;
    ++waiters_;
    const auto ready = [this] { return closed_ || !queue_.empty(); };
    if (timeoutMs < 0)
        changed_.wait(lock, ready);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    Waited result = Waited::None;
    if (!closed_ && !queue_.empty()) {
        const std::string& event = queue_.front();
        if (length != nullptr)
            *length = event.size();
        if (buffer == nullptr || bufferSize <= event.size()) {
            result = Waited::TooSmall;
        } else {
            std::memcpy(buffer, event.data(), event.size());
            buffer[event.size()] = '\0';
            queue_.pop_front();
            result = Waited::Event;
        }
    }
    if (--waiters_ == 0)
        changed_.notify_all();
    return result;
}

uint64_t EventInbox::dropped() const
{
    const std::lock_guard lock(mutex_);
    return dropped_;
}

void EventInbox::close()
{
    std::unique_lock lock(mutex_);
    closed_ = true;
    queue_.clear();
    changed_.notify_all();
    changed_.wait(lock, [this] { return waiters_ == 0; });
    waitForHandlers(lock);
    // Released here, outside any delivery: a handler's own state (a host
    // language's callback object, say) goes with the session.
    std::map<std::string, std::shared_ptr<const Handler>, std::less<>> named = std::move(named_);
    std::shared_ptr<const Handler> forAll = std::move(forAll_);
    lock.unlock();
}

} // namespace tqbse
