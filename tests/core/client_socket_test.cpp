// The client connection: the end-of-reply rules that need a socket (bytes
// already waiting, the quiet wait, the end of the stream), then against a
// fake server on 127.0.0.2 (early end, close after a reply) and the
// connection's lifecycle. The chunk rules themselves are in the framer test;
// replies cut, dripped and with odd bytes are in the hardening faults test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/client_socket.h"
#include "listener/listener.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;
using test::FakeServer;

namespace {

constexpr char kSentinel = '\x5a';

// A text reply of exactly `size` bytes: name=(n=00000000)(s=xxx...).
std::string textReplyOfSize(const char* name, std::size_t size, std::string* text = nullptr)
{
    const std::string head = std::string(name) + "=(n=00000000)(s=";
    std::string body;
    for (std::size_t i = 0; body.size() < size - head.size() - 1; ++i)
        body += char('a' + i % 26);
    if (text)
        *text = body;
    return head + body + ")";
}

// ---- End-of-reply rules that need a socket ------------------------------------
// The framer test has the chunk rules; here a real connection decides: bytes
// already waiting, the quiet wait, and the end of the stream. The client end
// of a loopback connection is handed to the ClientSocket; the test writes
// the server's bytes on the other end before the exchange reads them.

class SocketRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        // These sockets exist before the library makes any: the test starts
        // the socket library for them (on Windows nothing works before it).
        ASSERT_EQ(platform::socketLibraryStartup(), 0);
        started_ = true;
        listening_ = test::boundSocket("127.0.0.2", 0, true);
        ASSERT_NE(listening_, platform::kInvalidSocket);
        platform::Endpoint local{};
        ASSERT_TRUE(platform::localEndpoint(listening_, &local));
        const platform::SocketHandle client = platform::openTcpSocket();
        ASSERT_EQ(platform::connectWithTimeout(client, local, test::kSocketTimeoutMs), 0);
        peer_ = platform::acceptPeer(listening_, nullptr);
        ASSERT_NE(peer_, platform::kInvalidSocket);
        platform::setTimeouts(peer_, 2000);
        ClientSocket::destroy();
        ClientSocket::instance().adoptConnectedSocket(client);
    }
    void TearDown() override
    {
        ClientSocket::instance().close();
        ClientSocket::destroy();
        if (peer_ != platform::kInvalidSocket)
            platform::closeSocket(peer_);
        if (listening_ != platform::kInvalidSocket)
            platform::closeSocket(listening_);
        if (started_)
            platform::socketLibraryCleanup();
    }

    // Writes the server's bytes (and the end of the stream), then runs one
    // exchange. A hung exchange is freed by shutting the peer down and
    // counts as -99.
    int run(const std::string& bytes, bool closeAfter, std::string* reply)
    {
        EXPECT_EQ(platform::sendAll(peer_, bytes.data(), bytes.size()), 0);
        if (closeAfter)
            platform::shutdownSend(peer_);
        auto future = std::async(std::launch::async, [reply] {
            return ClientSocket::instance().exchange("Q=(n=01000000)", *reply);
        });
        if (future.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
            platform::shutdownBoth(peer_);
            future.wait();
            return -99;
        }
        char request[64] = {};
        EXPECT_EQ(platform::receiveSome(peer_, request, sizeof request), 14);
        EXPECT_STREQ(request, "Q=(n=01000000)");
        return future.get();
    }

    bool started_ = false;
    platform::SocketHandle listening_ = platform::kInvalidSocket;
    platform::SocketHandle peer_ = platform::kInvalidSocket;
};

