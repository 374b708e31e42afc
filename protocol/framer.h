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

namespace tqbse {

// The client receives a reply in chunks of this size.
inline constexpr std::size_t kReceiveChunkSize = 4096;

// The end of a reply, judged at each received chunk. A chunk shorter than
// kReceiveChunkSize whose last byte is ")" ends the reply when its
// parentheses balance. Two cases could end it but need the stream to stay
// quiet first: a full chunk ending in ")" with the parentheses balanced (a
// reply that fills its last chunk exactly), and a short chunk ending in ")"
// with parentheses still open (a server that sent one reply in several
// writes). Everything else needs more bytes.
class ReplyFramer {
public:
    enum class Verdict : uint8_t {
        More,       // the reply cannot end here
        End,        // the reply ends here, unless more bytes are already waiting
        EndIfQuiet, // the reply ends here if no more bytes arrive for a while
    };

    // Appends to `reply`, which the framer does not own.
    explicit ReplyFramer(std::string& reply) : reply_(reply), counted_(reply.size()) {}

    // Takes one received chunk of at most kReceiveChunkSize bytes. Chunks are
    // text: a zero byte ends the chunk's contribution to the reply.
    Verdict feed(std::string_view chunk);

private:
    std::string& reply_;
    std::size_t counted_; // bytes of the reply whose parentheses are in depth_
    int64_t depth_ = 0;
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
