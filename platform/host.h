// Facts about this host and process that only the tests and the tool need:
// who listens on a port, which file a loaded module came from, the socket
// library's start-up count, and setting an environment variable. The library
// itself does not include this header; each system's folder implements it
// (platform/posix/host.cpp, platform/win32/host.cpp, and the count beside
// the start-up it counts in library.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace tqbse::platform {

// True when some socket on this host listens on the TCP port, on any
// address (the kernel's own table, so nothing connects to it).
bool isListening(uint16_t port);
// The same for sockets of this process only: our own listener, not another
// program that holds the port.
bool isListeningHere(uint16_t port);
// The file of the loaded module (shared library or program) that holds
// `address`; "?" when the system cannot tell.
std::string modulePath(const void* address);
// Sets an environment variable of this process; 0 or the system's error
// number.
int setEnvironment(const char* name, const char* value);
// How many socketLibraryStartup calls are not yet matched by a clean-up.
int socketLibraryUsers();

} // namespace tqbse::platform