TEST_F(SocketRules, Table)
{
    const std::string full = textReplyOfSize("R", 4096); // ends ")" at the boundary, balanced
    const std::string notParen(4096, 'y');
    struct Case {
        const char* what;
        std::string bytes;
        bool closeAfter;
        int rc;
        std::string reply;
    };
    const std::vector<Case> cases = {
        {"full chunk, balanced, then quiet", full, false, 0, full},
        {"full chunk, balanced, more already waiting", full + "(n=01000000)", false, 0, full + "(n=01000000)"},
        {"closed mid-reply", "R=(n=000", true, -1, ""},
        {"closed after a full chunk without )", notParen, true, -1, ""},
        {"closed before any byte", "", true, -1, ""},
        {"closed right after a balanced full chunk", full, true, 0, full},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        std::string reply;
        EXPECT_EQ(run(c.bytes, c.closeAfter, &reply), c.rc) << c.what;
        if (c.rc == 0) {
            EXPECT_EQ(reply.size(), c.reply.size()) << c.what;
            EXPECT_TRUE(reply == c.reply) << c.what;
        }
    }
}

// A short chunk ending in ")" with a token still open is not the end: the
// rest, sent well within the quiet wait, belongs to the same reply.
TEST_F(SocketRules, ShortChunkStillOpenWaitsForTheRest)
{
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        platform::sendAll(peer_, ")", 1);
    });
    std::string reply;
    EXPECT_EQ(run("R=(n=00000000)(s=(x)", false, &reply), 0);
    late.join();
    EXPECT_EQ(reply, "R=(n=00000000)(s=(x))");
}

// ---- Against the fake server: replies ending early, the lifecycle ----------

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = std::make_unique<FakeServer>("127.0.0.2");
        ASSERT_TRUE(server_->isListening()) << "cannot listen on 127.0.0.2";
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        listener::stopListener();
        server_.reset();
    }
    std::unique_ptr<FakeServer> server_;
};

const std::string kCount = calls::TestCase_Count_Get.name;
const std::string kItem = calls::Protocol_Results_GetResultItem.name;

TEST_F(Lifecycle, ShortChunkEndingInParenthesisEndsTheReply)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    // The second value comes too late: the reply ended after the first.
    server_->push(test::inPieces({kItem + "=(n=00000000)(d=000000000000f03f)", "(d=0000000000000040)"}, 300));
    double first = 0, second = -1;
    EXPECT_EQ(tqBsePluginControlDll_Protocol_Results_GetResultItem(4, 5, &first, &second), -11);
    EXPECT_EQ(first, 1.0);
    EXPECT_EQ(second, -1);
    // The late piece would be read as the next reply: reconnect.
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
}

TEST_F(Lifecycle, ServerClosingRightAfterACompleteReplyEndsTheConnection)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    server_->push(test::thenClose(kCount + "=(n=00000000)(n=05000000)"));
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
}

TEST_F(Lifecycle, ExportBeforeInitialiseSendsNothing)
{
    ClientSocket::destroy(); // as at process start
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), -14);
    int32_t status = 99;
    EXPECT_EQ(tqBsePluginControlDll_ConnectionStatus_Get(&status), -14);
    int32_t version[4] = {9, 9, 9, 9};
    EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(version), -14);
    EXPECT_EQ(count, 99);
    EXPECT_EQ(status, 99);
    EXPECT_EQ(version[0], 9);
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
              (std::vector<std::string>{"tqBsePluginControlDll_RemoteConnection_Set=(n=ffffffff)",
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
    const test::RefusingPort refusing("127.0.0.3", server_->port());
    ASSERT_TRUE(refusing.isHeld());
    testing::internal::CaptureStdout();
    const int32_t rc = tqBsePluginControlDll_Initialise(127, 0, 0, 3);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -14);
    EXPECT_THAT(out, testing::HasSubstr("connect() failed: " + std::to_string(test::kConnectionRefusedError) + "\n"));
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
    const test::RefusingPort refusing("127.0.0.3", server_->port());
    ASSERT_TRUE(refusing.isHeld());
    testing::internal::CaptureStdout();
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), -14);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("connect() failed: "));
    EXPECT_FALSE(ClientSocket::instance().isConnected());
    EXPECT_EQ(server_->requests().size(), 2u);
}

} // namespace
