// IPv4 address parsing, host lookup and dotted text on POSIX.
#include "platform/platform.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

namespace tqbse::platform {

bool parseDottedAddress(const char* text, uint32_t* address)
{
    const in_addr_t a = ::inet_addr(text);
    if (a == INADDR_NONE)
        return false;
    *address = ntohl(a);
    return true;
}

bool lookupHost(const char* name, uint32_t* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    *address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
    return true;
}

std::string dottedText(uint32_t address)
{
    in_addr a{};
    a.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

} // namespace tqbse::platform
