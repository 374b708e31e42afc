// Where a reply ends, judged from bytes alone: the client's chunk rules fed
// to the ReplyFramer chunk by chunk, with no socket, replies split anywhere,
// and chunks of the receive size. What needs a real socket (bytes already
// waiting, the quiet wait, the end of the stream) is in the client socket test.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "protocol/framer.h"

namespace {

using tqbse::kReceiveChunkSize;
using tqbse::ReplyFramer;
using Verdict = ReplyFramer::Verdict;
using namespace std::string_literals;

const char* nameOf(Verdict v) { return v == Verdict::More ? "More" : v == Verdict::End ? "End" : "EndIfQuiet"; }

TEST(ReplyFramer, ChunkRules)
{
    std::string full = "R=(n=00000000)(s=";
    full += std::string(kReceiveChunkSize - full.size() - 1, 'a') + ")"; // ends ")" at the boundary, balanced
    std::string open = "R=(n=00000000)(s=((";
    open += std::string(kReceiveChunkSize - open.size() - 1, 'x') + ")"; // ends ")" at the boundary, still open
    struct Case {
        const char* what;
        std::vector<std::string> chunks;
        std::string verdicts;
        std::string reply; // empty: the chunks joined
    };
    const std::vector<Case> cases = {
        {"one short chunk", {"R=(n=00000000)"}, "End ", ""},
        {"short chunk without )", {"R=(n=000", "00000)"}, "More End ", ""},
        {"short chunk, a token still open", {"R=(n=00000000)(s=(x)", ")"}, "EndIfQuiet End ", ""},
        {"full chunk, balanced", {full}, "EndIfQuiet ", ""},
        {"full chunk, open, then the rest", {open, "))"}, "More End ", ""},
        {"full chunk without ), then )", {std::string(kReceiveChunkSize, 'y'), ")"}, "More End ", ""},
        {"zero byte cuts the chunk", {"R=(n=00000000)\0junk)"s}, "End ", "R=(n=00000000)"},
        {"the chunk's last byte decides, not the last kept one", {"R=(n=00000000)\0x"s}, "More ", "R=(n=00000000)"},
        {"empty chunk", {""}, "More ", ""},
    };
    for (const Case& c : cases) {
        std::string reply, verdicts, joined;
        ReplyFramer framer(reply);
        for (const std::string& chunk : c.chunks) {
            verdicts += nameOf(framer.feed(chunk)) + " "s;
            joined += chunk;
        }
        EXPECT_EQ(verdicts, c.verdicts) << c.what;
        EXPECT_EQ(reply, c.reply.empty() ? joined : c.reply) << c.what;
    }
}

// The framer counts parentheses in vector blocks: its verdict must agree with
// a byte-by-byte count at any length and any split, also where single lanes
// count high (long runs of one parenthesis).
TEST(ReplyFramer, CountsParenthesesLikeAByteScan)
{
    std::mt19937 rng(2024);
    const std::size_t lengths[] = {1, 15, 16, 17, 4095, 4096, 4097, 16 * 255 - 1, 16 * 255, 16 * 255 + 1,
                                   2 * 16 * 255 + 7, 100000};
    for (int round = 0; round < 300; ++round) {
        std::string reply(lengths[std::size_t(round) % std::size(lengths)] + rng() % 3, 'x');
        const int density = 1 + int(rng() % 50);
        for (char& c : reply) {
            const unsigned r = rng() % 100;
            c = r < unsigned(density) ? '(' : r < unsigned(2 * density) ? ')' : char('a' + r % 26);
        }
        if (round % 7 == 0)
            std::fill(reply.begin(), reply.begin() + std::ptrdiff_t(reply.size() / 2), '(');
        reply.back() = ')';
        int64_t depth = 0;
        for (char c : reply)
            depth += (c == '(') - (c == ')');

        std::string received;
        ReplyFramer framer(received);
        Verdict verdict = Verdict::More;
        const std::size_t chunk = 1 + rng() % kReceiveChunkSize;
        for (std::size_t at = 0; at < reply.size(); at += chunk)
            verdict = framer.feed(std::string_view(reply).substr(at, chunk));
        ASSERT_EQ(received, reply);
        const bool shortLast = (reply.size() - 1) % chunk + 1 < kReceiveChunkSize;
        const Verdict expected = shortLast && depth <= 0 ? Verdict::End
                                 : shortLast || depth <= 0 ? Verdict::EndIfQuiet
                                                           : Verdict::More;
        ASSERT_EQ(nameOf(verdict), nameOf(expected)) << "length " << reply.size() << " chunk " << chunk;
    }
}

} // namespace
