// A session: one connection to one server, the lock that serialises its
// calls, and the inbox of that server's events. The flat exports run on the
// default session; the session API creates as many more as a host wants.
// Opening and closing a session follow one procedure for both.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "client/event_inbox.h"
#include "client/server_connection.h"

namespace tqbse {

struct Session {
    ServerConnection connection;
    std::shared_ptr<EventInbox> events = std::make_shared<EventInbox>();
    // Whether its inbox is registered for its server's events (the flat
    // default session's never is: its server's callbacks are answered as
    // they always were, -8).
    bool takesEvents = false;
};

// The flat exports' session. Never destroyed: a host thread may still be in
// a call when the process ends, and nothing may go away under it.
Session& defaultSession();

// How a session connects.
struct SessionSettings {
    int replyDeadlineMs = 0;   // 0: none
    int connectTimeoutMs = 0;  // 0: the library's default
    bool takesEvents = false;
    // The host's interrupt (ServerConnection::setInterrupt), or none.
    platform::SocketHandle interrupt = platform::kInvalidSocket;
};

// Connects `session` (already holding its call lock) to `address`, starts
// the process's callback listener when the connect succeeded (unless it
// runs), and announces the connection (RemoteConnection_Set with -1): the
// announcement's result, -14 when the server cannot be reached. An earlier
// connection of the session is closed first.
int32_t openSession(Session& session, std::string_view address, const SessionSettings& settings);
// Announces the end (RemoteConnection_Set with 0) and closes the connection:
// the socket layer's result, 0 or -1. The session keeps its inbox open.
int32_t closeSession(Session& session);

// Stops the process's callback listener and waits for its thread to end
// (Initialise does before it connects again). Never called holding a
// session's call lock: an event handler may be waiting for that lock, and
// the listener's thread ends only once its handler returns.
void stopListener();

} // namespace tqbse
