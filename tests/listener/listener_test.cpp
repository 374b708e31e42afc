// The callback listener over loopback: default answers, message pieces,
// long replies, peers ending well or badly, stopping and restarting.
#include "loopback.h"

#include "platform/platform.h"

namespace tqbse::test {
namespace {

using listener::ListenerState;

// Answers "big=()" with `size` bytes and anything else with `prefix` + message.
Recorder::Answer bigOr(std::size_t size, std::string prefix)
{
    auto big = std::make_shared<const std::string>(size, 'b');
    return [big, prefix](const std::string& m) { return m == "big=()" ? *big : prefix + m; };
}

class Listener : public testing::Test {
protected:
    void SetUp() override
    {
        listener::stopListener();
        ASSERT_EQ(listener::startListener(), 0);
        ASSERT_TRUE(waitForState(ListenerState::Listening))
            << "no listener on port " << listenerPort();
    }
    void TearDown() override
    {
        listener::setMessageHandler(listener::defaultMessageHandler);
        runBounded("stopListener", [] { listener::stopListener(); });
    }
};

TEST_F(Listener, DefaultHandlerAnswersAnyMessageWithItsNameAndMinus8)
{
    using namespace std::string_literals;
    const std::string longName(4096, 'A');
    const struct {
        std::string message;
        std::string reply;
    } cases[] = {
        {"tqBsePluginControlDll_RX_CentreFrequency_Set=(n=00000000)(d=0000000065cdcd41)",
         "tqBsePluginControlDll_RX_CentreFrequency_Set=(n=f8ffffff)"},
        {"Anything=(s=hello)", "Anything=(n=f8ffffff)"},
        {"=(n=01000000)", "=(n=f8ffffff)"},
        {"=", "=(n=f8ffffff)"},
        {"no_equals_sign", "no_equals_sign=(n=f8ffffff)"},
        {"a=b=c", "a=(n=f8ffffff)"},
        {"open=((((((s=x)", "open=(n=f8ffffff)"},
        {"close=))))(", "close=(n=f8ffffff)"},
        {"cut\0after=(n=01000000)"s, "cut=(n=f8ffffff)"},
        {"\0leading zero"s, "=(n=f8ffffff)"},
        {longName, longName + "=(n=f8ffffff)"},
    };
    Peer peer;
    ASSERT_TRUE(peer.connected());
    for (const auto& c : cases)
        EXPECT_EQ(peer.exchange(c.message), c.reply) << "message: " << c.message.substr(0, 40);
}

TEST_F(Listener, AcceptPrintsPeerAddressAndPort)
{
    testing::internal::CaptureStdout();
    Peer peer;
    ASSERT_TRUE(peer.connected());
    const std::string reply = peer.exchange("x=()");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(reply, "x=(n=f8ffffff)");
    EXPECT_EQ(printed, "Accepted client: 127.0.0.1:" + std::to_string(peer.localPort()) + "\n");
}

TEST_F(Listener, GarbageIsAnsweredOrIgnoredAndTheConnectionGoesOn)
{
    Peer peer;
    ASSERT_TRUE(peer.connected());
    const std::string junk[] = {
        std::string(20000, '('),
        std::string(9000, ')'),
        std::string(5000, '\0'),
        std::string(12345, '=') + "(n=",
    };
    for (const std::string& j : junk) {
        ASSERT_TRUE(peer.send(j));
        peer.drain();
        EXPECT_EQ(peer.exchange("after=(n=01000000)"), "after=(n=f8ffffff)");
    }
}

TEST_F(Listener, MessageOf4096BytesReachesHandlerWholeAndLongerOneInPieces)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler());
    Peer peer;
    ASSERT_TRUE(peer.connected());

    std::string whole = "name=(s=";
    whole.resize(4095, 'w');
    whole += ')';
    ASSERT_TRUE(peer.send(whole));
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(recorder.messages().front(), whole);

    std::string longer;
    for (int i = 0; i < 10000; ++i)
        longer += char('a' + i % 26);
    ASSERT_TRUE(peer.send(longer));
    std::string joined;
    std::size_t pieces = 0;
    ASSERT_TRUE(waitUntil([&] {
        const auto m = recorder.messages();
        joined.clear();
        for (std::size_t i = 1; i < m.size(); ++i)
            joined += m[i];
        pieces = m.size() - 1;
        return joined.size() >= longer.size();
    }));
    EXPECT_EQ(joined, longer);
    EXPECT_GE(pieces, 3u);
    for (const std::string& m : recorder.messages())
        EXPECT_LE(m.size(), std::size_t(listener::kMessageChunkSize));
}

TEST_F(Listener, ReplyOfSeveralMebibytesArrivesCompleteAndInOrder)
{
    auto big = std::make_shared<std::string>(6 << 20, '\0');
    for (std::size_t i = 0; i < big->size(); ++i)
        (*big)[i] = char('A' + (i * 7 + i / 4099) % 26);
    Recorder recorder;
    listener::setMessageHandler(recorder.handler([big](const std::string&) { return *big; }));
    Peer peer;
    ASSERT_TRUE(peer.connected());
    ASSERT_TRUE(peer.send("big=()"));
    const std::string got = peer.receiveExactly(big->size());
    ASSERT_EQ(got.size(), big->size());
    EXPECT_TRUE(got == *big);
    EXPECT_TRUE(peer.silentFor(100));
}

