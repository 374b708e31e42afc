// The shared library's ports: the fixed constants, with no way to move them.
#include "protocol/ports.h"

namespace tqbse {

uint16_t serverPort() { return kServerPort; }
uint16_t listenerPort() { return kListenerPort; }

} // namespace tqbse
