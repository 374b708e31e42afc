// The callback listener: one thread that accepts peers on the listener port
// (6009), serves up to kMaxPeers of them at once and answers every message
// through the installed message handler. It sits beside the client
// connection; the connection exports start and stop it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tqbse::listener {

inline constexpr char kTerminationMessage[] = "__CLIENT_REMOTE_TERMINATED__=()";

// The most peers served at once. When one more connects, the peer idle
// longest (nothing received from it and nothing of its answers sent for the
// longest time) is closed to make room: a peer that connects and says
// nothing never keeps a server's callbacks out.
inline constexpr std::size_t kMaxPeers = 16;
// Answers a peer has not read yet are kept for it, up to this many bytes: a
// message arriving while more than this waits unsent closes its connection
// (a peer that sends without reading). One answer may be larger; it is sent
// whole to a peer that reads it.
inline constexpr std::size_t kMaxUnsentBytes = std::size_t(1) << 20;

// Message text and the peer's IPv4 address (host byte order) in, reply text
// out; runs on the listener thread. An empty reply sends nothing.
using MessageHandler = std::function<std::string(std::string_view message, uint32_t peerAddress)>;

// Starts a listener thread and installs the default handler. A listener
// that is still running is kept (one at a time). 0, or the platform's error
// number when the thread cannot be created.
int startListener();
// Wakes the listener's thread and waits for it to end, so the port is free
// again on return. -1 when no listener is held, else 0.
int stopListener();
// Replaces the handler (tests install their own; no export does).
void setMessageHandler(MessageHandler handler);
// The same for a handler that does not look at the address;
// defaultMessageHandler installs the default handler again.
void setMessageHandler(std::string (*handler)(std::string_view message));
// Answers every message with its own name, "=" and the integer token of -8.
std::string defaultMessageHandler(std::string_view message);

// Where the held listener is, for tests and tools (calling thread only).
enum class ListenerState {
    None,      // no listener held
    Starting,  // thread started, not yet listening
    Listening, // bound to the port and accepting
    Ended,     // thread ended (bind failed, say); the next start replaces it
};
ListenerState listenerState();

} // namespace tqbse::listener
