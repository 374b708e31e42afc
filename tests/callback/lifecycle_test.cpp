// The listener as Initialise and Shutdown drive it, against a fake server
// on 127.0.0.5:6002.
#include "loopback.h"

#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

using callback::ListenerState;

class ListenerLifecycle : public testing::Test {
protected:
    void SetUp() override
    {
        callback::stopListener();
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.5:6002";
        server_.setResponder([](const QByteArray& request) {
            const QByteArray ok = FakeServer::okReply(request);
            return request.contains("ConnectionStatus_Get") ? ok + "(n=01000000)" : ok;
        });
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        runBounded("stopListener", [] { callback::stopListener(); });
    }

    static void expectAnswering(const char* name)
    {
        Peer peer;
        ASSERT_TRUE(peer.connected());
        EXPECT_EQ(peer.exchange(std::string(name) + "=()"), std::string(name) + "=(n=f8ffffff)");
    }

    FakeServer server_{"127.0.0.5"};
};

TEST_F(ListenerLifecycle, InitialiseStartsTheListenerAfterConnecting)
{
    EXPECT_EQ(callback::listenerState(), ListenerState::None);
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    expectAnswering("started");
    EXPECT_EQ(server_.requests(), std::vector<QByteArray>{"tqBsePluginControlDll_RemoteConnection_Set=(n=ffffffff)"});
}

TEST_F(ListenerLifecycle, SecondInitialiseRestartsTheListener)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    Peer served; // stays connected across the second Initialise
    ASSERT_TRUE(served.connected());
    EXPECT_EQ(served.exchange("one=()"), "one=(n=f8ffffff)");

    runBounded("second Initialise", [] { EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0); });
    EXPECT_TRUE(served.closedByListener());
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    expectAnswering("two");
}

TEST_F(ListenerLifecycle, ShutdownLeavesTheListenerRunningAndInitialiseKeepsIt)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    Peer kept;
    ASSERT_TRUE(kept.connected());
    EXPECT_EQ(kept.exchange("before=()"), "before=(n=f8ffffff)");

    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    EXPECT_EQ(callback::listenerState(), ListenerState::Listening);
    EXPECT_EQ(kept.exchange("afterShutdown=()"), "afterShutdown=(n=f8ffffff)");

    // Not connected after Shutdown, so this Initialise leaves the listener,
    // and the peer's connection, as they are.
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    EXPECT_EQ(kept.exchange("afterInitialise=()"), "afterInitialise=(n=f8ffffff)");
    kept.close();
    expectAnswering("fresh");
}

TEST_F(ListenerLifecycle, FailedReconnectLeavesNoListener)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    server_.stop();
    testing::internal::CaptureStdout();
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), -14);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_THAT(printed, testing::HasSubstr("connect() failed: "));
    EXPECT_EQ(callback::listenerState(), ListenerState::None);
}

TEST_F(ListenerLifecycle, PortTakenPrintsBindFailedAndExportsKeepWorking)
{
    // Take the port as another program would, with SO_REUSEADDR off. Earlier
    // connections of port 6009 still in TIME_WAIT refuse that; a listening
    // socket holds the port just as well with SO_REUSEADDR on.
    const sockaddr_in any = address("0.0.0.0", callback::kListenerPort);
    int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::bind(holder, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        ::close(holder);
        holder = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0)
            << "port 6009 is held by another process (ss -ltnp | grep 6009)";
    }
    ASSERT_EQ(::listen(holder, 1), 0);

    testing::internal::CaptureStdout();
    const int32_t initialised = tqBsePluginControlDll_Initialise(127, 0, 0, 5);
    const bool ended = waitForState(ListenerState::Ended);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(initialised, 0);
    EXPECT_TRUE(ended);
    EXPECT_EQ(printed, "bind() failed: 98\n");

    int32_t connected = 0;
    EXPECT_EQ(tqBsePluginControlDll_ConnectionStatus_Get(&connected), 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(tqBsePluginControlDll_RemoteConnection_Set(-1), 0);
    EXPECT_EQ(server_.requests().size(), 3u);

    // Once the port is free, the next Initialise brings a listener up.
    ::close(holder);
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    expectAnswering("free");
}

} // namespace
} // namespace tqbse::test
