// IPv4 address parsing, host lookup and dotted text on Windows.
#include "platform/win32/winsock.h"

#include <cstdio>

namespace tqbse::platform {
using namespace win32;

bool parseDottedAddress(const char* text, uint32_t* address)
{
    const unsigned long a = ::inet_addr(text);
    if (a == INADDR_NONE)
        return false;
    *address = ntohl(a);
    return true;
}

// getaddrinfo needs Winsock started; the lookup holds a start-up of its own
// for its duration, so it works whether or not the caller has one.
bool lookupHost(const char* name, uint32_t* address)
{
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const bool ok = ::getaddrinfo(name, nullptr, &hints, &found) == 0 && found != nullptr;
    if (ok)
        *address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    if (found != nullptr)
        ::freeaddrinfo(found);
    const int error = ::WSAGetLastError();
    ::WSACleanup();
    ::WSASetLastError(error);
    return ok;
}

std::string dottedText(uint32_t address)
{
    char text[16] = {};
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(address >> 24), unsigned((address >> 16) & 0xff),
                  unsigned((address >> 8) & 0xff), unsigned(address & 0xff));
    return text;
}

} // namespace tqbse::platform
