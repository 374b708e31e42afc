// Sending a whole buffer, the same on every system: sendSome until every
// byte is out or a send fails.
#include "platform/platform.h"

namespace tqbse::platform {

int sendAll(SocketHandle s, const char* data, std::size_t size)
{
    while (size > 0) {
        const int64_t n = sendSome(s, data, size);
        if (n <= 0)
            return -1;
        data += n;
        size -= std::size_t(n);
    }
    return 0;
}

} // namespace tqbse::platform
