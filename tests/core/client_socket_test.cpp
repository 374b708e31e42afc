// The client connection: the end-of-reply rules fed chunk by chunk through a
// record-preserving socket pair, then real TCP against a scripted server on
// 127.0.0.2:6002 (replies in pieces, at chunk boundaries, cut short, large
// requests and replies), and the connection's lifecycle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "api/call_table.h"
#include "callback/listener.h"
#include "core/client_socket.h"
#include "support/scripted_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;
using test::ScriptedReply;
using test::ScriptedServer;

namespace {

constexpr char kSentinel = '\x5a';

// A literal with its zero bytes.
template <std::size_t N>
QByteArray withZero(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// A text reply of exactly `size` bytes: name=(n=00000000)(s=xxx...).
QByteArray textReplyOfSize(const char* name, qsizetype size, QByteArray* text = nullptr)
{
    const QByteArray head = QByteArray(name) + "=(n=00000000)(s=";
    QByteArray body;
    for (qsizetype i = 0; body.size() < size - head.size() - 1; ++i)
        body.append(char('a' + i % 26));
    if (text)
        *text = body;
    return head + body + ")";
}

// ---- End-of-reply rules, one receive per record ------------------------------

class ChunkRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
        peer_ = fds[1];
        timeval tv{2, 0};
        ::setsockopt(peer_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ClientSocket::destroy();
        ClientSocket::instance().adoptConnectedSocket(fds[0]);
    }
    void TearDown() override
    {
        ClientSocket::instance().close();
        ClientSocket::destroy();
        ::close(peer_);
    }

    // Queues the records (and the end of the stream), then runs one exchange.
    // A hung exchange is freed by shutting the peer down and counts as -99.
    int run(const std::vector<QByteArray>& records, bool closeAfter, QByteArray* reply)
    {
        for (const QByteArray& r : records)
            EXPECT_EQ(::send(peer_, r.constData(), std::size_t(r.size()), MSG_NOSIGNAL), r.size());
        if (closeAfter)
            ::shutdown(peer_, SHUT_WR);
        auto future = std::async(std::launch::async, [reply] {
            return ClientSocket::instance().exchange("Q=(n=01000000)", *reply);
        });
        if (future.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
            ::shutdown(peer_, SHUT_RDWR);
            future.wait();
            return -99;
        }
        char request[64] = {};
        EXPECT_EQ(::recv(peer_, request, sizeof request, 0), 14);
        EXPECT_STREQ(request, "Q=(n=01000000)");
        return future.get();
    }

    int peer_ = -1;
};

TEST_F(ChunkRules, Table)
{
    const QByteArray full = textReplyOfSize("R", 4096);               // ends ")" at the boundary, balanced
    QByteArray open = "R=(n=00000000)(s=((";
    open += QByteArray(4096 - open.size() - 1, 'x') + ")";            // ends ")" at the boundary, still open
    const QByteArray notParen = QByteArray(4096, 'y');
    struct Case {
        const char* what;
        std::vector<QByteArray> records;
        bool closeAfter;
        int rc;
        QByteArray reply;
    };
    const std::vector<Case> cases = {
        {"one short chunk", {"R=(n=00000000)"}, false, 0, "R=(n=00000000)"},
        {"short chunk without )", {"R=(n=000", "00000)"}, false, 0, "R=(n=00000000)"},
        {"three pieces", {"R=", "(n=00000000)(s=a", "bc)"}, false, 0, "R=(n=00000000)(s=abc)"},
        {"short ) with more waiting", {"R=(n=00000000)", "(n=05000000)"}, false, 0, "R=(n=00000000)(n=05000000)"},
        {"full chunk, balanced, quiet", {full}, false, 0, full},
        {"full chunk, balanced, more waiting", {full, "(n=01000000)"}, false, 0, full + "(n=01000000)"},
        {"full chunk, open, then the rest", {open, "))"}, false, 0, open + "))"},
        {"full chunk without ), then )", {notParen, ")"}, false, 0, notParen + ")"},
        {"two full chunks, then )", {notParen, notParen, ")"}, false, 0, notParen + notParen + ")"},
        {"zero byte cuts the chunk", {QByteArray("R=(n=00000000)\0junk)", 20)}, false, 0, "R=(n=00000000)"},
        {"zero byte in a middle chunk", {QByteArray("R=(n=0\0zz", 9), "0000000)"}, false, 0, "R=(n=00000000)"},
        {"closed mid-reply", {"R=(n=000"}, true, -1, ""},
        {"closed after a full chunk without )", {notParen}, true, -1, ""},
        {"closed before any byte", {}, true, -1, ""},
        {"closed right after a complete reply", {"R=(n=00000000)"}, true, 0, "R=(n=00000000)"},
        {"closed right after a balanced full chunk", {full}, true, 0, full},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        QByteArray reply;
        EXPECT_EQ(run(c.records, c.closeAfter, &reply), c.rc) << c.what;
        if (c.rc == 0) {
            EXPECT_EQ(reply.size(), c.reply.size()) << c.what;
            EXPECT_TRUE(reply == c.reply) << c.what;
        }
    }
}

TEST_F(ChunkRules, NotConnectedSendsNothing)
{
    ClientSocket::instance().close();
    QByteArray reply;
    EXPECT_EQ(ClientSocket::instance().exchange("Q=", reply), -1);
    char b;
    EXPECT_EQ(::recv(peer_, &b, 1, MSG_DONTWAIT), 0); // closed, and nothing was sent
}

// ---- Real TCP against the scripted server -------------------------------------

class Loopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = std::make_unique<ScriptedServer>("127.0.0.2");
        ASSERT_TRUE(server_->isListening()) << "cannot listen on 127.0.0.2:6002";
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
        ASSERT_EQ(server_->requestCount(), 1u);
        server_->clearRequests();
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        callback::stopListener();
        server_.reset();
    }

    template <typename F>
    auto guarded(F call, int ms = 5000)
    {
        return test::callWithDeadline(*server_, ms, std::move(call));
    }

    std::unique_ptr<ScriptedServer> server_;
};

