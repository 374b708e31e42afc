// The callback listener on port 6009: one thread that accepts peers one at a
// time and answers every message through the installed message handler.
#pragma once

#include <QByteArray>

#include <functional>

namespace tqbse::callback {

inline constexpr int kListenerPort = 6009;
inline constexpr int kListenBacklog = 8;
inline constexpr int kMessageChunkSize = 4096;
inline constexpr char kTerminationMessage[] = "__CLIENT_REMOTE_TERMINATED__=()";

// Message text in, reply text out; runs on the listener thread. An empty
// reply sends nothing.
using MessageHandler = std::function<QByteArray(const QByteArray& message)>;

// Starts a listener thread and installs the default handler. A listener
// that is still running is kept (one at a time). 0, or the platform's error
// number when the thread cannot be created.
int startListener();
// Wakes the listener's thread and waits for it to end, so port 6009 is free
// again on return. -1 when no listener is held, else 0.
int stopListener();
// Replaces the handler (tests install their own; no export does).
void setMessageHandler(MessageHandler handler);
// Answers every message with its own name, "=" and the integer token of -8.
QByteArray defaultMessageHandler(const QByteArray& message);

// Where the held listener is, for tests and tools (calling thread only).
enum class ListenerState {
    None,      // no listener held
    Starting,  // thread started, not yet listening
    Listening, // bound to port 6009 and accepting
    Ended,     // thread ended (bind failed, say); the next start replaces it
};
ListenerState listenerState();

} // namespace tqbse::callback
