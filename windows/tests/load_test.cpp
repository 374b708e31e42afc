// The DLL as a host loads it at run time: LoadLibrary, GetProcAddress and
// FreeLibrary while the callback listener runs. Nothing may wait under the
// loader lock, so FreeLibrary must return; it is checked with a bound so
// that a hang fails the test instead of stopping the suite. The emulator
// runs on TQBSE_TEST_EMULATOR_ADDRESS:6002 (a ctest fixture); the listener
// uses the fixed port 6009.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr wchar_t kDll[] = L"tqBsePluginControlDll.dll";
constexpr int kOctets[4] = {TQBSE_TEST_EMULATOR_OCTETS};

using InitialiseFn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);
using ShutdownFn = int32_t (*)();
using GetDoubleFn = int32_t (*)(int32_t, double*);

template <typename Fn>
Fn entry(HMODULE dll, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
}

// FreeLibrary on a helper thread, so that a hang under the loader lock is
// seen as a failure after `limitMs` rather than blocking the test for ever.
bool freeLibraryWithin(HMODULE dll, DWORD limitMs)
{
    const HANDLE thread = ::CreateThread(
        nullptr, 0, [](LPVOID p) -> DWORD { return ::FreeLibrary(static_cast<HMODULE>(p)) ? 0 : 1; }, dll, 0,
        nullptr);
    if (thread == nullptr)
        return false;
    const bool returned = ::WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
    DWORD status = 1;
    ::GetExitCodeThread(thread, &status);
    ::CloseHandle(thread);
    return returned && status == 0;
}

// One message to the callback listener on 127.0.0.1:6009; its reply, or ""
// when nothing listens or answers within a few seconds.
std::string callbackExchange(const std::string& message)
{
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return "";
    std::string reply;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const DWORD timeout = 3000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6009);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0
        && ::send(s, message.data(), int(message.size()), 0) == int(message.size())) {
        char buffer[512];
        const int n = ::recv(s, buffer, sizeof buffer, 0);
        if (n > 0)
            reply.assign(buffer, std::size_t(n));
    }
    ::closesocket(s);
    ::WSACleanup();
    return reply;
}

// True when something already accepts connections on 127.0.0.1:6009: then
// the DLL's listener cannot bind and its answers cannot be told apart.
bool listenerPortTaken()
{
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6009);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool taken = ::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    ::closesocket(s);
    ::WSACleanup();
    return taken;
}

// The listener answers once its thread has bound the port: a few tries.
std::string callbackExchangeWhenListening(const std::string& message)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const std::string reply = callbackExchange(message);
        if (!reply.empty())
            return reply;
        ::Sleep(100);
    }
    return "";
}

TEST(WindowsLoadLibrary, FreeLibraryReturnsWhileTheListenerRunsAndTheDllServesOnAfterReload)
{
    if (listenerPortTaken())
        GTEST_SKIP() << "another program listens on port 6009";
    HMODULE dll = ::LoadLibraryW(kDll);
    ASSERT_NE(dll, nullptr) << ::GetLastError();
    auto initialise = entry<InitialiseFn>(dll, "tqBsePluginControlDll_Initialise");
    auto shutdown = entry<ShutdownFn>(dll, "tqBsePluginControlDll_Shutdown");
    ASSERT_TRUE(initialise && shutdown);
    ASSERT_EQ(initialise(kOctets[0], kOctets[1], kOctets[2], kOctets[3]), 0);
    const std::string reply = callbackExchangeWhenListening("Ping=()");
    EXPECT_EQ(reply.rfind("Ping=", 0), 0u) << "listener reply: " << reply;
    EXPECT_EQ(shutdown(), 0);

    // The listener thread holds the DLL: FreeLibrary returns, the code the
    // thread runs stays mapped, and the listener goes on answering.
    ASSERT_TRUE(freeLibraryWithin(dll, 20000)) << "FreeLibrary did not return";
    EXPECT_NE(::GetModuleHandleW(kDll), nullptr);
    EXPECT_EQ(callbackExchange("Ping=()").rfind("Ping=", 0), 0u);

    // Loaded again, it is the same DLL with the same listener, and serves.
    dll = ::LoadLibraryW(kDll);
    ASSERT_NE(dll, nullptr);
    initialise = entry<InitialiseFn>(dll, "tqBsePluginControlDll_Initialise");
    shutdown = entry<ShutdownFn>(dll, "tqBsePluginControlDll_Shutdown");
    const auto getFrequency = entry<GetDoubleFn>(dll, "tqBsePluginControlDll_RX_CentreFrequency_Get");
    ASSERT_TRUE(initialise && shutdown && getFrequency);
    ASSERT_EQ(initialise(kOctets[0], kOctets[1], kOctets[2], kOctets[3]), 0);
    double frequency = -1;
    EXPECT_EQ(getFrequency(0, &frequency), 0);
    EXPECT_GT(frequency, 0);
    EXPECT_EQ(callbackExchange("Ping=()").rfind("Ping=", 0), 0u);
    EXPECT_EQ(shutdown(), 0);
    EXPECT_TRUE(freeLibraryWithin(dll, 20000));
}

} // namespace
