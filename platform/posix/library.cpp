// Socket-library start-up and clean-up and errors on POSIX.
// There is no library to load: start-up and clean-up only count users and
// always succeed, and the last error is errno.
#include "platform/host.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstring>

#include <atomic>

namespace tqbse::platform {
namespace {
std::atomic<int> g_libraryUsers{0};
}

int socketLibraryStartup()
{
    g_libraryUsers.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int socketLibraryCleanup()
{
    int users = g_libraryUsers.load(std::memory_order_relaxed);
    while (users > 0 && !g_libraryUsers.compare_exchange_weak(users, users - 1, std::memory_order_relaxed)) {
    }
    return 0;
}

int socketLibraryUsers() { return g_libraryUsers.load(std::memory_order_relaxed); }

const char* socketLibraryName() { return "socket"; }

int lastError() { return errno; }

std::string socketErrorText(int error)
{
    char buffer[256] = {};
    // The GNU strerror_r: returns the text, which may or may not be `buffer`.
    return ::strerror_r(error, buffer, sizeof buffer);
}

ErrorClass classifyError(int error)
{
    switch (error) {
    case EINTR:
        return ErrorClass::Interrupted;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return ErrorClass::WouldBlock;
    // accept() passes these on for a connection that went away while
    // pending, or from the network: the next peer can still be accepted.
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return ErrorClass::PeerGone;
    default:
        return ErrorClass::Other;
    }
}

} // namespace tqbse::platform
