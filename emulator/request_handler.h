// Request handling without sockets: framing (when a request is complete),
// checking a request against its row of the call table, running the model's
// handler and encoding the reply generically from the row's outputs.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <string_view>
#include <vector>

#include "emulator/model.h"

namespace tqbse::emu {

// Where a request came from and when it is handled.
struct CallContext {
    QByteArray peer = "127.0.0.1";
    Clock::time_point now = Clock::now();
};

// One reply for one request: name, "=", the result code, then the outputs of
// the call's row in order (only the result code when it is negative). Any
// bytes get a well-formed reply: -8 unknown name, -9 wrong token count,
// -20 a token of the wrong kind, -2/-6 a token that does not decode.
QByteArray handleRequest(Model& model, QByteArrayView request);
QByteArray handleRequest(Model& model, QByteArrayView request, const CallContext& context);

// The name part of a message (everything before the first "=").
QByteArrayView messageName(QByteArrayView message);

// Decides, as bytes arrive, whether the buffer holds a whole request: the
// name, "=", and balanced tokens, as many as the call's row has inputs (a
// call without inputs, or an unknown name, is complete at "=" when nothing
// follows). A request that never completes (unbalanced text, a token left
// out) is taken after a quiet period by the server. Incremental, so that a
// large upload is scanned once.
class RequestScanner {
public:
    // Scans the bytes of `buffer` not seen yet; `buffer` only grows between calls.
    bool feed(QByteArrayView buffer);
    bool complete() const { return complete_; }
    void reset() { *this = RequestScanner(); }

private:
    qsizetype scanned_ = 0;
    qsizetype eq_ = -1;
    int expected_ = 0; // -1: unknown name
    int tokens_ = 0;
    int64_t depth_ = 0;
    bool complete_ = false;
};
bool isRequestComplete(QByteArrayView buffer);

// Names of remote rows that have no handler (empty when all are served).
std::vector<std::string_view> callsWithoutHandler();

} // namespace tqbse::emu
