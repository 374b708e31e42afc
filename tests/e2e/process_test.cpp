// The emulator as a program: fault options seen through the library, the
// scenario-end callback and the example configuration. A wrong reply name
// and missing outputs are raised through the Python package
// (python/tests/test_calls.py).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
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
        {{"--token-pieces", "30"}, 0},
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
