// Connection exports: Initialise, Shutdown, RemoteConnection_Set.
#include "listener/listener.h"
#include "client/client_socket.h"
#include "protocol/ports.h"
#include "protocol/rows/core.h"
#include "api/export.h"
#include "protocol/result_codes.h"

TQ_CONNECTION_CALLS(TQ_DEFINE_EXPORT)

namespace {
constexpr int32_t kTrueFlag = -1;
constexpr int32_t kFalseFlag = 0;

bool isOctet(int32_t v) { return v >= 0 && v <= 255; }
} // namespace

TQ_EXPORT int32_t tqBsePluginControlDll_Initialise(int32_t octet1, int32_t octet2, int32_t octet3, int32_t octet4)
{
    using namespace tqbse;
    if (!isOctet(octet1) || !isOctet(octet2) || !isOctet(octet3) || !isOctet(octet4))
        return kBadAddressOctet;
    ClientSocket& socket = ClientSocket::instance();
    if (socket.isConnected()) {
        socket.close();
        listener::stopListener();
    }
    socket.setAddress(octet1, octet2, octet3, octet4);
    if (socket.connectToServer(serverPort()) == 0)
        listener::startListener();
    return tqBsePluginControlDll_RemoteConnection_Set(kTrueFlag);
}

TQ_EXPORT int32_t tqBsePluginControlDll_Shutdown(void)
{
    using namespace tqbse;
    tqBsePluginControlDll_RemoteConnection_Set(kFalseFlag);
    const int rc = ClientSocket::instance().close();
    ClientSocket::destroy();
    return rc;
}
