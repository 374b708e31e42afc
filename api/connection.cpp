// Connection exports: Initialise and Shutdown (RemoteConnection_Set is generated in exports.cpp).
#include <mutex>

#include "api/environment.h"
#include "listener/listener.h"
#include "platform/platform.h"
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
} // namespace

TQ_EXPORT int32_t tqBsePluginControlDll_Initialise(int32_t octet1, int32_t octet2, int32_t octet3, int32_t octet4)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        if (!isOctet(octet1) || !isOctet(octet2) || !isOctet(octet3) || !isOctet(octet4))
            return kBadAddressOctet;
        const std::unique_lock lock = takeOverConnection();
        platform::setDiagnosticsTarget(environment::diagnostics());
        trace::open();
        ServerConnection& connection = ServerConnection::instance();
        if (connection.isConnected()) {
            connection.close();
            listener::stopListener();
        }
        connection.setAddress(octet1, octet2, octet3, octet4);
        connection.setReplyDeadline(environment::replyDeadline());
        connection.setInterrupt(environment::interrupt());
        if (connection.connectToServer(serverPort()) == 0)
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
