// The benchmark's server, workloads and raw client, and the library's bulk
// paths against them: the figures are only worth something if both sides
// move the same, correct bytes.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "bench/canned_server.h"
#include "bench/workloads.h"
#include "client/call_remote.h"
#include "client/client_socket.h"
#include "protocol/codec.h"
#include "protocol/rows/lte_results.h"
#include "protocol/rows/rf_settings.h"
#include "protocol/rows/scenarios.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::bench {
namespace {

// The test servers take a free port on their own address: nothing else on
// the host can hold it, and no other test waits for it.
constexpr char kTestAddress[] = "127.0.0.41";
constexpr uint16_t kAnyPort = 0;
constexpr int kTimeoutMs = 5000;

// A request is answered once it is complete by its row (protocol/framer.h),
// however its bytes arrive.
TEST(CannedServerTest, AnswersARequestThatArrivesInPieces)
{
    CannedServer server(kTestAddress, kAnyPort);
    registerWorkloads(server, {}, {});
    ASSERT_TRUE(server.start()) << server.error();
    const CannedExchange e = rxSetExchange();
    RawClient client;
    ASSERT_TRUE(client.connect(kTestAddress, server.port(), kTimeoutMs));
    // The first token alone, and the first byte of the second, are not yet
    // the request: nothing is answered until the rest arrives.
    const std::size_t cut = e.request.find(")(") + 2;
    ASSERT_EQ(platform::sendAll(client.socket(), e.request.data(), cut), 0);
    EXPECT_FALSE(platform::waitReadable(client.socket(), 150));
    std::string reply(e.reply.size(), '\0');
    ASSERT_TRUE(client.roundTrip(e.request.substr(cut), reply.data(), reply.size()));
    EXPECT_EQ(reply, e.reply);
    // Unknown requests are answered -8 as soon as their token closes.
    const std::string unknown = "X=(n=01000000)";
    const std::string expected = "X=(n=f8ffffff)";
    std::string rejected(expected.size(), '\0');
    ASSERT_TRUE(client.roundTrip(unknown, rejected.data(), expected.size()));
    EXPECT_EQ(rejected, expected);
    server.stop();
    EXPECT_EQ(server.served(), 2u);
}

TEST(CannedServerTest, AnswersRegisteredRequestsAndRejectsOthers)
{
    CannedServer server(kTestAddress, kAnyPort);
    server.add("A=(n=01000000)", "A=(n=00000000)(n=05000000)");
    std::string scratch;
    EXPECT_EQ(server.replyFor("A=(n=01000000)", scratch), "A=(n=00000000)(n=05000000)");
    EXPECT_EQ(server.replyFor("A=(n=02000000)", scratch), "A=(n=f8ffffff)");
    EXPECT_EQ(server.replyFor("Other=", scratch), "Other=(n=f8ffffff)");
}

TEST(CannedServerTest, RefusesNonLoopbackAddresses)
{
    CannedServer server("10.0.0.1", kServerPort);
    EXPECT_FALSE(server.start());
    EXPECT_EQ(server.error(), "not a loopback address");
    RawClient client;
    EXPECT_FALSE(client.connect("10.0.0.1", kServerPort, kTimeoutMs));
}

// Benchmarks open a connection per run: far more, one after another, than
// may be open at once.
TEST(CannedServerTest, ServesManyConnectionsInTurn)
{
    CannedServer server(kTestAddress, kAnyPort);
    registerWorkloads(server, {}, {});
    ASSERT_TRUE(server.start()) << server.error();
    const CannedExchange e = rxGetExchange();
    for (int i = 0; i < 150; ++i) {
        RawClient client;
        ASSERT_TRUE(client.connect(kTestAddress, server.port(), kTimeoutMs)) << i;
        std::string reply(e.reply.size(), '\0');
        ASSERT_TRUE(client.roundTrip(e.request, reply.data(), reply.size())) << i;
        ASSERT_EQ(reply, e.reply) << i;
    }
    server.stop(); // joins the server thread, so the count is final
    EXPECT_EQ(server.served(), 150u);
}

TEST(WorkloadTest, ScenarioTextIsExactAndCutsCleanly)
{
    for (std::size_t bytes : {std::size_t(1), std::size_t(4040), std::size_t(100000)}) {
        const std::string text = scenarioText(bytes);
        ASSERT_EQ(text.size(), bytes);
        EXPECT_EQ(text.find_first_of(std::string("()\0", 3)), std::string::npos);
        const CannedExchange e = scenarioExchange(bytes);
        EXPECT_EQ(e.reply, "tqBsePluginControlDll_Scenario_Download=(n=00000000)(s=" + text + ")");
        EXPECT_EQ(e.request.rfind("tqBsePluginControlDll_Scenario_Download=(s=" + scenarioName(bytes) + ")", 0), 0u);
    }
}

TEST(WorkloadTest, TraceReplyDecodesToTheTraceValues)
{
    const CannedExchange e = traceExchange(500);
    const codec::SplitMessage m = codec::splitMessage(e.reply);
    ASSERT_EQ(m.params.size(), 3u);
    std::vector<double> x, y;
    ASSERT_EQ(codec::decodeDoubleArray(m.params[1], &x), codec::kOk);
    ASSERT_EQ(codec::decodeDoubleArray(m.params[2], &y), codec::kOk);
    ASSERT_EQ(x.size(), 500u);
    ASSERT_EQ(y.size(), 500u);
    for (int32_t i = 0; i < 500; ++i) {
        EXPECT_EQ(x[std::size_t(i)], traceX(i));
        EXPECT_EQ(y[std::size_t(i)], traceY(i));
    }
    EXPECT_EQ(e.request, "tqBsePluginControlDll_LTE_Results_GetTrace=(n=07000000)(n=f4010000)(n=f4010000)");
}

// The room the library sets aside for a bulk reply holds the whole reply, so
// it is received into one allocation; a small call sets none aside.
TEST(WorkloadTest, ReplySizeBoundHoldsEveryBulkReply)
{
    for (std::size_t bytes : {std::size_t(0), std::size_t(100), std::size_t(5000), std::size_t(1) << 20}) {
        const std::string name = scenarioName(bytes);
        const ArgValue args[] = {ArgValue(name.c_str()), ArgValue(int32_t(name.size())),
                                 ArgValue(static_cast<char*>(nullptr)), ArgValue(int32_t(bytes + 1))};
        EXPECT_GE(replySizeBound(calls::Scenario_Download, args), scenarioExchange(bytes).reply.size()) << bytes;
    }
    for (int32_t points : {0, 1, 1000, 100000}) {
        const ArgValue args[] = {ArgValue(kTraceHandle), ArgValue(points), ArgValue(static_cast<double*>(nullptr)),
                                 ArgValue(static_cast<double*>(nullptr)), ArgValue(points)};
        EXPECT_GE(replySizeBound(calls::LTE_Results_GetTrace, args), traceExchange(points).reply.size()) << points;
    }
    const ArgValue get[] = {ArgValue(kRxIndex), ArgValue(static_cast<double*>(nullptr))};
    EXPECT_GE(replySizeBound(calls::RX_CentreFrequency_Get, get), rxGetExchange().reply.size());
    EXPECT_LT(replySizeBound(calls::RX_CentreFrequency_Get, get), 4096u);
    // A capacity near the limit of int32_t does not overflow the bound.
    const ArgValue huge[] = {ArgValue(kTraceHandle), ArgValue(0), ArgValue(static_cast<double*>(nullptr)),
                             ArgValue(static_cast<double*>(nullptr)), ArgValue(int32_t(2147483647))};
    EXPECT_GT(uint64_t(replySizeBound(calls::LTE_Results_GetTrace, huge)), uint64_t(2147483647));
}

// The library and the raw client against one server, over loopback.
class BulkOverLoopbackTest : public ::testing::Test {
protected:
    // Reply sizes around the 4096-byte receive: one short chunk, exactly
    // one and two full chunks, one byte over, and many chunks.
    static constexpr std::size_t kOverhead = 56; // name, "=", result token, "(s=" and ")"
    const std::vector<std::size_t> sizes_{100, 4096 - kOverhead, 8192 - kOverhead, 4097 - kOverhead, 1u << 20};
    const std::vector<int32_t> points_{0, 1, 1000, 50000};

