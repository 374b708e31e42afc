// The client connection against a fake server on 127.0.0.2: the end-of-reply
// rules that need a socket (the quiet wait, the end of the stream), a reply
// cut by a late piece, a server closing after a reply, and the connection's
// lifecycle. The chunk rules themselves are in the framer test; replies cut,
// dripped and with odd bytes are in the hardening faults test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "client/server_connection.h"
#include "client/session.h"
#include "listener/listener.h"
#include "platform/host.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;
using test::FakeServer;
using test::ScriptedReply;

namespace {

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

// One raw exchange for a reply of `tokens` tokens; a hung one is freed by
// stopping the server and counts as -99.
int exchangeWithin3s(FakeServer& server, std::string* reply, int tokens)
{
    auto future = std::async(std::launch::async, [reply, tokens] {
        ServerConnection& connection = defaultSession().connection;
        const int rc = connection.exchange("Q=(n=01000000)", ReplyLimits{tokens, SIZE_MAX, "Q"});
        *reply = connection.reader().reply();
        return rc;
    });
    if (future.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        server.stop();
        future.wait();
        return -99;
    }
    return future.get();
}

// A reply of exactly one receive chunk ending in a balanced ")" but short of
// a token ends after a quiet wait, or at once when the stream ends; bytes
// behind it continue it. The end of the stream before a reply is complete
// is a failure.
TEST_F(Lifecycle, EndOfReplyRulesThatNeedASocket)
{
    std::string full = "R=(n=00000000)(s=";
    full += std::string(4096 - full.size() - 1, 'a') + ")";
    const std::string notParen(4096, 'y');
    struct Case {
        const char* what;
        ScriptedReply sent;
        int rc;
    };
    const std::vector<Case> cases = {
        {"full chunk, balanced, then quiet", full, 0},
        {"full chunk, balanced, more already waiting", full + "(n=01000000)", 0},
        {"full chunk, balanced, more 20 ms later", test::inPieces({full, "(n=01000000)"}, 20), 0},
        {"short chunk, a token still open, the rest 20 ms later", test::inPieces({"R=(n=00000000)(s=(x)", ")"}, 20), 0},
        {"closed right after a balanced full chunk", test::thenClose(full), 0},
        {"closed mid-reply", ScriptedReply("R=(n=00000000)", {}, 0, 8), -1},
        {"closed after a full chunk without )", test::thenClose(notParen), -1},
        {"closed before any byte", ScriptedReply("R=", {}, 0, 0), -1},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
        server_->push(c.sent);
        std::string reply;
        EXPECT_EQ(exchangeWithin3s(*server_, &reply, 3), c.rc) << c.what;
        EXPECT_EQ(server_->lastRequest(), "Q=(n=01000000)") << c.what;
        if (c.rc == 0) {
            EXPECT_TRUE(reply == c.sent.text) << c.what << ": " << reply.size() << " bytes";
        }
    }
}


// A full chunk that holds every token the call reads does not end the reply:
// a server that sends more tokens than the call reads (a newer one), the
// extra ones 40 ms later, has its whole reply taken by this call, and the
// next call gets its own reply on the same connection (not this one's tail,
// -10). A reply of exactly one or two chunks ends after the quiet wait.
TEST_F(Lifecycle, AFullChunkNeverEndsAReplyByItself)
{
    const std::string name = calls::TestCase_Name_Get.name;
    const auto fill = [&](std::size_t size) {
        std::string reply = name + "=(n=00000000)(s=";
        return reply + std::string(size - reply.size() - 1, 'a') + ")";
    };
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    for (const std::size_t size : {std::size_t(4096), std::size_t(8192)}) {
        const std::string first = fill(size);
        server_->push(test::inPieces({first, "(n=07000000)(s=extra)"}, 40));
        std::vector<char> buffer(size);
        EXPECT_EQ(tqBsePluginControlDll_TestCase_Name_Get(0, buffer.data(), int32_t(size)), 0) << size;
        EXPECT_EQ(std::string(buffer.data()), std::string(size - name.size() - 17, 'a')) << size;

        server_->push(kCount + "=(n=00000000)(n=05000000)");
        int32_t count = 0;
        EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0) << size;
        EXPECT_EQ(count, 5) << size;

        // Exactly a full chunk or two, nothing behind: whole after the quiet wait.
        server_->push(fill(size));
        EXPECT_EQ(tqBsePluginControlDll_TestCase_Name_Get(0, buffer.data(), int32_t(size)), 0) << size;
        EXPECT_EQ(std::string(buffer.data()).size(), size - name.size() - 17) << size;
    }
    EXPECT_EQ(server_->connections(), 1);
}

