// Sending a whole buffer, the same on every system: sends until every byte
// is out or a send fails, blocking or not.
#include "platform/platform.h"

namespace tqbse::platform {

int sendAll(SocketHandle s, const char* data, std::size_t size)
{
    while (size > 0) {
        const int64_t n = sendSome(s, data, size);
        if (n <= 0)
            return lastError();
        data += n;
        size -= std::size_t(n);
    }
    return 0;
}

SendOutcome sendAllNonBlocking(SocketHandle s, const char* data, std::size_t size, bool (*wait)(void* context),
                               void* context)
{
    while (size > 0) {
        const int64_t n = sendNow(s, data, size);
        if (n > 0) {
            data += n;
            size -= std::size_t(n);
            continue;
        }
        if (n == 0)
            return SendOutcome::NothingSent;
        switch (classifyError(lastError())) {
        case ErrorClass::Interrupted:
            continue;
        case ErrorClass::WouldBlock:
            if (!wait(context))
                return SendOutcome::WaitEnded;
            continue;
        default:
            return SendOutcome::Failed;
        }
    }
    return SendOutcome::Sent;
}

} // namespace tqbse::platform
