// Fuzzes the message framers with arbitrary bytes cut into random chunks.
// ReplyFramer, for a reply of 1 to 6 tokens: the reply is exactly the bytes
// of each chunk up to its first zero byte, and every verdict is the one a
// byte-by-byte judgement of the whole reply gives (support/reply_rule.h).
// RequestFramer: fed the growing buffer piece by piece, it judges every
// prefix as the whole-buffer check does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "protocol/framer.h"
#include "support/reply_rule.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "framer check broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // Bytes 0 and 1 seed the cuts; the rest is the stream.
    uint32_t state = (uint32_t(data[0]) << 8 | data[1]) * 2654435761u + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);
    auto nextChunk = [&state] {
        state = state * 1103515245u + 12345u;
        // Mostly short chunks, sometimes a whole receive.
        const uint32_t r = state >> 16;
        return (r & 7) == 0 ? tqbse::kReceiveChunkSize : std::size_t(1 + r % 64);
    };

    const int tokens = 1 + data[0] % 6;
    std::string reply, expected;
    tqbse::ReplyFramer replyFramer(reply, tokens);
    tqbse::RequestFramer requestFramer;
    for (std::size_t at = 0; at < stream.size();) {
        const std::string_view chunk = stream.substr(at, nextChunk());
        at += chunk.size();
        const tqbse::ReplyFramer::Verdict verdict = replyFramer.feed(chunk);
        expected.append(chunk.substr(0, chunk.find('\0')));
        if (reply != expected)
            fail("reply differs from the chunks' bytes up to their zero bytes");
        if (chunk.back() != ')' && verdict != tqbse::ReplyFramer::Verdict::More)
            fail("a chunk not ending in ) ended the reply");
        if (chunk.back() == ')'
            && verdict != tqbse::test::referenceVerdict(reply, chunk.size() < tqbse::kReceiveChunkSize, tokens))
            fail("the verdict differs from the byte-by-byte judgement");

        const std::string_view buffer = stream.substr(0, at);
        if (requestFramer.feed(buffer) != tqbse::isRequestComplete(buffer))
            fail("request judged differently in pieces and whole");
    }
    return 0;
}
