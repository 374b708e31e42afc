// A session's events without sockets: the inbox's queue (its bound, what a
// small buffer leaves queued), handlers by name and for all names, close
// ending a wait and waiting for a running handler, and the routing of a
// message by its sender's address.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "client/event_inbox.h"
#include "client/event_routing.h"
#include "listener/listener.h"
#include "protocol/codec.h"

using namespace tqbse;
using namespace std::chrono_literals;

namespace {

std::string take(EventInbox& inbox, int timeoutMs = 0)
{
    char buffer[64];
    std::size_t length = 0;
    return inbox.wait(timeoutMs, buffer, sizeof buffer, &length) == EventInbox::Waited::Event ? std::string(buffer, length)
                                                                                              : std::string("<none>");
}

TEST(EventInbox, QueueKeepsTheNewestAndCountsWhatItDrops)
{
    EventInbox inbox;
    const std::size_t sent = EventInbox::kQueueLength + 44;
    for (std::size_t i = 0; i < sent; ++i)
        EXPECT_EQ(inbox.deliver("E=(n=" + std::to_string(i) + ")"), 0);
    EXPECT_EQ(inbox.dropped(), 44u);
    EXPECT_EQ(take(inbox), "E=(n=44)");
    for (std::size_t i = 45; i < sent; ++i)
        ASSERT_EQ(take(inbox), "E=(n=" + std::to_string(i) + ")");
    EXPECT_EQ(take(inbox), "<none>");

    // A buffer one byte short of the zero leaves the event queued and says
    // its length; a null buffer asks just that.
    inbox.deliver("Tick=(n=01000000)");
    char small[17];
    std::size_t length = 0;
    EXPECT_EQ(inbox.wait(0, small, sizeof small, &length), EventInbox::Waited::TooSmall);
    EXPECT_EQ(length, 17u);
    length = 0;
    EXPECT_EQ(inbox.wait(0, nullptr, 0, &length), EventInbox::Waited::TooSmall);
    EXPECT_EQ(length, 17u);
    EXPECT_EQ(take(inbox), "Tick=(n=01000000)");
}

TEST(EventInbox, HandlerForANameWinsOverTheOneForAllAndRemovingOneQueuesAgain)
{
    EventInbox inbox;
    std::string heardByName, heardByAll;
    inbox.setHandler("Done", [&](std::string_view m) { heardByName = m; return 7; });
    inbox.setHandler("", [&](std::string_view m) { heardByAll = m; return -3; });
    EXPECT_EQ(inbox.deliver("Done=(s=a)"), 7);
    EXPECT_EQ(inbox.deliver("Other=()"), -3);
    EXPECT_EQ(heardByName, "Done=(s=a)");
    EXPECT_EQ(heardByAll, "Other=()");
    inbox.setHandler("", {});
    EXPECT_EQ(inbox.deliver("Other=(i=1)"), 0);
    inbox.setHandler("Done", {});
    EXPECT_EQ(inbox.deliver("Done=(s=b)"), 0);
    EXPECT_EQ(take(inbox), "Other=(i=1)");
    EXPECT_EQ(take(inbox), "Done=(s=b)");
}

TEST(EventInbox, CloseEndsAWaitWaitsForARunningHandlerAndTakesNothingAfter)
{
    EventInbox inbox;
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        char buffer[8];
        waited = inbox.wait(-1, buffer, sizeof buffer, nullptr) == EventInbox::Waited::None;
    });
    std::atomic<bool> entered{false}, finished{false};
    inbox.setHandler("Slow", [&](std::string_view) {
        entered = true;
        std::this_thread::sleep_for(150ms);
        finished = true;
        return 0;
    });
    std::thread listenerSide([&] { inbox.deliver("Slow=()"); });
    for (int i = 0; i < 500 && !entered; ++i)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(entered);
    inbox.close();
    EXPECT_TRUE(finished) << "close returned while the handler still ran";
    waiter.join();
    listenerSide.join();
    EXPECT_TRUE(waited);
    EXPECT_EQ(inbox.deliver("Late=()"), std::nullopt);
    EXPECT_EQ(take(inbox), "<none>");
}

TEST(EventInbox, AHandlerMayReplaceOrCloseItsOwnInboxWithoutWaitingForItself)
{
    EventInbox inbox;
    inbox.setHandler("", [&](std::string_view) {
        inbox.setHandler("", {});
        inbox.close();
        return 1;
    });
    EXPECT_EQ(inbox.deliver("E=()"), 1);
    EXPECT_EQ(inbox.deliver("E=()"), std::nullopt);
}

TEST(EventRouting, MessagesGoToTheFirstInboxOfTheSendersAddressAndOthersGetTheDefaultAnswer)
{
    constexpr uint32_t kServer = 0x7f000002, kStranger = 0x7f000009;
    auto first = std::make_shared<EventInbox>(), second = std::make_shared<EventInbox>();
    registerInbox(kServer, first);
    registerInbox(kServer, second);
    first->setHandler("", [](std::string_view) { return 5; });
    EXPECT_EQ(routeCallback("Done=(s=x)", kServer), "Done=" + codec::encodeInt(5));
    EXPECT_EQ(routeCallback("Done=(s=x)", kStranger), listener::defaultMessageHandler("Done=(s=x)"));
    EXPECT_EQ(routeCallback(listener::kTerminationMessage, kServer), listener::defaultMessageHandler(listener::kTerminationMessage));

    // With the first gone, the second takes the server's events.
    unregisterInbox(first.get());
    EXPECT_EQ(routeCallback("Done=(s=y)", kServer), "Done=" + codec::encodeInt(0));
    EXPECT_EQ(take(*second), "Done=(s=y)");
    unregisterInbox(second.get());
    EXPECT_EQ(routeCallback("Done=(s=z)", kServer), listener::defaultMessageHandler("Done=(s=z)"));
}

} // namespace
