// The two TCP ports: the server's (6002), which the client connects to, and
// the callback listener's (6009). The shared library always uses these
// constants. Tests move them through setPortsForTesting, which only the
// internal static library offers, so that suites can run side by side and a
// busy host cannot break them.
#pragma once

#include <cstdint>

namespace tqbse {

inline constexpr uint16_t kServerPort = 6002;
inline constexpr uint16_t kListenerPort = 6009;

uint16_t serverPort();
uint16_t listenerPort();
// 0 keeps a port as it is.
void setPortsForTesting(uint16_t server, uint16_t listener);

} // namespace tqbse
