// Connection exports: Initialise and Shutdown (RemoteConnection_Set is generated in exports.cpp).
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "listener/listener.h"
#include "client/server_connection.h"
#include "client/trace.h"
#include "protocol/ports.h"
#include "protocol/rows/core.h"
#include "api/export.h"
#include "protocol/result_codes.h"

namespace {
constexpr int32_t kTrueFlag = -1;
constexpr int32_t kFalseFlag = 0;

bool isOctet(int32_t v) { return v >= 0 && v <= 255; }

// TQBSE_REPLY_TIMEOUT_MS, read at every Initialise: a positive number of
// milliseconds turns on the reply deadline for the connection it makes.
// Unset, empty or 0 leaves calls blocking until their reply has arrived.
// Anything else is ignored, and said so once on standard error.
int replyDeadlineFromEnvironment()
{
    const char* text = std::getenv("TQBSE_REPLY_TIMEOUT_MS");
    if (text == nullptr || *text == '\0')
        return 0;
    const std::string_view digits(text);
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (error == std::errc() && end == digits.data() + digits.size() && value >= 0 && digits[0] != '-')
        return value;
    static std::atomic_flag warned = ATOMIC_FLAG_INIT;
    if (!warned.test_and_set())
        std::fprintf(stderr,
                     "tqBsePluginControlDll: TQBSE_REPLY_TIMEOUT_MS=\"%s\" is not a number of milliseconds; "
                     "calls wait for their replies without a deadline\n",
                     text);
    return 0;
}

// TQBSE_INTERRUPT_FD, read at every Initialise: a descriptor number (a
// socket handle on Windows) that the host makes readable to end a call
// waiting on the server, as a Python host does with its signal wake-up
// descriptor so that Ctrl-C ends a call to a stalled server. The call
// fails with -14 and the connection is dropped, as at a reply deadline.
// Unset or empty: calls cannot be interrupted this way (and cost nothing
// extra). Anything else is ignored, and said so once on standard error.
tqbse::platform::SocketHandle interruptFromEnvironment()
{
    const char* text = std::getenv("TQBSE_INTERRUPT_FD");
    if (text == nullptr || *text == '\0')
        return tqbse::platform::kInvalidSocket;
    const std::string_view digits(text);
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (error == std::errc() && end == digits.data() + digits.size() && value < tqbse::platform::kInvalidSocket)
        return tqbse::platform::SocketHandle(value);
    static std::atomic_flag warned = ATOMIC_FLAG_INIT;
    if (!warned.test_and_set())
        std::fprintf(stderr,
                     "tqBsePluginControlDll: TQBSE_INTERRUPT_FD=\"%s\" is not a descriptor number; "
                     "calls cannot be interrupted through it\n",
                     text);
    return tqbse::platform::kInvalidSocket;
}
} // namespace

TQ_EXPORT int32_t tqBsePluginControlDll_Initialise(int32_t octet1, int32_t octet2, int32_t octet3, int32_t octet4)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        if (!isOctet(octet1) || !isOctet(octet2) || !isOctet(octet3) || !isOctet(octet4))
            return kBadAddressOctet;
        const std::unique_lock lock = takeOverConnection();
        trace::open();
        ServerConnection& socket = ServerConnection::instance();
        if (socket.isConnected()) {
            socket.close();
            listener::stopListener();
        }
        socket.setAddress(octet1, octet2, octet3, octet4);
        socket.setReplyDeadline(replyDeadlineFromEnvironment());
        socket.setInterrupt(interruptFromEnvironment());
        if (socket.connectToServer(serverPort()) == 0)
            listener::startListener();
        // The announcement's own trace line, with its own result, now.
        const ArgValue args[] = {kTrueFlag};
        return trace::finished(callRemoteLocked(calls::RemoteConnection_Set, args));
    });
}

TQ_EXPORT int32_t tqBsePluginControlDll_Shutdown(void)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        const std::unique_lock lock = takeOverConnection();
        const ArgValue args[] = {kFalseFlag};
        trace::finished(callRemoteLocked(calls::RemoteConnection_Set, args));
        const int rc = ServerConnection::instance().close();
        ServerConnection::destroy();
        return rc;
    });
}
