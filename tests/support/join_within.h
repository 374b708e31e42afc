// Ending a test's thread that may be blocked on a socket, for the platform
// suites (tests/platform and windows/tests).
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace tqbse::test {

// Joins `thread` once it has set `done`, waiting at most 5 s. A thread still
// blocked then is woken by a connection to `wake`, the port it waits on, so
// that the suite goes on; the result is false.
inline bool joinWithin(std::thread& thread, const std::atomic<bool>& done, platform::Endpoint wake)
{
    for (int i = 0; i < 500 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool returned = done;
    if (!returned) {
        const platform::SocketHandle s = platform::openTcpSocket();
        platform::connectWithTimeout(s, wake, 1000);
        platform::closeSocket(s);
    }
    thread.join();
    return returned;
}

} // namespace tqbse::test
