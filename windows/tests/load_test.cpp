// The DLL as a host loads it at run time: LoadLibrary, GetProcAddress and
// FreeLibrary while the callback listener runs. Nothing may wait under the
// loader lock, so FreeLibrary must return; it is checked with a bound so
// that a hang fails the test instead of stopping the suite. The emulator
// runs on port 6002 of TQBSE_TEST_EMULATOR_OCTETS (a ctest fixture); the
// listener uses the fixed port 6009. The test's own sockets go through the
// platform layer, linked into this program (the DLL has a copy of its own).
#include "platform/host.h"
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace tqbse::platform;

constexpr wchar_t kDll[] = L"tqBsePluginControlDll.dll";
constexpr int kOctets[4] = {TQBSE_TEST_EMULATOR_OCTETS};
constexpr uint16_t kListenerPort = 6009;

using InitialiseFn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);
using ShutdownFn = int32_t (*)();

template <typename Fn>
Fn entry(HMODULE dll, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
}

// FreeLibrary on a helper thread, so that a hang under the loader lock is
// seen as a failure after `limitMs` rather than blocking the test for ever.
// A thread procedure is WINAPI (__stdcall on i686), which a lambda is not.
DWORD WINAPI freeLibraryThread(LPVOID dll)
{
    return ::FreeLibrary(static_cast<HMODULE>(dll)) ? 0 : 1;
}

bool freeLibraryWithin(HMODULE dll, DWORD limitMs)
{
    const HANDLE thread = ::CreateThread(nullptr, 0, freeLibraryThread, dll, 0, nullptr);
    if (thread == nullptr)
        return false;
    const bool returned = ::WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
    DWORD status = 1;
    ::GetExitCodeThread(thread, &status);
    ::CloseHandle(thread);
    return returned && status == 0;
}

// The listener's reply to "Ping=()" on 127.0.0.1:6009, or "" when nothing
// answers within a few seconds. Tried `attempts` times, 100 ms apart: the
// listener answers once its thread has bound the port.
std::string ping(int attempts = 1)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0)
            ::Sleep(100);
        const SocketHandle s = openTcpSocket();
        setTimeouts(s, 3000);
        char reply[512];
        int64_t n = -1;
        if (connectWithTimeout(s, {kLoopbackAddress, kListenerPort}, 3000) == 0 && sendAll(s, "Ping=()", 7) == 0)
            n = receiveSome(s, reply, sizeof reply);
        closeSocket(s);
        if (n > 0)
            return std::string(reply, std::size_t(n));
    }
    return "";
}

TEST(WindowsLoadLibrary, FreeLibraryReturnsWhileTheListenerRunsAndItsCodeStaysLoaded)
{
    ASSERT_EQ(socketLibraryStartup(), 0);
    // Then the DLL's listener could not bind and its answers could not be
    // told apart; the stage runs the test again once the port is free.
    if (isListening(kListenerPort))
        GTEST_SKIP() << "another program listens on port 6009";
    const HMODULE dll = ::LoadLibraryW(kDll);
    ASSERT_NE(dll, nullptr) << ::GetLastError();
    const auto initialise = entry<InitialiseFn>(dll, "tqBsePluginControlDll_Initialise");
    const auto shutdown = entry<ShutdownFn>(dll, "tqBsePluginControlDll_Shutdown");
    ASSERT_TRUE(initialise && shutdown);
    ASSERT_EQ(initialise(kOctets[0], kOctets[1], kOctets[2], kOctets[3]), 0);
    EXPECT_EQ(ping(50).rfind("Ping=", 0), 0u) << "no answer from the DLL's listener";
    EXPECT_TRUE(isListening(kListenerPort));
    EXPECT_EQ(shutdown(), 0);

    // The listener thread holds the DLL: FreeLibrary returns, the code the
    // thread runs stays mapped, and the listener goes on answering.
    ASSERT_TRUE(freeLibraryWithin(dll, 20000)) << "FreeLibrary did not return";
    EXPECT_NE(::GetModuleHandleW(kDll), nullptr);
    EXPECT_EQ(ping().rfind("Ping=", 0), 0u);
}

} // namespace
