// Where a message ends, decided from bytes alone: no sockets, no clocks.
// Everyone who reads messages off a stream uses these: the client's and the
// emulator's reply loops (ReplyReader), and the emulator, the tests' fake
// server and the benchmark server (RequestFramer). Both are incremental, so a large message
// is scanned once however it is split.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/codec.h"

namespace tqbse {

// Replies and callback messages are received in chunks of this size.
inline constexpr std::size_t kReceiveChunkSize = 4096;
// A reply that could end at a ")" but is not plainly complete is taken as
// complete once no more bytes arrive for this long.
inline constexpr int kQuietMs = 100;

// A message is text: its bytes up to the first zero byte of `chunk`.
std::string_view textBeforeZero(std::string_view chunk);

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
    // scan: `reply` is the expected name (of 16 bytes or more), "=", and
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

// One reply's reading: owns the reply's bytes and the policy that says when
// it is whole, and does no I/O itself. The receive loop around it is:
//
//   reader.begin(tokens, maxBytes);
//   for (;;) {
//       n = receive up to kReceiveChunkSize bytes into reader.space();
//       if (n <= 0) return reader.wholeAtEndOfStream();
//       switch (reader.received(n)) {
//       case Receive: continue;
//       case Done: whole;
//       case TooLarge: give the connection up;
//       case WaitQuiet: whole unless bytes arrive within kQuietMs; else go on;
//       }
//   }
//
// The buffer is kept from one reply to the next, so a small call allocates
// nothing once the first has run, and a repeated bulk call lands in pages
// the last one already touched (no page faults, and it is received there
// directly: see touchedSpace). A buffer a bulk reply grew is held until
// release() (the connection closes) or until a later bulk reply needs
// less than a quarter of it (begin frees it then).
class ReplyReader {
public:
    enum class Next : uint8_t {
        Receive,   // receive more
        WaitQuiet, // whole if nothing more arrives within kQuietMs, else receive more
        Done,      // whole
        TooLarge,  // larger than the call can deliver
        OutOfMemory, // no room for the bytes (feed only)
    };
    // The most one receive into touched pages takes: the bytes are scanned
    // right after it, while they are still in cache.
    static constexpr std::size_t kBulkReceiveBytes = 256 * 1024;
    // A buffer up to this size is kept whatever the next reply needs.
    static constexpr std::size_t kKeptBytes = 64 * 1024;

    ReplyReader() = default;
    ReplyReader(ReplyReader&& other) noexcept { *this = std::move(other); }
    ReplyReader& operator=(ReplyReader&& other) noexcept;
    ~ReplyReader();

    // Starts a reply with `expectedTokens` tokens when successful and at most
    // `maxBytes` bytes. `reserve` bytes are set aside at once (a bulk reply
    // then grows without a copy); false when they cannot be had.
    // `name`: the name the reply should carry, if known (see ReplyFramer::reset).
    // A held buffer over kKeptBytes and more than four times what a bulk
    // reply (`reserve` > 0) needs is freed first.
    void begin(int expectedTokens, std::size_t maxBytes = SIZE_MAX, std::size_t reserve = 0,
               std::string_view name = {});
    // Room for kReceiveChunkSize bytes at the end of the reply; nullptr when
    // memory runs out.
    char* space();
    // Room at the end of the reply in pages an earlier reply already wrote,
    // when there are at least kReceiveChunkSize bytes of it (*room is set,
    // at most kBulkReceiveBytes): a bulk reply is received there in large
    // receives, without a copy.
    // The first chunk of a reply may go to the start of a buffer that has
    // one (a page or two, touched by now or cheaply). nullptr otherwise.
    char* touchedSpace(std::size_t* room)
    {
        std::size_t touched = touched_ - size_; // touched_ >= size_ always
        if (touched < kReceiveChunkSize) {
            if (size_ != 0 || capacity_ < kReceiveChunkSize)
                return nullptr;
            touched = kReceiveChunkSize;
        }
        *room = std::min(touched, kBulkReceiveBytes);
        // A receive that fills its room never ends a reply by itself, so the
        // room reaches one byte past the touched pages where the buffer has
        // it: a reply as long as the last one then ends with a short receive
        // instead of a quiet wait. The byte is written only by a longer reply.
        if (*room == touched && capacity_ - size_ > touched)
            ++*room;
        return data_ + size_;
    }
    // `n` bytes (1 to `room`) were received into space() (room
    // kReceiveChunkSize) or touchedSpace().
    Next received(std::size_t n, std::size_t room = kReceiveChunkSize);
    // The same for bytes received elsewhere: copied, then judged.
    Next feed(std::string_view chunk);
    // The peer closed the stream: the reply is whole only if it was waiting
    // for quiet (it could end, and the bytes that came were its last).
    bool wholeAtEndOfStream() const { return couldEnd_; }

    std::string_view reply() const { return {data_, size_}; }
    int tokens() const { return framer_.tokens(); }
    // Whether the reply came whole in one receive with exactly its expected
    // tokens, the name the reply should carry and no parenthesis inside a
    // token (ReplyFramer::takeFlat), whose ends framer() holds.
    bool flat() const { return framer_.flat(); }
    const ReplyFramer& framer() const { return framer_; }
    // Cuts the reply into its name and tokens (see ReplyFramer::split).
    void split(codec::SplitMessage* out);
    // Frees the buffer.
    void release();
    std::size_t capacity() const { return capacity_; }

private:
    bool reserveTotal(std::size_t total);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t touched_ = 0; // bytes of the buffer ever written
    std::size_t maxBytes_ = SIZE_MAX;
    std::size_t chunkFill_ = 0; // bytes of the current chunk, when the last receive filled its room
    ReplyFramer framer_;
    bool couldEnd_ = false;
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
