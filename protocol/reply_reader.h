// The reply buffer: one reply's bytes, the bound on their size and the
// policy of the memory they live in, fed by a receive loop and judged by
// ReplyFramer. Does no I/O itself; receiveReply (client/receive.h) is the
// loop around it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "protocol/codec.h"
#include "protocol/reply_framer.h"

namespace tqbse {

// Replies and callback messages are received in chunks of this size.
inline constexpr std::size_t kReceiveChunkSize = 4096;
// A reply that could end at a ")" but is not plainly complete is taken as
// complete once no more bytes arrive for this long.
inline constexpr int kReplyQuietMs = 100;

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
//       case WaitQuiet: whole unless bytes arrive within kReplyQuietMs; else go on;
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
        WaitQuiet, // whole if nothing more arrives within kReplyQuietMs, else receive more
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

} // namespace tqbse
