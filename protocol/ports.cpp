// The two TCP ports, movable for tests (the internal library only).
#include "protocol/ports.h"

#include <atomic>

namespace tqbse {
namespace {
// Read by the calling thread (client) and by the listener thread when it binds.
std::atomic<uint16_t> g_serverPort{kServerPort};
std::atomic<uint16_t> g_listenerPort{kListenerPort};
} // namespace

uint16_t serverPort() { return g_serverPort.load(std::memory_order_relaxed); }
uint16_t listenerPort() { return g_listenerPort.load(std::memory_order_relaxed); }

void setPortsForTesting(uint16_t server, uint16_t listener)
{
    if (server != 0)
        g_serverPort.store(server, std::memory_order_relaxed);
    if (listener != 0)
        g_listenerPort.store(listener, std::memory_order_relaxed);
}

} // namespace tqbse
