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

// Message text in, reply text out; runs on the listener thread.
using MessageHandler = std::function<QByteArray(const QByteArray& message)>;

// Starts a listener thread and installs the default handler. 0, or the
// platform's error number when the thread cannot be created.
int startListener();
// -1 when no listener is held, else the result of closing the listening socket (0 when not closed).
int stopListener();
// Replaces the handler (tests install their own; no export does).
void setMessageHandler(MessageHandler handler);
// Answers every message with its own name, "=" and the integer token of -8.
QByteArray defaultMessageHandler(const QByteArray& message);

} // namespace tqbse::callback
