// Which session a callback message belongs to: the listener hands every
// message to routeCallback with its peer's address, and the message goes to
// the inbox of the session whose server has that address. Where several
// sessions share one server, the one registered first (opened first) takes
// its events; when it closes, the next one does. Messages from any other
// peer get the listener's default answer (-8, function not found).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "client/event_inbox.h"

namespace tqbse {

// Adds an inbox for events from `serverAddress` (IPv4, host byte order),
// after every inbox already registered for it.
void registerInbox(uint32_t serverAddress, std::shared_ptr<EventInbox> inbox);
// Takes the inbox out; messages already routed to it may still arrive
// until it is closed (EventInbox::close).
void unregisterInbox(const EventInbox* inbox);

// The listener's message handler: the reply to `message` from a peer at
// `peerAddress`. A delivered message is answered "Name=(i=code)" with the
// code of its handler or 0 once queued.
std::string routeCallback(std::string_view message, uint32_t peerAddress);

} // namespace tqbse