TEST_F(Listener, PeersAreServedOneAtATimeAndTheHandlerHearsEachEnd)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler([](const std::string& m) { return "ack:" + m; }));
    Peer first;
    ASSERT_TRUE(first.connected());
    EXPECT_EQ(first.exchange("first=()"), "ack:first=()");

    Peer second; // waits in the backlog while the first is served
    ASSERT_TRUE(second.connected());
    ASSERT_TRUE(second.send("second=()"));
    EXPECT_TRUE(second.silentFor(200));

    first.close();
    EXPECT_EQ(second.receiveReply(), "ack:second=()");
    ASSERT_TRUE(recorder.waitForCount(3));
    const std::vector<std::string> expected = {"first=()", listener::kTerminationMessage, "second=()"};
    EXPECT_EQ(recorder.messages(), expected);

    second.close();
    ASSERT_TRUE(recorder.waitForCount(4));
    EXPECT_EQ(recorder.messages().back(), listener::kTerminationMessage);
}

TEST_F(Listener, PeerVanishingMidReplyEndsOnlyItsOwnConnection)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler(bigOr(32 << 20, "ok:")));
    testing::internal::CaptureStdout();
    {
        Peer leaving;
        ASSERT_TRUE(leaving.connected());
        ASSERT_TRUE(leaving.send("big=()"));
        ASSERT_EQ(leaving.receiveExactly(1000).size(), 1000u);
        leaving.close(); // with most of the reply unread: a reset
    }
    Peer next;
    ASSERT_TRUE(next.connected());
    const std::string reply = next.exchange("next=()");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(reply, "ok:next=()");
    EXPECT_THAT(printed, testing::HasSubstr("send() failed: "));
    const std::vector<std::string> expected = {"big=()", listener::kTerminationMessage, "next=()"};
    EXPECT_EQ(recorder.messages(), expected);
}

TEST_F(Listener, StopWakesAnIdlePeerAndAPeerThatDoesNotRead)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler(bigOr(64 << 20, "ok:")));
    Peer idle;
    ASSERT_TRUE(idle.connected());
    EXPECT_EQ(idle.exchange("idle=()"), "ok:idle=()");
    runBounded("stopListener with an idle peer", [] { EXPECT_EQ(listener::stopListener(), 0); });
    EXPECT_TRUE(idle.closedByListener());
    EXPECT_EQ(listener::listenerState(), ListenerState::None);
    ASSERT_TRUE(recorder.waitForCount(2));
    EXPECT_EQ(recorder.messages()[1], listener::kTerminationMessage);

    ASSERT_EQ(listener::startListener(), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    listener::setMessageHandler(recorder.handler(bigOr(64 << 20, "ok:")));
    Peer stuck; // asks for 64 MiB and never reads it
    ASSERT_TRUE(stuck.connected());
    ASSERT_TRUE(stuck.send("big=()"));
    ASSERT_TRUE(recorder.waitForCount(3));
    runBounded("stopListener with a peer that does not read", [] { EXPECT_EQ(listener::stopListener(), 0); });

    ASSERT_EQ(listener::startListener(), 0);
    ASSERT_TRUE(waitForState(ListenerState::Listening));
    Peer after;
    ASSERT_TRUE(after.connected());
    EXPECT_EQ(after.exchange("after=()"), "after=(n=f8ffffff)");
}

TEST_F(Listener, StopAndStartTwentyTimesInARow)
{
    EXPECT_EQ(listener::stopListener(), 0);
    EXPECT_EQ(listener::stopListener(), -1);
    const int libraryUsers = platform::socketLibraryUsers();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(listener::startListener(), 0);
        ASSERT_TRUE(waitForState(ListenerState::Listening));
        Peer peer;
        ASSERT_TRUE(peer.connected());
        const std::string name = "round" + std::to_string(round);
        EXPECT_EQ(peer.exchange(name + "=()"), name + "=(n=f8ffffff)");
        if (round % 2 == 0)
            peer.close(); // stop between two peers; odd rounds stop while one is idle
        runBounded("stopListener", [] { EXPECT_EQ(listener::stopListener(), 0); });
        EXPECT_EQ(listener::listenerState(), ListenerState::None);
    }
    EXPECT_EQ(platform::socketLibraryUsers(), libraryUsers);
}

TEST_F(Listener, HandlerCanBeReplacedWhileMessagesFlow)
{
    const listener::MessageHandler other = [](std::string_view m) {
        return std::string(m.substr(0, m.find('='))) + "=(n=01000000)";
    };
    Peer peer;
    ASSERT_TRUE(peer.connected());
    std::atomic<bool> done{false};
    std::vector<std::string> replies;
    std::thread talker([&] {
        for (int i = 0; i < 300; ++i)
            replies.push_back(peer.exchange("m=()"));
        done.store(true);
    });
    for (int i = 0; i < 3000 && !done.load(); ++i) {
        listener::setMessageHandler(i % 2 ? listener::MessageHandler(listener::defaultMessageHandler) : other);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    talker.join();
    ASSERT_EQ(replies.size(), 300u);
    for (const std::string& r : replies)
        EXPECT_TRUE(r == "m=(n=f8ffffff)" || r == "m=(n=01000000)") << r;
}

TEST_F(Listener, StartingAgainKeepsTheRunningListenerAndRestoresTheDefaultHandler)
{
    Recorder recorder;
    listener::setMessageHandler(recorder.handler([](const std::string&) { return std::string("mine"); }));
    Peer peer;
    ASSERT_TRUE(peer.connected());
    ASSERT_TRUE(peer.send("a=()"));
    EXPECT_EQ(peer.receiveExactly(4), "mine");
    EXPECT_EQ(listener::startListener(), 0);
    EXPECT_EQ(listener::listenerState(), ListenerState::Listening);
    EXPECT_EQ(peer.exchange("b=()"), "b=(n=f8ffffff)"); // same connection, still served
}

} // namespace
} // namespace tqbse::test
