// Socket-library start-up and clean-up and errors on Windows.
// Start-up asks Winsock for version 2.2; every successful start-up is
// matched by one WSACleanup, and clean-up never calls WSACleanup for a
// start-up that this library did not make (the host program may have its
// own Winsock users, whose count must not be taken down).
#include "platform/host.h"
#include "platform/win32/winsock.h"

#include <string>


namespace tqbse::platform {
namespace {
SRWLOCK g_lock = SRWLOCK_INIT;
int g_libraryUsers = 0; // guarded by g_lock
} // namespace

int socketLibraryStartup()
{
    WSADATA data{};
    const int rc = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0)
        return rc;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        ::WSACleanup();
        ::WSASetLastError(WSAVERNOTSUPPORTED);
        return WSAVERNOTSUPPORTED;
    }
    ::AcquireSRWLockExclusive(&g_lock);
    ++g_libraryUsers;
    ::ReleaseSRWLockExclusive(&g_lock);
    return 0;
}

int socketLibraryCleanup()
{
    ::AcquireSRWLockExclusive(&g_lock);
    int rc = 0;
    if (g_libraryUsers > 0) {
        // The count goes down only when Winsock took its own down too, so
        // that a failed clean-up can be tried again.
        if (::WSACleanup() == 0)
            --g_libraryUsers;
        else
            rc = ::WSAGetLastError();
    }
    const int error = ::WSAGetLastError();
    ::ReleaseSRWLockExclusive(&g_lock);
    ::WSASetLastError(error);
    return rc;
}

int socketLibraryUsers()
{
    ::AcquireSRWLockShared(&g_lock);
    const int users = g_libraryUsers;
    ::ReleaseSRWLockShared(&g_lock);
    return users;
}

const char* socketLibraryName() { return "Winsock"; }

int lastError() { return ::WSAGetLastError(); }

std::string socketErrorText(int error)
{
    char buffer[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(error),
                                     0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(error) : text;
}

ErrorClass classifyError(int error)
{
    switch (error) {
    case WSAEWOULDBLOCK:
        return ErrorClass::WouldBlock;
    // accept() reports these for a connection that went away while pending
    // (the peer reset it) or that the network took down: the next pending
    // peer can still be accepted.
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETDOWN:
    case WSAENETUNREACH:
    case WSAEHOSTDOWN:
    case WSAEHOSTUNREACH:
    case WSAENOPROTOOPT:
    case WSAEOPNOTSUPP:
        return ErrorClass::PeerGone;
    // Windows has no signals, so nothing interrupts a call that should
    // simply be made again: WSAEINTR means a blocking call was cancelled
    // because its socket was closed under it, and so does
    // WSA_OPERATION_ABORTED (995), which Wine reports for a blocked accept
    // whose socket another thread closed. Repeating the call could reach a
    // new socket that has been given the same handle value, so both are
    // failures that end the caller's loop.
    case WSAEINTR:
    case WSA_OPERATION_ABORTED:
    default:
        return ErrorClass::Other;
    }
}

} // namespace tqbse::platform