    void SetUp() override
    {
        registerWorkloads(server_, sizes_, points_);
        ASSERT_TRUE(server_.start()) << "cannot serve " << kTestAddress << ": " << server_.error();
        ClientSocket& socket = ClientSocket::instance();
        socket.setAddress(127, 0, 0, 41);
        ASSERT_EQ(socket.connectToServer(server_.port()), 0);
    }
    void TearDown() override
    {
        ClientSocket::instance().close();
        ClientSocket::destroy();
        server_.stop();
    }

    CannedServer server_{kTestAddress, kAnyPort};
};

TEST_F(BulkOverLoopbackTest, ScenarioDownloadDeliversEveryByte)
{
    for (std::size_t bytes : sizes_) {
        const std::string name = scenarioName(bytes);
        ASSERT_EQ(scenarioExchange(bytes).reply.size(), bytes + kOverhead);
        std::vector<char> buffer(bytes + 1, 'x');
        ASSERT_EQ(tqBsePluginControlDll_Scenario_Download(name.c_str(), int32_t(name.size()), buffer.data(),
                                                          int32_t(buffer.size())),
                  0)
            << bytes;
        EXPECT_EQ(std::string(buffer.data()), scenarioText(bytes)) << bytes;
    }
}

TEST_F(BulkOverLoopbackTest, TraceDeliversEveryValue)
{
    for (int32_t points : points_) {
        std::vector<double> x(std::size_t(points) + 1, -1.0), y(std::size_t(points) + 1, -1.0);
        ASSERT_EQ(tqBsePluginControlDll_LTE_Results_GetTrace(kTraceHandle, points, x.data(), y.data(), points), 0)
            << points;
        for (int32_t i = 0; i < points; ++i) {
            ASSERT_EQ(x[std::size_t(i)], traceX(i)) << points << " " << i;
            ASSERT_EQ(y[std::size_t(i)], traceY(i)) << points << " " << i;
        }
        EXPECT_EQ(x[std::size_t(points)], -1.0); // nothing past the count
    }
}

TEST_F(BulkOverLoopbackTest, SmallCallsAndRawClientSeeTheSameReplies)
{
    double frequency = 0;
    EXPECT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Set(kRxIndex, kRxFrequency), 0);
    EXPECT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Get(kRxIndex, &frequency), 0);
    EXPECT_EQ(frequency, kRxFrequency);

    RawClient raw;
    ASSERT_TRUE(raw.connect(kTestAddress, server_.port(), kTimeoutMs));
    for (const CannedExchange& e : {rxSetExchange(), rxGetExchange(), scenarioExchange(1u << 20)}) {
        std::string reply(e.reply.size(), '\0');
        ASSERT_TRUE(raw.roundTrip(e.request, reply.data(), reply.size()));
        EXPECT_EQ(reply, e.reply);
    }
    server_.stop();
    EXPECT_EQ(server_.served(), 5u);
}

} // namespace
} // namespace tqbse::bench
