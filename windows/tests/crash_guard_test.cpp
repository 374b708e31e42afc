// The Windows test main turns a crash into a failing status: the test runs
// its own program again with a filter that selects a test which crashes,
// and checks how that child ended.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "windows/tests/crash_status.h"

namespace {

// Runs this program with `arguments`; its exit status, or -1.
long runSelf(const std::string& arguments)
{
    char path[MAX_PATH] = {};
    if (::GetModuleFileNameA(nullptr, path, MAX_PATH) == 0)
        return -1;
    std::string command = std::string("\"") + path + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD status = 0;
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 1);
        status = DWORD(-1);
    } else {
        ::GetExitCodeProcess(process.hProcess, &status);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return long(status);
}

TEST(WindowsTestMain, AnUnhandledCrashEndsTheProgramWithTheCrashStatus)
{
    EXPECT_EQ(runSelf("--gtest_filter=CrashChild.DISABLED_AccessViolation --gtest_also_run_disabled_tests"),
              long(tqbse::test::kCrashStatus));
    EXPECT_EQ(runSelf("--gtest_filter=CrashChild.DISABLED_Passes --gtest_also_run_disabled_tests"), 0);
}

// Run only as the child above (disabled in a normal run).
TEST(CrashChild, DISABLED_AccessViolation)
{
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

TEST(CrashChild, DISABLED_Passes) {}

} // namespace
