// The operating system behind one header: sockets, the wake-up that ends a
// blocked wait, threads and the socket layer's diagnostics. Nothing outside
// platform/ includes an OS networking or threading header; each system has
// its own folder (platform/posix, platform/win32) implementing this file.
// Services only the tests, the tools and the benchmarks need are in
// platform/host.h, which the library itself does not include.
//
// Addresses are IPv4 and in host byte order here; the implementations
// convert. Socket handles are opaque: a POSIX descriptor and a Win64 SOCKET
// both fit, and the only invalid value is kInvalidSocket (never compare with
// zero or test for "< 0").
//
// One convention for results: a service that succeeds or fails returns 0 or
// the system's error number (errno, WSAGetLastError(); never -1), which
// lastError() also gives right after the call. Services that return a
// count or a handle give -1 or kInvalidSocket on failure with the error
// number in lastError(). Answers are not results: a wait or a parse answers
// true or false, or names how it ended (WaitEnd, SendOutcome) when it can
// end in more than two ways. A release (close, shutdown, signal, join)
// returns nothing: its caller has nothing left to do when it fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tqbse::platform {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

// An IPv4 address and port, both in host byte order.
struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};
inline constexpr uint32_t kAnyAddress = 0;              // every local interface
inline constexpr uint32_t kLoopbackAddress = 0x7f000001; // 127.0.0.1

// ---- Socket library ------------------------------------------------------
// Start-up and clean-up are reference counted: every start-up that returned
// 0 is matched by one clean-up, and a clean-up without a start-up left to
// match does nothing and returns 0. Both return 0 or the error number.
int socketLibraryStartup();
int socketLibraryCleanup();
// The socket library's name as diagnostics say it ("Winsock" on Windows).
const char* socketLibraryName();

// The socket library's error number of the last failing call on this thread
// (errno, or WSAGetLastError()), as printed in diagnostics.
int lastError();

// What a failed socket call means for the caller.
enum class ErrorClass : uint8_t {
    Interrupted, // try the same call again
    WouldBlock,  // non-blocking call found nothing to do: wait, then retry
    PeerGone,    // accept: the pending connection went away; accept the next
    Other,       // a real failure
};
ErrorClass classifyError(int error);

// ---- Sockets -------------------------------------------------------------
// A new socket, or kInvalidSocket (lastError() says why). Neither is
// inherited by child processes.
SocketHandle openTcpSocket();       // blocking stream socket
SocketHandle openListeningSocket(); // non-blocking stream socket, for a listener
// Each of these returns 0 or the error number.
int closeSocket(SocketHandle s);
// Sends small writes at once (no coalescing delay).
int setNoDelay(SocketHandle s);
// The address option a listener sets before bind, so that a restarted
// listener gets its port back while old connections linger, while a live
// listener elsewhere still makes bind fail. The option differs per system.
int setListenerAddressOption(SocketHandle s);
// Ends sending and receiving, waking a thread blocked in receive on `s`.
void shutdownBoth(SocketHandle s);

// Connects, giving up after `timeoutMs` (then the error number is the
// system's "timed out"), so that an unreachable host does not block the
// caller for minutes. The socket is blocking again afterwards.
int connectWithTimeout(SocketHandle s, Endpoint to, int timeoutMs);
int bindSocket(SocketHandle s, Endpoint local);
// The backlog the library's callback listener and the emulator listen with:
// connection attempts beyond it wait while a peer is being accepted.
inline constexpr int kListenBacklog = 8;
int listenSocket(SocketHandle s, int backlog);
// One accepted peer, or kInvalidSocket (lastError() says why).
SocketHandle acceptPeer(SocketHandle listening, Endpoint* peer);

// One send or receive; interrupted calls are retried. Byte count, 0 for a
// closed peer (receive), or -1 on failure. Sends never raise a signal.
int64_t sendSome(SocketHandle s, const char* data, std::size_t size);
int64_t receiveSome(SocketHandle s, char* data, std::size_t size);
// Sends every byte, continuing after partial sends. 0 or the error number.
int sendAll(SocketHandle s, const char* data, std::size_t size);
// One send that never blocks: -1 with a WouldBlock error when the peer's
// window is full.
int64_t sendNow(SocketHandle s, const char* data, std::size_t size);
// Sends every byte with sends that never block; whenever the peer's window
// is full it calls `wait(context)`, which waits until the socket can take
// more and returns false to give up. Failed: lastError() says why.
enum class SendOutcome : uint8_t { Sent, WaitEnded, NothingSent, Failed };
SendOutcome sendAllNonBlocking(SocketHandle s, const char* data, std::size_t size, bool (*wait)(void* context),
                               void* context);
// One receive that never blocks: the bytes already waiting, 0 for a closed
// peer, or -1 (a WouldBlock error when nothing is waiting).
int64_t receiveNow(SocketHandle s, char* data, std::size_t size);
// How many bytes wait to be received, without receiving them (0 also for a
// closed peer), or -1 when the system cannot say. Cheaper than a receive:
// no cancellation point, nothing copied.
int64_t bytesWaiting(SocketHandle s);
// True when data (or the end of the stream) can be read within `timeoutMs`;
// a negative timeout waits for ever.
bool waitReadable(SocketHandle s, int timeoutMs);
// True when a send can take bytes within `timeoutMs` (or the socket has an
// error, which the send then reports); negative waits for ever.
bool waitWritable(SocketHandle s, int timeoutMs);

