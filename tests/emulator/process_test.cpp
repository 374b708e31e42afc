// The emulator as a program: fault options seen through the library, the
// scenario-end callback and the example configuration. A wrong reply name
// and missing outputs are raised through the Python package
// (python/tests/test_calls.py).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "protocol/ports.h"
#include "support/process.h"
#include "support/sockets.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

// The emulator runs on 127.0.0.10 (EmulatorProcess's address).
int32_t initialise() { return tqBsePluginControlDll_Initialise(127, 0, 0, 10); }

// Each fault option on RX_CentreFrequency_Get alone, seen through the
// library: the code it gives, and the output left alone on a failure.
TEST(EmulatorProcess, FaultOptionsGiveTheMatchingCode)
{
    const struct {
        std::vector<std::string> options;
        int32_t code;
    } cases[] = {
        {{"--close-after", "0"}, -14},
        {{"--close-mid-reply"}, -14},
        {{"--bad-hex"}, -6},
        {{"--piece-size", "3", "--piece-pause-ms", "5"}, 0},
        {{"--delay-ms", "150"}, 0},
        {{"--token-pieces", "10"}, 0},
        {{"--send-twice"}, 0},
        {{"--endless-text"}, -14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0]);
        EmulatorProcess emulator;
        std::vector<std::string> args{"--fault-call", "RX_CentreFrequency_Get"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::string error;
        ASSERT_TRUE(emulator.start(args, &error)) << error;
        ASSERT_EQ(initialise(), 0);
        ASSERT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Set(0, 1.5e9), 0); // other calls are not affected
        double f = -1;
        const int32_t code = tqBsePluginControlDll_RX_CentreFrequency_Get(0, &f);
        EXPECT_EQ(code, c.code) << emulator.log();
        EXPECT_EQ(f, code == 0 ? 1.5e9 : -1);
        tqBsePluginControlDll_Shutdown();
    }
}

// One connection to the emulator, without the library: requests go out in
// the pieces given, `pauseMs` apart; the reply is read until it ends in ")"
// and nothing more comes for 300 ms.
std::string rawExchange(const std::vector<std::string>& pieces, int pauseMs)
{
    platform::socketLibraryStartup();
    const platform::SocketHandle s = platform::openTcpSocket();
    std::string reply;
    if (s != platform::kInvalidSocket && platform::setTimeouts(s, kSocketTimeoutMs) == 0
        && platform::connectWithTimeout(s, endpoint("127.0.0.10", serverPort()), kSocketTimeoutMs) == 0) {
        for (const std::string& piece : pieces) {
            platform::sendAll(s, piece.data(), piece.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        char chunk[4096];
        for (int n = 0; n < 1000 && platform::waitReadable(s, reply.ends_with(")") ? 300 : 3000); ++n) {
            const int64_t got = platform::receiveSome(s, chunk, sizeof chunk);
            if (got <= 0)
                break;
            reply.append(chunk, std::size_t(got));
        }
    }
    if (s != platform::kInvalidSocket)
        platform::closeSocket(s);
    platform::socketLibraryCleanup();
    return reply;
}

// How the emulator finds the end of a request on its socket: a request in
// pieces is answered once, whole; one a token short (a text left out for its
// limit) is taken after the quiet wait and refused (-9), not waited for.
TEST(EmulatorProcess, RequestsInPiecesOrATokenShortAreAnsweredOnce)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({}, &error)) << error;
    const std::string set = "tqBsePluginControlDll_RX_CentreFrequency_Set=";
    EXPECT_EQ(rawExchange({set + "(n=000", "00000)(d=0000000065cd", "cd41)"}, 60), set + "(n=00000000)");
    const std::string upload = "tqBsePluginControlDll_Scenario_Upload=";
    EXPECT_EQ(rawExchange({upload + "(s=name)"}, 0), upload + "(n=f7ffffff)");
}

// The example configuration is served, and a scenario from it calls the
// client back when it ends.
TEST(EmulatorProcess, ExampleConfigIsServedAndScenarioEndCallsTheClientBack)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({"--config", TQBSE_EXAMPLE_CONFIG, "--callback-on-scenario-end", "--scenario-ms", "100"},
                               &error))
        << error;
    ASSERT_EQ(initialise(), 0); // starts the library's listener on the emulator's --callback-port
    int32_t count = 0, length = 0, handle = 0;
    char name[64] = {};
    ASSERT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(tqBsePluginControlDll_TestCase_Name_Get(2, name, 64), 0);
    EXPECT_STREQ(name, "Cell_Reselection");
    ASSERT_EQ(tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(2, 1), 0); // three paths
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetHandle(&handle), 0);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetTraceLength(handle, 1, &length), 0);
    EXPECT_EQ(length, 2048);
    ASSERT_EQ(tqBsePluginControlDll_Scenario_Execute("Power_Sweep", 100), 0);
    // The library's default handler answers every callback message with -8.
    const std::string answered = "answered: ScenarioFinished=(n=f8ffffff)";
    for (int i = 0; i < 250 && emulator.log().find(answered) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(emulator.log().find(answered), std::string::npos) << emulator.log();
    tqBsePluginControlDll_Shutdown();
}

} // namespace
} // namespace tqbse::test
