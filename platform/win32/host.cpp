// Facts about this host on Windows: listening ports from the IP helper's TCP
// tables, the file a loaded module came from, and the environment.
#include "platform/host.h"
#include "platform/win32/winsock.h"

#include <iphlpapi.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tqbse::platform {
namespace {

// True when the listener table of one address family has `port`, owned by
// any process, or by this one when `thisProcess`.
bool listensIn(ULONG family, uint16_t port, bool thisProcess)
{
    std::vector<char> table(16 * 1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = DWORD(table.size());
        const DWORD rc =
            ::GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
        if (rc == ERROR_INSUFFICIENT_BUFFER) {
            table.resize(size + 1024);
            continue;
        }
        if (rc != NO_ERROR)
            return false;
        const u_short wanted = htons(port);
        const DWORD self = ::GetCurrentProcessId();
        auto matches = [&](const auto& row) {
            return u_short(row.dwLocalPort) == wanted && (!thisProcess || row.dwOwningPid == self);
        };
        if (family == AF_INET) {
            const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
            for (DWORD i = 0; i < rows->dwNumEntries; ++i)
                if (matches(rows->table[i]))
                    return true;
        } else {
            const auto* rows = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(table.data());
            for (DWORD i = 0; i < rows->dwNumEntries; ++i)
                if (matches(rows->table[i]))
                    return true;
        }
        return false;
    }
    return false;
}

} // namespace

bool isListening(uint16_t port) { return listensIn(AF_INET, port, false) || listensIn(AF_INET6, port, false); }

bool isListeningHere(uint16_t port) { return listensIn(AF_INET, port, true) || listensIn(AF_INET6, port, true); }

std::string modulePath(const void* address)
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module))
        return "?";
    std::vector<wchar_t> path(MAX_PATH);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD n = ::GetModuleFileNameW(module, path.data(), DWORD(path.size()));
        if (n == 0)
            return "?";
        if (n < path.size()) {
            const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, path.data(), int(n), nullptr, 0, nullptr, nullptr);
            std::string text(std::size_t(bytes), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, path.data(), int(n), text.data(), bytes, nullptr, nullptr);
            return text;
        }
        path.resize(path.size() * 2);
    }
    return "?";
}

// The C runtime keeps its own copy of the environment, which getenv reads
// (in the program and in the DLL alike: both use msvcrt.dll), so the
// variable is set there; the process's environment block gets it too, for
// GetEnvironmentVariable and child processes.
int setEnvironment(const char* name, const char* value)
{
    // Both the C runtime's copy (getenv) and the process's own block.
    const std::string assignment = std::string(name) + "=" + value;
    if (::_putenv(assignment.c_str()) != 0)
        return errno;
    return ::SetEnvironmentVariableA(name, value) ? 0 : int(::GetLastError());
}

} // namespace tqbse::platform
