// Thin socket layer over POSIX. It stands where a Windows build would use
// the Windows Sockets library: start-up and clean-up are reference counted
// and always succeed, the last error is errno, and sends never raise SIGPIPE.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tqbse::platform {

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

int socketLibraryStartup();  // 0
int socketLibraryCleanup();  // 0
int socketLibraryUsers();    // current reference count, for tests
int lastError();             // errno of the last failing call

SocketHandle openTcpSocket();
int closeSocket(SocketHandle s);
int setNoDelay(SocketHandle s);
int setReuseAddress(SocketHandle s);
// Connects, giving up after `timeoutMs` (errno ETIMEDOUT) so that an
// unreachable host does not block the caller for minutes.
int connectWithTimeout(SocketHandle s, const sockaddr_in& address, int timeoutMs);

// One send or receive, retried on EINTR; results as send(2)/recv(2).
ssize_t sendSome(SocketHandle s, const char* data, std::size_t size);
ssize_t receiveSome(SocketHandle s, char* data, std::size_t size);
// Sends every byte, continuing after partial sends. Returns 0 or -1.
int sendAll(SocketHandle s, const char* data, std::size_t size);
// True when data (or end of stream) can be read within `timeoutMs`.
bool waitReadable(SocketHandle s, int timeoutMs);

// Server side: a non-blocking listening socket, bind, listen, and accept of
// one peer (kInvalidSocket on failure, errno says why).
SocketHandle openListeningSocket();
int bindSocket(SocketHandle s, const sockaddr_in& address);
int listenSocket(SocketHandle s, int backlog);
SocketHandle acceptPeer(SocketHandle listening, sockaddr_in* peer);
// One send that never blocks: -1 with EAGAIN when the peer's window is full.
ssize_t sendNow(SocketHandle s, const char* data, std::size_t size);

// A wake-up event: one thread signals it, another waits on it together with
// a socket, so that a blocked accept, receive or send can be ended.
int openWakeEvent();   // -1 on failure
void signalWakeEvent(int event);
void closeWakeEvent(int event);
// Waits until `s` has one of `events` (or an error, which the next call on
// it reports). False once the wake event is signalled.
bool waitForSocketOrWake(SocketHandle s, short events, int event);

// Dotted-decimal parse; false where inet_addr would give its all-ones failure value.
bool parseDottedAddress(const char* text, in_addr* address);
// Host-name lookup, IPv4 only; first address of the host.
bool lookupHost(const char* name, in_addr* address);

} // namespace tqbse::platform
