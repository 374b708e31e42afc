// Where a message ends, decided from bytes alone: no sockets, no clocks.
// Everyone who reads messages off a stream uses these: the client's receive
// loop (ReplyFramer), and the emulator, the tests' fake server and the
// benchmark server (RequestFramer). Both are incremental, so a large message
// is scanned once however it is split.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tqbse {

// The client receives a reply in chunks of this size.
inline constexpr std::size_t kReceiveChunkSize = 4096;

// The end of a reply, judged at each received chunk. A chunk whose last byte
// is ")" ends the reply when its parentheses balance and the reply holds
// every token a successful reply to the call carries (the result and the
// outputs), or its result token is negative (a failure carries nothing
// else). A reply that could end at a ")" but lacks that proof ends only when
// the stream stays quiet first: a short chunk with parentheses still open (a
// server that sent one reply in several writes), a balanced chunk without
// all its tokens (a reply split after a token, or one that really is short
// of outputs), and a full chunk that balances without the tokens.
// Everything else needs more bytes.
//
// Tokens are counted at the top level only, byte by byte, until the last
// expected token begins; from there only the balance is kept, counted in
// vector blocks, so a bulk text or array is scanned once, at speed: when the
// bytes from that token's "(" on balance, the token has closed.
class ReplyFramer {
public:
    enum class Verdict : uint8_t {
        More,       // the reply cannot end here
        End,        // the reply is whole
        EndIfQuiet, // the reply ends here if no more bytes arrive for a while
    };

    // Appends to `reply`, which the framer does not own. `expectedTokens`:
    // the tokens of a successful reply, the result included (at least 1).
    explicit ReplyFramer(std::string& reply, int expectedTokens = 1)
        : reply_(reply), scanned_(reply.size()), counted_(reply.size()),
          expected_(expectedTokens < 1 ? 1 : expectedTokens)
    {
    }

    // Takes one received chunk of at most kReceiveChunkSize bytes. Chunks are
    // text: a zero byte ends the chunk's contribution to the reply.
    Verdict feed(std::string_view chunk);

    // Top-level tokens known to be complete so far (counted up to the start
    // of the last expected one), and whether the first is a negative result.
    int tokens() const { return tokens_; }
    bool failed() const;

private:
    void scanTokens();
    bool holdsExpectedTokens() const;

    std::string& reply_;
    std::size_t scanned_;  // bytes looked at for tokens
    std::size_t counted_;  // bytes whose parentheses are in depth_
    int expected_;
    int64_t depth_ = 0;    // net parentheses of reply_[0, counted_)
    int64_t tokenStart_ = -1;
    int tokens_ = 0;
    bool sawEquals_ = false;
    bool lastTokenOpen_ = false; // the last expected token has begun; balance only from here
    std::pair<std::size_t, std::size_t> first_{0, 0}; // offset and length of the first token
};

// The end of a request: the name, "=", and balanced tokens, as many as the
// call's row has inputs (a call without inputs, or an unknown name, is
// complete at "=" when nothing follows). A request that never completes (a
// token left out, unbalanced text) is the server's to take after a quiet
// period.
class RequestFramer {
public:
    // Scans the bytes of `buffer` not seen yet; `buffer` only grows between
    // calls until reset(). True once the request is complete.
    bool feed(std::string_view buffer);
    bool complete() const { return complete_; }
    void reset() { *this = RequestFramer(); }

private:
    std::size_t scanned_ = 0;
    int64_t eq_ = -1;
    int expected_ = 0; // inputs of the named call; -1 for an unknown name
    int tokens_ = 0;
    int64_t depth_ = 0;
    bool complete_ = false;
};

// The same judgement of a whole request in one piece.
bool isRequestComplete(std::string_view request);

} // namespace tqbse
