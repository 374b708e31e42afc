// Callback messages to the session of the server that sent them.
#include "client/event_routing.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "listener/listener.h"
#include "protocol/codec.h"

namespace tqbse {
namespace {

struct Route {
    uint32_t address;
    std::shared_ptr<EventInbox> inbox;
};

// Never destroyed: the listener thread may route a message while the
// process ends.
std::mutex& routesMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::vector<Route>& routes()
{
    static auto* all = new std::vector<Route>;
    return *all;
}

std::shared_ptr<EventInbox> inboxFor(uint32_t address)
{
    const std::lock_guard lock(routesMutex());
    for (const Route& route : routes())
        if (route.address == address)
            return route.inbox;
    return nullptr;
}

} // namespace

void registerInbox(uint32_t serverAddress, std::shared_ptr<EventInbox> inbox)
{
    const std::lock_guard lock(routesMutex());
    routes().push_back({serverAddress, std::move(inbox)});
}

void unregisterInbox(const EventInbox* inbox)
{
    const std::lock_guard lock(routesMutex());
    std::erase_if(routes(), [&](const Route& route) { return route.inbox.get() == inbox; });
}

std::string routeCallback(std::string_view message, uint32_t peerAddress)
{
    // The inbox is held by this thread until the message is answered, so a
    // session closing meanwhile frees nothing under it. The listener's own
    // note that a peer's connection ended is nobody's event.
    const bool event = message != listener::kTerminationMessage;
    if (const std::shared_ptr<EventInbox> inbox = event ? inboxFor(peerAddress) : nullptr) {
        if (const std::optional<int32_t> code = inbox->deliver(message))
            return codec::resultOnlyReply(codec::splitMessage(message).name, *code);
    }
    return listener::defaultMessageHandler(message);
}

} // namespace tqbse
