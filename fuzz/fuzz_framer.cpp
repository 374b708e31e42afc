// Fuzzes the message framers with arbitrary bytes cut into random chunks.
// ReplyReader, for a reply of 1 to 6 tokens: the reply is exactly the bytes
// of each chunk up to its first zero byte, every verdict is the one a
// byte-by-byte judgement of the whole reply gives, and the reply is cut as
// splitMessage cuts it (support/reply_rule.h).
// RequestFramer: fed the growing buffer piece by piece, it judges every
// prefix as the whole-buffer check does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "protocol/reply_reader.h"
#include "protocol/request_framer.h"
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
    std::string expected;
    tqbse::ReplyReader reader;
    reader.begin(tokens);
    tqbse::RequestFramer requestFramer;
    for (std::size_t at = 0; at < stream.size();) {
        const std::string_view chunk = stream.substr(at, nextChunk());
        at += chunk.size();
        const tqbse::ReplyReader::Next verdict = reader.feed(chunk);
        expected.append(chunk.substr(0, chunk.find('\0')));
        const std::string_view reply = reader.reply();
        if (reply != expected)
            fail("reply differs from the chunks' bytes up to their zero bytes");
        if (chunk.back() != ')' && verdict != tqbse::ReplyReader::Next::Receive)
            fail("a chunk not ending in ) ended the reply");
        if (chunk.back() == ')'
            && verdict != tqbse::test::referenceVerdict(reply, chunk.size() < tqbse::kReceiveChunkSize, tokens))
            fail("the verdict differs from the byte-by-byte judgement");

        // Cutting between chunks leaves the later verdicts as they were.
        tqbse::codec::SplitMessage split;
        reader.split(&split);
        if (!reply.empty() && !tqbse::test::cutsAsSplitMessage(reply, split, tokens))
            fail("the reply is cut differently from splitMessage");

        // Array elements the reader claims as checked are well formed, and
        // the decoder told of them decodes as without.
        for (const std::string_view token : split.params) {
            const std::size_t checked = reader.framer().checkedElements(std::size_t(token.data() - reply.data()));
            if (checked > tqbse::test::referenceCommaElementsOfToken(token))
                fail("array elements claimed as checked that are not well formed");
            tqbse::codec::DoubleArrayView told, untold;
            if (checked > 0
                && tqbse::codec::parseDoubleArray(token, &told, checked) != tqbse::codec::parseDoubleArray(token, &untold))
                fail("the decoder told of checked elements decodes otherwise");
        }

        const std::string_view buffer = stream.substr(0, at);
        if (requestFramer.feed(buffer) != tqbse::isRequestComplete(buffer))
            fail("request judged differently in pieces and whole");
    }
    return 0;
}
