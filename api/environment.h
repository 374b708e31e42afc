// The environment variables Initialise reads, each read afresh at every
// Initialise (api/environment.cpp says what each value means).
#pragma once

#include "platform/platform.h"

namespace tqbse::environment {

// TQBSE_REPLY_TIMEOUT_MS: the reply deadline in milliseconds, 0 for none.
int replyDeadline();
// TQBSE_DIAGNOSTICS: where the socket layer's texts go.
platform::DiagnosticsTarget diagnostics();
// TQBSE_INTERRUPT_FD: the descriptor that ends a waiting call, or
// platform::kInvalidSocket.
platform::SocketHandle interrupt();

} // namespace tqbse::environment