// ---- Wake-up -------------------------------------------------------------
// One thread signals it; another waits on it together with a socket, so that
// a blocked accept, receive or send can be ended without closing the socket
// under the waiting thread.
struct WakeEvent {
    std::uintptr_t handles[2] = {~std::uintptr_t{0}, ~std::uintptr_t{0}};
};
// 0 or the error number. Signalled once, the event stays signalled until it
// is closed; closing it twice is harmless.
int openWakeEvent(WakeEvent* event);
void signalWakeEvent(const WakeEvent& event);
void closeWakeEvent(WakeEvent* event);
enum class Interest : uint8_t { Read, Write };
// Waits until `s` is ready for `interest` (or has an error, which the next
// call on it reports). False once the wake event is signalled.
bool waitForSocketOrWake(SocketHandle s, Interest interest, const WakeEvent& event);
// How a wait ends: a socket is ready, the time is up, or it was interrupted
// (the wake event, the host's interrupt descriptor).
enum class WaitEnd : uint8_t { Ready, TimedOut, Interrupted };
// One socket of a wait on several: what to wait for, and what was found.
struct SocketWait {
    SocketHandle socket = kInvalidSocket; // kInvalidSocket entries are skipped
    bool read = false;                    // data, the end of the stream, a pending connection
    bool write = false;                   // room for a send
    bool ready = false;                   // set by the wait: either of those, or an error or hang-up
};
// Waits until one of `count` sockets is ready (the wait sets their `ready`
// flags), the wake event is signalled, or `timeoutMs` has passed (negative:
// no limit), for a thread that serves several connections at once. The wake
// event wins over ready sockets; a system failure of the wait counts as
// Interrupted, so that it cannot turn into a busy loop.
WaitEnd waitForSocketsOrWake(SocketWait* sockets, std::size_t count, const WakeEvent& event, int timeoutMs);

// ---- Host interrupt ------------------------------------------------------
// A descriptor the host hands the library (any readable descriptor on POSIX,
// a socket on Windows) whose readability ends a call's wait: a host that
// writes to it from a signal handler, as Python does to its signal wake-up
// descriptor, gets a call to a stalled server back at once. The library
// never writes to it and never closes it.
// Waits until `s` is ready for `interest` (or has an error), `interrupt` is
// readable (Interrupted wins when both are), or `timeoutMs` has passed
// (negative: no limit). A system failure of the wait counts as Interrupted,
// so that it cannot turn into a busy loop.
WaitEnd waitForSocketOrInterrupt(SocketHandle s, Interest interest, SocketHandle interrupt, int timeoutMs);
// Reads and discards what already waits on `interrupt`, without blocking
// even on a blocking descriptor: what the host wrote before a call began
// does not end that call.
void drainInterrupt(SocketHandle interrupt);

// ---- Addresses -----------------------------------------------------------
// Dotted-decimal parse; false where the system's parser gives its all-ones
// failure value (so 255.255.255.255 goes to the host lookup).
bool parseDottedAddress(const char* text, uint32_t* address);
// Host-name lookup, IPv4 only; the host's first address.
bool lookupHost(const char* name, uint32_t* address);
std::string dottedText(uint32_t address);

// ---- Threads -------------------------------------------------------------
struct Thread {
    std::uintptr_t handle = 0;
    bool started = false;
};
// Starts `entry(argument)` on a new thread. 0, or the system's error number
// (GetLastError() on Windows) when the thread cannot be created.
int startThread(void (*entry)(void*), void* argument, Thread* thread);
// A started thread keeps the module that holds its code loaded while it
// runs, so that a host unloading the library (dlclose, FreeLibrary) never
// unmaps code a thread still executes.
// Waits for the thread to end and releases it. Never from the thread itself.
void joinThread(Thread* thread);
// Releases the thread without waiting; it ends on its own.
void detachThread(Thread* thread);
bool isCurrentThread(const Thread& thread);

// ---- Appended files ------------------------------------------------------
// A file the library appends lines to (its call trace). Opening never waits:
// a FIFO (named pipe) that no program reads is refused at once instead of
// waiting for a reader, and writes to a pipe never wait for its reader (one
// that falls behind makes the write fail). Writes never raise a signal.
struct AppendFile {
    std::intptr_t handle = -1;
    bool owned = false; // false for standard error, which is never closed
};
// Opens `path` for appending, creating it; "-" is standard error. 0, or the
// error number with `why` set to a text for the user ("No such file or
// directory", "a FIFO that no program reads", ...).
int openAppendFile(const char* path, AppendFile* file, std::string* why);
// Writes every byte. 0, or the error number of the write that failed (some
// bytes may have been written before it).
int appendToFile(const AppendFile& file, const char* data, std::size_t size);
void closeAppendFile(AppendFile* file);
// The system's text for a file error number.
std::string fileErrorText(int error);

// ---- Diagnostics ---------------------------------------------------------
// The socket layer's texts go to standard output by default, flushed at once
// so that they are not lost if the host program dies right after; the host
// may send them to standard error instead, or nowhere.
enum class DiagnosticsTarget : int { Stdout, Stderr, Off };
// Takes effect for every text printed after it, on any thread.
void setDiagnosticsTarget(DiagnosticsTarget target);
// The target a setting names ("stdout", "stderr" or "off"); false for
// anything else.
bool parseDiagnosticsTarget(std::string_view setting, DiagnosticsTarget* target);
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void printDiagnostic(const char* format, ...);
// The system's text for a socket-layer error number ("Address already in
// use"), for diagnostics that say more than the number.
std::string socketErrorText(int error);

} // namespace tqbse::platform