// A reply short of an output ends after the quiet wait (-11); what arrives
// after that is discarded before the call returns, so the next call gets its
// own reply on the same connection. The rest comes 150 ms after the first
// piece: 50 ms after the call's quiet wait ends, 50 ms before the wait that
// brings the connection back in step would.
TEST_F(Lifecycle, AReplyShortOfAnOutputEndsQuietAndTheConnectionIsBackInStep)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    server_->push(test::inPieces({kItem + "=(n=00000000)(d=000000000000f03f)", "(d=0000000000000040)"}, 150));
    double first = 0, second = -1;
    EXPECT_EQ(tqBsePluginControlDll_Protocol_Results_GetResultItem(4, 5, &first, &second), -11);
    EXPECT_EQ(first, 1.0);
    EXPECT_EQ(second, -1);
    server_->push(kCount + "=(n=00000000)(n=05000000)");
    int32_t count = 0;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(server_->connections(), 1);
}

// A negative result followed by a text token (the emulator's reason for the
// refusal, one token more than a failure carries): the call returns exactly
// the server's code and writes nothing, and the connection stays in step.
TEST_F(Lifecycle, ATextTokenAfterANegativeResultLeavesTheCodeAlone)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    for (const std::string& reason : {std::string("(s=unknown results handle 4)"), std::string("(s=a [b] c)(s=more)")}) {
        server_->push(kItem + "=(n=eeffffff)" + reason);
        double first = -1, second = -1;
        EXPECT_EQ(tqBsePluginControlDll_Protocol_Results_GetResultItem(4, 0, &first, &second), -18) << reason;
        EXPECT_EQ(first, -1);
        EXPECT_EQ(second, -1);
        server_->push(kCount + "=(n=00000000)(n=05000000)");
        int32_t count = 0;
        EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0) << reason;
        EXPECT_EQ(count, 5);
    }
    EXPECT_EQ(server_->connections(), 1);
}

TEST_F(Lifecycle, ServerClosingRightAfterACompleteReplyEndsTheConnection)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    server_->push(test::thenClose(kCount + "=(n=00000000)(n=05000000)"));
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    EXPECT_EQ(server_->connections(), 1); // no reconnecting behind the caller's back
}

TEST_F(Lifecycle, ExportBeforeInitialiseSendsNothing)
{
    defaultSession().connection.reset(); // as at process start
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    int32_t version[4] = {9, 9, 9, 9};
    EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(version), -14);
    EXPECT_EQ(count, 99);
    EXPECT_EQ(version[0], 9);
    EXPECT_EQ(defaultSession().connection.addressText(), "127.0.0.1");
    EXPECT_EQ(server_->connections(), 0);
}

TEST_F(Lifecycle, InitialiseAnnouncesAndShutdownSaysGoodbye)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    EXPECT_EQ(defaultSession().connection.addressText(), "127.0.0.2");
    EXPECT_TRUE(defaultSession().connection.isConnected());
    EXPECT_EQ(tqBsePluginControlDll_Shutdown(), 0);
    EXPECT_EQ(server_->requests(),
              (std::vector<std::string>{"tqBsePluginControlDll_RemoteConnection_Set=(n=ffffffff)",
                                       "tqBsePluginControlDll_RemoteConnection_Set=(n=00000000)"}));

    // A fresh, unconnected instance afterwards.
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    EXPECT_EQ(defaultSession().connection.addressText(), "127.0.0.1");
    EXPECT_EQ(server_->requests().size(), 2u);

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
    EXPECT_TRUE(defaultSession().connection.isConnected());
}

