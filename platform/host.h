// Services that only the tests, the tools and the benchmarks need: who
// listens on a port, which file a loaded module came from, the socket
// library's start-up count, setting an environment variable, socket
// timeouts, half-closing, the bound address, a wait on several sockets and
// the size and last byte of a file. The library
// itself does not include this header; each system's folder implements it
// (platform/posix/host.cpp, platform/win32/host.cpp, and the count beside
// the start-up it counts in library.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

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

// Send and receive timeouts for a blocking socket; 0 or the error number.
int setTimeouts(SocketHandle s, int timeoutMs);
// Ends sending only: the peer reads the end of the stream.
void shutdownSend(SocketHandle s);
// The address a socket is bound to (its port after binding port 0); 0 or
// the error number, `*local` untouched then.
int localEndpoint(SocketHandle s, Endpoint* local);
// waitReadable for several sockets at once, for a server that serves all its
// connections from one thread: sets readable[i] for each socket with data,
// the end of its stream or an error (the next call on it tells which), and
// returns how many, 0 after `timeoutMs` (negative: for ever), or -1 on
// failure. kInvalidSocket entries are skipped (their flag stays false).
int waitAnyReadable(const SocketHandle* sockets, std::size_t count, int timeoutMs, bool* readable);
// Size of a regular file, or -1 when `path` is not one (a device, a FIFO,
// missing).
int64_t regularFileSize(const char* path);
// The last byte of a regular file, or -1 when it is empty or unreadable.
int lastByteOfFile(const char* path);

} // namespace tqbse::platform
