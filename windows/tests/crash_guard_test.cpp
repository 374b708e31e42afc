// The Windows test main turns a crash into a failing status: the test runs
// its own program again with a filter that selects a test which crashes,
// and checks how that child ended.
#include <gtest/gtest.h>

#include "windows/tests/crash_status.h"
#include "windows/tests/process.h"

namespace {

TEST(WindowsTestMain, AnUnhandledCrashEndsTheProgramWithTheCrashStatus)
{
    using tqbse::test::runSelf;
    const char* child = " --gtest_also_run_disabled_tests";
    EXPECT_EQ(runSelf(std::string("--gtest_filter=CrashChild.DISABLED_AccessViolation") + child, 60000),
              long(tqbse::test::kCrashStatus));
    EXPECT_EQ(runSelf(std::string("--gtest_filter=CrashChild.DISABLED_Passes") + child, 60000), 0);
}

// Run only as the child above (disabled in a normal run).
TEST(CrashChild, DISABLED_AccessViolation)
{
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

TEST(CrashChild, DISABLED_Passes) {}

} // namespace