TEST_F(Lifecycle, BadOctetChangesNothing)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    const std::size_t requests = server_->requests().size();
    const int32_t bad[][4] = {{127, 0, 0, 256}, {-1, 0, 0, 2}, {127, 0, 300, 2}, {127, -5, 0, 2}};
    for (const auto& o : bad)
        EXPECT_EQ(tqBsePluginControlDll_Initialise(o[0], o[1], o[2], o[3]), -16);
    EXPECT_EQ(defaultSession().connection.addressText(), "127.0.0.2");
    EXPECT_EQ(server_->requests().size(), requests);
    server_->push(kCount + "=(n=00000000)(n=04000000)"); // the connection still works
    int32_t count = 0;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(server_->connections(), 1);

    // 0 and 255 are octets like any other.
    const FakeServer edges("127.255.0.255");
    ASSERT_TRUE(edges.isListening()) << "cannot listen on 127.255.0.255";
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 255, 0, 255), 0);
    EXPECT_EQ(defaultSession().connection.addressText(), "127.255.0.255");
    EXPECT_EQ(edges.connections(), 1);
}

// A second Initialise connects again; one to an address where nothing
// listens prints the failure, drops the old connection and the listener,
// and every call then fails without touching its outputs.
TEST_F(Lifecycle, SecondInitialiseReplacesTheConnectionAndAFailedOneDropsIt)
{
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 2), 0);
    EXPECT_EQ(server_->connections(), 2);
    const test::RefusingPort refusing("127.0.0.3", server_->port());
    ASSERT_TRUE(refusing.isHeld());
    testing::internal::CaptureStdout();
    EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), -14);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                testing::HasSubstr("connect() failed: " + std::to_string(test::kConnectionRefusedError) + "\n"));
    EXPECT_EQ(defaultSession().connection.addressText(), "127.0.0.3");
    EXPECT_FALSE(defaultSession().connection.isConnected());
    EXPECT_EQ(listener::listenerState(), listener::ListenerState::None);
    int32_t count = 99;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), -14);
    EXPECT_EQ(count, 99);
    EXPECT_EQ(server_->requests().size(), 2u);
}

// TQBSE_DIAGNOSTICS, read at each Initialise, moves the socket layer's texts
// to standard error or silences them; an unknown value is said once on
// standard error and standard output kept.
TEST_F(Lifecycle, DiagnosticsGoWhereTheHostSays)
{
    const test::RefusingPort refusing("127.0.0.3", server_->port());
    ASSERT_TRUE(refusing.isHeld());
    const std::string failed = "connect() failed: " + std::to_string(test::kConnectionRefusedError) + "\n";
    struct Case {
        const char* setting;
        std::string out, err;
    };
    const std::string unknown = "tqBsePluginControlDll: TQBSE_DIAGNOSTICS=\"loud\" is not stdout, stderr or off; "
                                "diagnostics go to standard output\n";
    const std::vector<Case> cases = {
        {"stderr", "", failed},
        {"off", "", ""},
        {"loud", failed, unknown},
        {"loud", failed, ""}, // said once only
        {"", failed, ""},
        {"stdout", failed, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(platform::setEnvironment("TQBSE_DIAGNOSTICS", c.setting), 0);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), -14) << c.setting;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.setting;
        EXPECT_EQ(out, c.out) << c.setting;
    }
    ASSERT_EQ(platform::setEnvironment("TQBSE_DIAGNOSTICS", ""), 0);
}

} // namespace
