// The request framer: where a request ends, for every server that reads
// requests off a stream (the emulator, the tests' fake server, the bench
// server), from the name's row and the balance of its tokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tqbse {

// A request that could be complete is taken as it is once no more bytes
// arrive for this long (a request a token short, or one left unbalanced).
inline constexpr int kRequestQuietMs = 200;

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
