// The reply framer: whether the bytes of a reply received so far can end
// it, from parentheses and token counts alone (array syntax is the
// codec's). No sockets, no clocks, no buffer: ReplyReader owns the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "protocol/codec.h"

namespace tqbse {

// The end of a reply, judged at each received chunk. A short chunk (one
// that did not fill its receive) whose last byte is ")" ends the reply when
// its parentheses balance and the reply holds every token a successful reply
// to the call carries (the result and the outputs), or its result token is
// negative (a failure carries nothing else). A reply that could end at a ")"
// but lacks that proof ends only when the stream stays quiet first: a short
// chunk with parentheses still open (a server that sent one reply in several
// writes), a balanced chunk without all its tokens (a reply split after a
// token, or one that really is short of outputs), and any full chunk that
// balances, with its tokens or without: a full chunk may have more of the
// reply behind it (a newer server's extra tokens), so it never ends a reply
// by itself. Everything else needs more bytes.
//
// Tokens are counted at the top level only, byte by byte, until the last
// expected token begins; from there only the balance is kept, counted in
// vector blocks, so a bulk text or array is scanned once, at speed: when the
// bytes from that token's "(" on balance, the token has closed. Where each
// expected token ends is recorded on the way, so the reply is cut into its
// tokens without a second pass.
class ReplyFramer {
public:
    enum class Verdict : uint8_t {
        More,       // the reply cannot end here
        End,        // the reply is whole
        EndIfQuiet, // the reply ends here if no more bytes arrive for a while
    };

    // `expectedTokens`: the tokens of a successful reply, the result
    // included (at least 1).
    explicit ReplyFramer(int expectedTokens = 1) { reset(expectedTokens); }
    // Starts over, for a new reply. `name`, when given, is the name the reply
    // should carry, without parentheses (a call's name): a reply that starts
    // with it is not searched for its "=".
    void reset(int expectedTokens, std::string_view name = {});

    // The reply is `reply`, of which the bytes past those seen before
    // arrived in one receive whose last byte was `last`; what followed a
    // zero byte in it is already cut off. `shortChunk`: the receive ended a
    // chunk shorter than kReceiveChunkSize (the stream had nothing more at
    // that moment); see ReplyReader::received.
    Verdict advance(std::string_view reply, bool shortChunk, char last);
    // The bytes data[size, size + n) just received after the reply's first
    // `size` (all seen by advance): how many of them come before a zero byte
    // (textBeforeZero). Once the last expected token has begun, their
    // parentheses are counted in the same pass, while they are in cache, so
    // a bulk reply is never scanned again after its receive.
    std::size_t takeChunk(const char* data, std::size_t size, std::size_t n);

    // Top-level tokens known to be complete so far (counted up to the start
    // of the last expected one), and whether the first is a negative result.
    int tokens() const { return tokens_; }
    bool failed(std::string_view reply) const;

    // The usual small reply, taken whole from its first receive without the
    // scan (plain code, one pass over at most kFlatTokenBytes): `reply` is the expected name (of 16 bytes or more), "=", and
    // exactly the expected tokens side by side, none holding a parenthesis,
    // a zero byte or anything after the last, in at most kFlatTokenBytes
    // bytes after the "=". False for anything else, which the scan then
    // judges as usual. When true the reply is whole (End), and flatToken()
    // gives its tokens.
    bool takeFlat(std::string_view reply);
    bool flat() const { return flat_; }
    // Token k (0 for the result) of a reply takeFlat took.
    std::string_view flatToken(const char* reply, int k) const
    {
        const std::size_t from = k == 0 ? nameEnd_ + 1 : ends_[k - 1];
        return {reply + from, ends_[k] - from};
    }
    static constexpr std::size_t kFlatTokenBytes = 64;

    // Cuts `reply` (all of it seen by advance) as codec::splitMessage does,
    // up to the expected tokens, from what the scan recorded. Falls back to
    // codec::splitMessage for a reply whose parentheses stray outside its
    // tokens.
    void split(std::string_view reply, codec::SplitMessage* out);

    // How many elements of the array token that begins at reply[token] are
    // known well formed (codec::parseDoubleArray's checkedElements): a long
    // array token's elements are checked as they arrive, while in cache,
    // up to the first that is not 16 hex digits and a comma.
    std::size_t checkedElements(std::size_t token) const;

    // The most tokens whose ends are recorded.
    static constexpr int kMaxRecordedTokens = 16;
    // The most array tokens whose elements are checked as they arrive (a
    // trace's two).
    static constexpr int kMaxCheckedRuns = 2;
    // A last expected token with at most this many bytes after its "(" so
    // far is counted with the tokens before it, not in vector blocks.
    static constexpr std::size_t kShortRest = 256;

private:
    // An array token's elements as checked so far.
    struct CheckedRun {
        std::size_t token;    // offset of its "("
        std::size_t elements; // offset of its first element; 0 until its "[" has arrived
        std::size_t end;      // whole elements with their commas are known good up to here
    };
    void followRun(std::size_t token);
    void checkRun(const char* data, std::size_t size);
    std::size_t pastCheckedRun(std::size_t at) const;
    void scanTokens(std::string_view reply);
    void countBalance(std::string_view reply);
    bool holdsExpectedTokens(std::string_view reply) const;

    std::string_view name_; // the expected name
    std::size_t scanned_;  // bytes looked at for tokens
    std::size_t counted_;  // bytes whose parentheses are in depth_
    int expected_;
    int64_t depth_;        // net parentheses of reply[0, counted_)
    int64_t tokenStart_;
    int tokens_;
    bool sawEquals_;
    bool lastTokenOpen_;   // the last expected token has begun; balance only from here
    bool irregular_;       // a parenthesis in the name, or a ")" between tokens
    bool flat_;            // taken by takeFlat: ends_ holds every expected token's end
    std::size_t nameEnd_;  // offset of the "="
    std::size_t lastEnd_;  // end of the last expected token, once it has closed
    std::pair<std::size_t, std::size_t> first_; // offset and length of the first token
    std::size_t ends_[kMaxRecordedTokens] = {};        // where each token ends
    CheckedRun runs_[kMaxCheckedRuns] = {};
    int runCount_;
    bool following_;       // the last of runs_ may be checked further
};

} // namespace tqbse
