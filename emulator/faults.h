// Fault injection: what the server does wrong on purpose, for testing the
// library's failure paths. Pure functions on the reply text; the server
// applies delays, pieces and closing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tqbse::emu {

struct FaultOptions {
    int delayMs = 0;         // wait before each reply
    int pieceSize = 0;       // > 0: send replies in pieces of this many bytes
    int piecePauseMs = 20;   // pause between pieces
    int closeAfter = -1;     // >= 0: answer that many requests, then close on the next
    bool closeMidReply = false;
    int stallAfter = -1;     // >= 0: send that many bytes of the reply, then nothing more
    bool wrongName = false;
    bool missingOutputs = false;
    bool badHex = false;
    int tokenPauseMs = -1;   // >= 0: send each reply a token per write, this many ms apart
    bool sendTwice = false;  // send each reply twice, back to back
    bool endlessText = false; // answer with a text token that never ends
    std::string call;        // restricts every fault to this call (full or short name)

    // True when any fault is switched on.
    bool any() const;
    bool appliesTo(std::string_view requestName) const;
};

// The reply with the text faults applied: another name, the outputs left
// out (the result code stays), or a broken hex pair in the first numeric
// output (in the result code when the reply has no numeric output).
std::string applyReplyFaults(const FaultOptions& faults, std::string reply);

// End offsets of the pieces of a reply. No piece but the last ends in ")",
// so that a reader which takes a short receive ending in ")" as the end of
// the reply still sees the whole reply.
std::vector<std::size_t> pieceEnds(std::string_view reply, int pieceSize);

// End offsets of the pieces of a reply cut after each token: the name and
// "=" travel with the first token, and every piece but the last ends in
// ")", which a reader that counts nothing takes for the end of the reply.
std::vector<std::size_t> tokenEnds(std::string_view reply);

// Where a reply is cut when the connection closes in its middle: about half
// way, never after a ")".
std::size_t midReplyCut(std::string_view reply);

} // namespace tqbse::emu