const QByteArray kCount = calls::TestCase_Count_Get.name;
const QByteArray kName = calls::TestCase_Name_Get.name;
const QByteArray kItem = calls::Protocol_Results_GetResultItem.name;

TEST_F(Loopback, ReplyInSeveralSendsIsJoinedInOrder)
{
    server_->push(ScriptedReply{{kName + "=(n=00000000)(s=Hel", "lo wo", "rld)"}, 30});
    char buffer[32];
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Name_Get(1, buffer, 32); }), 0);
    EXPECT_STREQ(buffer, "Hello world");
    EXPECT_EQ(server_->lastRequest(), kName + "=(n=01000000)(n=20000000)");
}

// In the spirit of a protocol parser's fuzz-by-splitting: the same reply cut
// at every position inside a token must give the same outcome.
TEST_F(Loopback, EverySplitInsideATokenGivesTheSameResult)
{
    const QByteArray reply = kItem + "=(n=01000000)(d=000000000000f03f)(d=0000000000000040)";
    int splits = 0;
    for (qsizetype at = 1; at < reply.size(); ++at) {
        if (reply[at - 1] == ')')
            continue; // a short chunk ending in ")" ends the reply by itself
        server_->push(ScriptedReply{{reply.left(at), reply.mid(at)}, 8});
        double first = 0, second = 0;
        const auto rc = guarded([&] {
            return tqBsePluginControlDll_Protocol_Results_GetResultItem(4, 5, &first, &second);
        });
        ASSERT_EQ(rc, 1) << "split at " << at;
        EXPECT_EQ(first, 1.0) << "split at " << at;
        EXPECT_EQ(second, 2.0) << "split at " << at;
        ++splits;
    }
    EXPECT_GT(splits, 60);
    EXPECT_EQ(server_->requestCount(), std::size_t(splits));
}

TEST_F(Loopback, ShortChunkEndingInParenthesisEndsTheReply)
{
    // The second value comes too late: the reply ended after the first.
    server_->push(ScriptedReply{{kItem + "=(n=00000000)(d=000000000000f03f)", "(d=0000000000000040)"}, 300});
    double first = 0, second = -1;
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_Protocol_Results_GetResultItem(4, 5, &first, &second); }), -11);
    EXPECT_EQ(first, 1.0);
    EXPECT_EQ(second, -1);
    // The late piece would be read as the next reply: reconnect.
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
}

TEST_F(Loopback, ServerClosingMidReplyGivesNoResponseUntilInitialise)
{
    server_->push(ScriptedReply{{kCount + "=(n=00000000)(n=05"}, 0, true});
    int32_t count = 99;
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Count_Get(&count); }), -14);
    EXPECT_EQ(count, 99);
    EXPECT_TRUE(ClientSocket::instance().isConnected()); // a failed exchange changes no state

    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Count_Get(&count); }), -14);
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_FullProtocolReset(); }), -14);
    EXPECT_EQ(count, 99);
    EXPECT_EQ(server_->connections(), 1); // no reconnect behind the caller's back

    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    EXPECT_EQ(server_->connections(), 2);
    server_->push(kCount + "=(n=00000000)(n=05000000)");
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Count_Get(&count); }), 0);
    EXPECT_EQ(count, 5);
}

