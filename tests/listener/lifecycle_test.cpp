// The listener as Initialise and Shutdown drive it, against a fake server
// on 127.0.0.5.
#include "loopback.h"

#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

using listener::ListenerState;

class ListenerLifecycle : public testing::Test {
protected:
    void SetUp() override
    {
        listener::stopListener();
        ASSERT_TRUE(server_.isListening()) << "cannot listen on 127.0.0.5";
        server_.setResponder([](const std::string& request) -> ScriptedReply {
            const std::string ok = FakeServer::okReply(request);
            return request.find("ConnectionStatus_Get") != std::string::npos ? ok + "(n=01000000)" : ok;
        });
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        runBounded("stopListener", [] { listener::stopListener(); });
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
    EXPECT_EQ(listener::listenerState(), ListenerState::None);
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    expectAnswering("started");
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"tqBsePluginControlDll_RemoteConnection_Set=(n=ffffffff)"});
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
    EXPECT_EQ(listener::listenerState(), ListenerState::Listening);
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
    EXPECT_EQ(listener::listenerState(), ListenerState::None);
}

TEST_F(ListenerLifecycle, PortTakenPrintsBindFailedAndExportsKeepWorking)
{
    // Another program holds the listener's port: a socket listening on a
    // free port of every interface, which the library's listener then takes.
    const platform::SocketHandle holder = test::boundSocket("0.0.0.0", 0, true);
    ASSERT_NE(holder, platform::kInvalidSocket);
    platform::Endpoint held{};
    ASSERT_TRUE(platform::localEndpoint(holder, &held));
    setPortsForTesting(0, held.port);

    testing::internal::CaptureStdout();
    const int32_t initialised = tqBsePluginControlDll_Initialise(127, 0, 0, 5);
    const bool ended = waitForState(ListenerState::Ended);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(initialised, 0);
    EXPECT_TRUE(ended);
    EXPECT_EQ(printed, "bind() failed: " + std::to_string(test::kAddressInUseError) + "\n");

    int32_t connected = 0;
    EXPECT_EQ(tqBsePluginControlDll_ConnectionStatus_Get(&connected), 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(tqBsePluginControlDll_RemoteConnection_Set(-1), 0);
    EXPECT_EQ(server_.requests().size(), 3u);

    // Once the port is free, the next Initialise brings a listener up.
    platform::closeSocket(holder);
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 5), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    expectAnswering("free");
}

} // namespace
} // namespace tqbse::test
