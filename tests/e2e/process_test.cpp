// The emulator as a program: fault injection seen through the library, the
// scenario-end callback and the example configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

// The emulator runs on 127.0.0.10 (EmulatorProcess's address).
int32_t initialise() { return tqBsePluginControlDll_Initialise(127, 0, 0, 10); }

struct FaultCase {
    const char* label;
    std::vector<std::string> options;
    int32_t code; // what RX_CentreFrequency_Get returns under the fault
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.label; }

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, LibraryReturnsTheMatchingCode)
{
    EmulatorProcess emulator;
    std::vector<std::string> args{"--fault-call", "RX_CentreFrequency_Get"};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    std::string error;
    ASSERT_TRUE(emulator.start(args, &error)) << error;
    ASSERT_EQ(initialise(), 0); // other calls are not affected

    ASSERT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Set(0, 1.5e9), 0);
    double f = -1;
    const int32_t code = tqBsePluginControlDll_RX_CentreFrequency_Get(0, &f);
    EXPECT_EQ(code, GetParam().code) << emulator.log();
    if (code == 0)
        EXPECT_EQ(f, 1.5e9);
    else
        EXPECT_EQ(f, -1);
    tqBsePluginControlDll_Shutdown();
    emulator.stop();
}

INSTANTIATE_TEST_SUITE_P(
    Emulator, Faults,
    ::testing::Values(FaultCase{"CloseAfter", {"--close-after", "0"}, -14},
                      FaultCase{"CloseMidReply", {"--close-mid-reply"}, -14},
                      FaultCase{"WrongName", {"--wrong-name"}, -10},
                      FaultCase{"MissingOutputs", {"--missing-outputs"}, -11},
                      FaultCase{"BadHex", {"--bad-hex"}, -6},
                      FaultCase{"SmallPieces", {"--piece-size", "3", "--piece-pause-ms", "5"}, 0},
                      FaultCase{"Delay", {"--delay-ms", "150"}, 0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.label); });

TEST(EmulatorProcess, ScenarioEndCallsTheClientBack)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({"--callback-on-scenario-end", "--scenario-ms", "100"}, &error)) << error;
    ASSERT_EQ(initialise(), 0); // starts the library's listener on the emulator's --callback-port
    ASSERT_EQ(tqBsePluginControlDll_Scenario_Execute("Idle_Camping", 100), 0);
    // The library's default handler answers every callback message with -8.
    EXPECT_TRUE(emulator.waitForLog("answered: ScenarioFinished=(n=f8ffffff)", 5000)) << emulator.log();
    tqBsePluginControlDll_Shutdown();
}

TEST(EmulatorProcess, ExampleConfigIsServed)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({"--config", TQBSE_EXAMPLE_CONFIG}, &error)) << error;
    ASSERT_EQ(initialise(), 0);
    int32_t count = 0, length = 0;
    ASSERT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 3);
    char name[64] = {};
    ASSERT_EQ(tqBsePluginControlDll_TestCase_Name_Get(2, name, 64), 0);
    EXPECT_STREQ(name, "Cell_Reselection");
    ASSERT_EQ(tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(2, 1), 0); // three paths
    int32_t handle = 0;
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetHandle(&handle), 0);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetTraceLength(handle, 1, &length), 0);
    EXPECT_EQ(length, 2048);
    tqBsePluginControlDll_Shutdown();
}

} // namespace
} // namespace tqbse::test