TEST_F(Loopback, ServerClosingRightAfterACompleteReply)
{
    server_->push(ScriptedReply{{kCount + "=(n=00000000)(n=05000000)"}, 0, true});
    int32_t count = 99;
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Count_Get(&count); }), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Count_Get(&count); }), -14);
}

TEST_F(Loopback, RepliesAroundTheChunkBoundaryEnd)
{
    for (const qsizetype size : {qsizetype(4095), qsizetype(4096), qsizetype(4097), qsizetype(8192),
                                 qsizetype(8193), qsizetype(3 * 4096), qsizetype(3 * 4096 + 1)}) {
        QByteArray text;
        const QByteArray reply = textReplyOfSize(kName.constData(), size, &text);
        ASSERT_EQ(reply.size(), size);
        server_->push(reply);
        std::vector<char> buffer(20000, kSentinel);
        const auto rc = guarded([&] { return tqBsePluginControlDll_TestCase_Name_Get(0, buffer.data(), 20000); });
        ASSERT_TRUE(rc.has_value()) << "a reply of " << size << " bytes never ended";
        EXPECT_EQ(*rc, 0) << size;
        EXPECT_EQ(QByteArray(buffer.data()), text) << size;
    }
    // The same 4096 bytes in two sends.
    QByteArray text;
    const QByteArray reply = textReplyOfSize(kName.constData(), 4096, &text);
    server_->push(ScriptedReply{{reply.left(2000), reply.mid(2000)}, 20});
    std::vector<char> buffer(5000, kSentinel);
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Name_Get(0, buffer.data(), 5000); }), 0);
    EXPECT_EQ(QByteArray(buffer.data()), text);
}

TEST_F(Loopback, ZeroByteCutsTheReply)
{
    // After the zero the chunk is dropped: the junk never reaches the cutter.
    server_->push(kCount + withZero("=(n=00000000)(n=05000000)\0(n=junk)"));
    int32_t count = 99;
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Count_Get(&count); }), 0);
    EXPECT_EQ(count, 5);

    // A zero inside a text: the token loses its ")" and with it the output.
    server_->push(kName + withZero("=(n=00000000)(s=ab\0cd)"));
    char buffer[16];
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_TestCase_Name_Get(0, buffer, 16); }), -11);
    EXPECT_EQ(std::string(buffer, 16), std::string(16, kSentinel));
}

TEST_F(Loopback, LargeRequestArrivesWhole)
{
    std::string content(8 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = char('a' + i % 26);
    const QByteArray expected = QByteArray(calls::Scenario_Upload.name) + "=(s=big)(s="
        + QByteArray::fromStdString(content) + ")";
    ScriptedReply ok{{QByteArray(calls::Scenario_Upload.name) + "=(n=00000000)"}};
    ok.minRequestBytes = std::size_t(expected.size());
    server_->push(ok);
    EXPECT_EQ(guarded([&] {
        return tqBsePluginControlDll_Scenario_Upload("big", 3, content.c_str(), int32_t(content.size()));
    }, 30000), 0);
    const QByteArray got = server_->lastRequest();
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

TEST_F(Loopback, LargeReplyArrivesWhole)
{
    QByteArray text;
    const QByteArray reply = textReplyOfSize(calls::Scenario_Download.name, (1 << 20) + 123, &text);
    server_->push(reply);
    std::vector<char> buffer(std::size_t(text.size()) + 2, kSentinel);
    EXPECT_EQ(guarded([&] {
        return tqBsePluginControlDll_Scenario_Download("s", 1, buffer.data(), int32_t(buffer.size()) - 1);
    }, 30000), 0);
    EXPECT_TRUE(QByteArray(buffer.data(), text.size()) == text);
    EXPECT_EQ(buffer[std::size_t(text.size())], '\0');
    EXPECT_EQ(buffer.back(), kSentinel);
}

TEST_F(Loopback, EightBitTextsCrossTheWireUnchanged)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(char(b));
    const QByteArray bytes = QByteArray::fromStdString(all);
    server_->push(QByteArray(calls::Scenario_Download.name) + "=(n=00000000)(s=" + bytes + ")");
    char buffer[300];
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(guarded([&] { return tqBsePluginControlDll_Scenario_Download(all.c_str(), 255, buffer, 256); }), 0);
    EXPECT_EQ(std::string(buffer, 255), all);
    EXPECT_EQ(buffer[255], '\0');
    EXPECT_EQ(buffer[256], kSentinel);
    EXPECT_TRUE(server_->lastRequest()
                == QByteArray(calls::Scenario_Download.name) + "=(s=" + bytes + ")(n=00010000)");
}

// ---- Lifecycle ---------------------------------------------------------------------

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = std::make_unique<ScriptedServer>("127.0.0.2");
        ASSERT_TRUE(server_->isListening()) << "cannot listen on 127.0.0.2:6002";
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        callback::stopListener();
        server_.reset();
    }
    std::unique_ptr<ScriptedServer> server_;
};

