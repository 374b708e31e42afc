// Opening and closing a session: connect, the listener, the announcements.
#include "client/session.h"

#include <mutex>

#include "client/call_remote.h"
#include "client/event_routing.h"
#include "client/trace.h"
#include "listener/listener.h"
#include "protocol/ports.h"
#include "protocol/rows/core.h"

namespace tqbse {
namespace {

constexpr int32_t kTrueFlag = -1;
constexpr int32_t kFalseFlag = 0;

// Starting and stopping the one listener is serialised across sessions.
std::mutex& listenerMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

// Starts the listener unless it runs, with the handler that routes events.
void startListener()
{
    const std::lock_guard lock(listenerMutex());
    if (listener::startListener() == 0)
        listener::setMessageHandler(routeCallback);
}

} // namespace

void stopListener()
{
    const std::lock_guard lock(listenerMutex());
    listener::stopListener();
}

Session& defaultSession()
{
    static Session* const session = new Session;
    return *session;
}

int32_t openSession(Session& session, std::string_view address, const SessionSettings& settings)
{
    ServerConnection& connection = session.connection;
    if (connection.isConnected())
        connection.close();
    if (session.takesEvents) {
        unregisterInbox(session.events.get());
        session.takesEvents = false;
    }
    connection.setAddress(address);
    connection.setReplyDeadline(settings.replyDeadlineMs);
    connection.setConnectTimeout(settings.connectTimeoutMs);
    connection.setInterrupt(settings.interrupt);
    if (connection.connectToServer(serverPort()) == 0) {
        session.takesEvents = settings.takesEvents;
        if (session.takesEvents)
            registerInbox(connection.serverAddress(), session.events);
        startListener();
    }
    // The announcement's own trace line, with its own result, now.
    const ArgValue args[] = {kTrueFlag};
    return trace::finished(callRemoteLocked(connection, calls::RemoteConnection_Set, args));
}

int32_t closeSession(Session& session)
{
    const ArgValue args[] = {kFalseFlag};
    trace::finished(callRemoteLocked(session.connection, calls::RemoteConnection_Set, args));
    if (session.takesEvents) {
        unregisterInbox(session.events.get());
        session.takesEvents = false;
    }
    return session.connection.close();
}

} // namespace tqbse
