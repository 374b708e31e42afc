// The memory every connection of the emulator holds for requests not yet
// answered, bounded as a whole (--max-request-memory): each connection takes
// its share before its buffer grows and gives it back when the buffer is
// released, so that many large unfinished requests at once cannot take the
// machine's memory.
#pragma once

#include <atomic>
#include <cstddef>

namespace tqbse::emu {

// The default bound of all unfinished requests together: 2 GiB.
inline constexpr std::size_t kDefaultRequestMemory = std::size_t(2) << 30;
// The smallest bound the option accepts: 1 MiB.
inline constexpr std::size_t kMinRequestMemory = std::size_t(1) << 20;

class RequestMemory {
public:
    explicit RequestMemory(std::size_t limit) : limit_(limit) {}
    RequestMemory(const RequestMemory&) = delete;
    RequestMemory& operator=(const RequestMemory&) = delete;

    // Takes `bytes` more: false, taking nothing, when the total would pass
    // the limit.
    bool take(std::size_t bytes)
    {
        std::size_t held = held_.load(std::memory_order_relaxed);
        do {
            if (bytes > limit_ - held)
                return false;
        } while (!held_.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
        return true;
    }
    void give(std::size_t bytes) { held_.fetch_sub(bytes, std::memory_order_relaxed); }
    std::size_t held() const { return held_.load(std::memory_order_relaxed); }
    std::size_t limit() const { return limit_; }

private:
    const std::size_t limit_;
    std::atomic<std::size_t> held_{0};
};

} // namespace tqbse::emu