TEST_F(Lifecycle, ExportBeforeInitialiseSendsNothing)
{
    ClientSocket::destroy(); // as at process start
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), -14);
    int32_t status = 99;
    EXPECT_EQ(tqBsePluginControlDll_ConnectionStatus_Get(&status), -14);
    EXPECT_EQ(count, 99);
    EXPECT_EQ(status, 99);
    EXPECT_EQ(ClientSocket::instance().addressText(), "127.0.0.1");
    EXPECT_FALSE(ClientSocket::instance().isConnected());
    EXPECT_EQ(server_->connections(), 0);
    EXPECT_EQ(server_->requestCount(), 0u);
}

TEST_F(Lifecycle, InitialiseAnnouncesAndShutdownSaysGoodbye)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    EXPECT_EQ(ClientSocket::instance().addressText(), "127.0.0.2");
    EXPECT_TRUE(ClientSocket::instance().isConnected());
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    EXPECT_EQ(server_->requests(),
              (std::vector<QByteArray>{"tqBsePluginControlDll_RemoteConnection_Set=(n=ffffffff)",
                                       "tqBsePluginControlDll_RemoteConnection_Set=(n=00000000)"}));

    // A fresh, unconnected instance afterwards.
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    EXPECT_EQ(ClientSocket::instance().addressText(), "127.0.0.1");
    EXPECT_EQ(server_->requestCount(), 2u);

    // And a reconnect works.
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    server_->push(kCount + "=(n=00000000)(n=03000000)");
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(server_->connections(), 2);
}

TEST_F(Lifecycle, InitialiseReturnsTheAnnouncementsResult)
{
    server_->push("tqBsePluginControlDll_RemoteConnection_Set=(n=f9ffffff)");
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), -7);
    EXPECT_TRUE(ClientSocket::instance().isConnected());
}

TEST_F(Lifecycle, BadOctetChangesNothing)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    const std::size_t requests = server_->requestCount();
    const int32_t bad[][4] = {{127, 0, 0, 256}, {192, 168, 0, 256}, {-1, 0, 0, 2}, {127, 0, 300, 2}, {127, -5, 0, 2}};
    for (const auto& o : bad)
        EXPECT_EQ(tqBsePluginControlDll_Initialise(o[0], o[1], o[2], o[3]), -16);
    EXPECT_EQ(ClientSocket::instance().addressText(), "127.0.0.2");
    EXPECT_TRUE(ClientSocket::instance().isConnected());
    EXPECT_EQ(server_->requestCount(), requests);
    EXPECT_EQ(server_->connections(), 1);
    // The connection still works.
    server_->push(kCount + "=(n=00000000)(n=04000000)");
    int32_t count = 0;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 4);

    // Without a connection as well: nothing is set up.
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    EXPECT_EQ(tqBsePluginControlDll_Initialise(256, 0, 0, 1), -16);
    EXPECT_EQ(ClientSocket::instance().addressText(), "127.0.0.1");
    EXPECT_FALSE(ClientSocket::instance().isConnected());
    EXPECT_EQ(server_->connections(), 1);
}

TEST_F(Lifecycle, NoServerListeningPrintsTheConnectFailure)
{
    const test::RefusingPort refusing("127.0.0.3");
    ASSERT_TRUE(refusing.isHeld());
    testing::internal::CaptureStdout();
    const int32_t rc = tqBsePluginControlDll_Initialise(127, 0, 0, 3);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -14);
    EXPECT_THAT(out, testing::ContainsRegex("connect\\(\\) failed: [0-9]+\n"));
    EXPECT_THAT(out, testing::HasSubstr("connect() failed: 111\n")); // refused
    EXPECT_EQ(ClientSocket::instance().addressText(), "127.0.0.3");
    EXPECT_FALSE(ClientSocket::instance().isConnected());
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    EXPECT_EQ(count, 99);
}

TEST_F(Lifecycle, SecondInitialiseReplacesTheConnection)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    EXPECT_EQ(server_->connections(), 2);
    // Moving to an address with no server drops the old connection as well.
    const test::RefusingPort refusing("127.0.0.3");
    ASSERT_TRUE(refusing.isHeld());
    testing::internal::CaptureStdout();
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), -14);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("connect() failed: "));
    EXPECT_FALSE(ClientSocket::instance().isConnected());
    EXPECT_EQ(server_->requests().size(), 2u);
}

} // namespace
