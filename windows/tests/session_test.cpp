// The session API through the DLL under Wine: two sessions to two emulators
// (127.0.0.104 sending TickA events, 127.0.0.105 sending TickB, ctest
// fixtures on the fixed ports) called from several threads at once, each
// getting its own server's values; each server's events reaching only its
// own session, by queue and by handler; close ending a pending wait.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tqBsePluginControlDll.h"
#include "tqbse_session.h"

namespace {

using namespace std::chrono_literals;

struct Opened {
    tqbse_session* a = nullptr;
    tqbse_session* b = nullptr;
    Opened()
    {
        EXPECT_EQ(tqbse_open("127.0.0.104", nullptr, &a), 0);
        EXPECT_EQ(tqbse_open("127.0.0.105", nullptr, &b), 0);
    }
    ~Opened()
    {
        if (a != nullptr)
            tqbse_close(a);
        if (b != nullptr)
            tqbse_close(b);
    }
};

TEST(WindowsSessions, TwoServersFromSeveralThreadsAndTheirOwnEvents)
{
    Opened s;
    ASSERT_NE(s.a, nullptr);
    ASSERT_NE(s.b, nullptr);
    ASSERT_EQ(tqbse_RX_CentreFrequency_Set(s.a, 0, 1.0e9), 0);
    ASSERT_EQ(tqbse_RX_CentreFrequency_Set(s.b, 0, 2.0e9), 0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            tqbse_session* session = t % 2 ? s.b : s.a;
            const double expected = t % 2 ? 2.0e9 : 1.0e9;
            for (int i = 0; i < 100; ++i) {
                double value = 0;
                if (tqbse_RX_CentreFrequency_Get(session, 0, &value) != 0 || value != expected)
                    ++wrong;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, 0);

    char buffer[64];
    int32_t length = 0;
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(tqbse_wait_event(s.a, 10000, buffer, sizeof buffer, &length), 0);
        EXPECT_EQ(std::string(buffer).rfind("TickA=", 0), 0u) << buffer;
    }
    std::atomic<int> heard{0}, foreign{0};
    struct Counts {
        std::atomic<int>* heard;
        std::atomic<int>* foreign;
    } counts{&heard, &foreign};
    ASSERT_EQ(tqbse_set_event_handler(
                  s.b, nullptr,
                  [](tqbse_session*, const char* message, int32_t, void* user) -> int32_t {
                      auto* c = static_cast<Counts*>(user);
                      ++*(std::string(message).rfind("TickB=", 0) == 0 ? c->heard : c->foreign);
                      return 0;
                  },
                  &counts),
              0);
    for (int i = 0; i < 500 && heard < 3; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_GE(heard, 3);
    EXPECT_EQ(foreign, 0);

    // Events queued before the handler came are still there: taken first,
    // so that the wait below has nothing to find.
    for (int i = 0; i < 1000 && tqbse_wait_event(s.b, 0, buffer, sizeof buffer, &length) == 0; ++i) {
    }
    std::atomic<int32_t> waited{1};
    std::thread waiter([&] {
        char own[64];
        waited = tqbse_wait_event(s.b, -1, own, sizeof own, nullptr);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(tqbse_close(s.b), 0);
    s.b = nullptr;
    waiter.join();
    EXPECT_EQ(waited, -14);
}

} // namespace
