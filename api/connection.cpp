// Connection exports: Initialise and Shutdown, opening and closing the
// default session (RemoteConnection_Set is generated in exports.cpp).
#include "api/environment.h"
#include "platform/platform.h"
#include "client/session.h"
#include "client/trace.h"
#include "api/export.h"
#include "protocol/result_codes.h"

namespace {
bool isOctet(int32_t v) { return v >= 0 && v <= 255; }
} // namespace

TQ_EXPORT int32_t tqBsePluginControlDll_Initialise(int32_t octet1, int32_t octet2, int32_t octet3, int32_t octet4)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        if (!isOctet(octet1) || !isOctet(octet2) || !isOctet(octet3) || !isOctet(octet4))
            return kBadAddressOctet;
        Session& session = defaultSession();
        std::unique_lock lock = session.connection.takeOver();
        if (session.connection.isConnected()) {
            // Initialise again has always restarted the listener. It is
            // stopped without the lock, which a handler may be waiting for.
            lock.unlock();
            stopListener();
            lock = session.connection.takeOver();
        }
        platform::setDiagnosticsTarget(environment::diagnostics());
        trace::open();
        const uint32_t address = uint32_t(octet1) << 24 | uint32_t(octet2) << 16 | uint32_t(octet3) << 8 | uint32_t(octet4);
        SessionSettings settings;
        settings.replyDeadlineMs = environment::replyDeadline();
        settings.interrupt = environment::interrupt();
        return openSession(session, platform::dottedText(address), settings);
    });
}

TQ_EXPORT int32_t tqBsePluginControlDll_Shutdown(void)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        Session& session = defaultSession();
        const std::unique_lock lock = session.connection.takeOver();
        const int32_t rc = closeSession(session);
        session.connection.reset();
        return rc;
    });
}
