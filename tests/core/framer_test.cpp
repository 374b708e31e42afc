// Where a reply ends, judged from bytes alone: the client's chunk rules fed
// to the ReplyFramer chunk by chunk, with no socket, replies split anywhere,
// and chunks of the receive size around its multiples. What needs a real
// socket (bytes already waiting, the quiet wait, the end of the stream) is
// in the client socket test.
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

constexpr Verdict More = Verdict::More;
constexpr Verdict End = Verdict::End;
constexpr Verdict EndIfQuiet = Verdict::EndIfQuiet;

const char* nameOf(Verdict v) { return v == More ? "More" : v == End ? "End" : "EndIfQuiet"; }

struct Fed {
    std::vector<Verdict> verdicts;
    std::string reply;
};

Fed feedAll(const std::vector<std::string>& chunks)
{
    Fed f;
    ReplyFramer framer(f.reply);
    for (const std::string& c : chunks)
        f.verdicts.push_back(framer.feed(c));
    return f;
}

std::string verdictText(const std::vector<Verdict>& verdicts)
{
    std::string s;
    for (Verdict v : verdicts)
        s += std::string(s.empty() ? "" : ",") + nameOf(v);
    return s;
}

// A text reply of exactly `size` bytes: name=(n=00000000)(s=abc...).
std::string textReplyOfSize(std::size_t size)
{
    std::string r = "R=(n=00000000)(s=";
    for (std::size_t i = 0; r.size() < size - 1; ++i)
        r += char('a' + i % 26);
    return r + ")";
}

TEST(ReplyFramer, ChunkRules)
{
    const std::string full = textReplyOfSize(kReceiveChunkSize); // ends ")" at the boundary, balanced
    std::string open = "R=(n=00000000)(s=((";
    open += std::string(kReceiveChunkSize - open.size() - 1, 'x') + ")"; // ends ")" at the boundary, still open
    const std::string notParen(kReceiveChunkSize, 'y');
    struct Case {
        const char* what;
        std::vector<std::string> chunks;
        std::vector<Verdict> verdicts;
        std::string reply; // empty: the chunks joined
    };
    const std::vector<Case> cases = {
        {"one short chunk", {"R=(n=00000000)"}, {End}, ""},
        {"short chunk without )", {"R=(n=000", "00000)"}, {More, End}, ""},
        {"three pieces", {"R=", "(n=00000000)(s=a", "bc)"}, {More, More, End}, ""},
        // End means: unless more bytes are already waiting; those continue the reply.
        {"short chunk at a token's end", {"R=(n=00000000)", "(n=05000000)"}, {End, End}, ""},
        {"short chunk, a token still open", {"R=(n=00000000)(s=(x)", ")"}, {EndIfQuiet, End}, ""},
        {"full chunk, balanced", {full}, {EndIfQuiet}, ""},
        {"full chunk, balanced, then more", {full, "(n=01000000)"}, {EndIfQuiet, End}, ""},
        {"full chunk, open, then the rest", {open, "))"}, {More, End}, ""},
        {"full chunk without ), then )", {notParen, ")"}, {More, End}, ""},
        {"two full chunks, then )", {notParen, notParen, ")"}, {More, More, End}, ""},
        {"zero byte cuts the chunk", {"R=(n=00000000)\0junk)"s}, {End}, "R=(n=00000000)"},
        {"zero byte in a middle chunk", {"R=(n=0\0zz"s, "0000000)"}, {More, End}, "R=(n=00000000)"},
        {"the chunk's last byte decides, not the last kept one", {"R=(n=00000000)\0x"s}, {More}, "R=(n=00000000)"},
        {"empty chunk", {""}, {More}, ""},
    };
    for (const Case& c : cases) {
        const Fed f = feedAll(c.chunks);
        EXPECT_EQ(verdictText(f.verdicts), verdictText(c.verdicts)) << c.what;
        std::string joined;
        for (const std::string& chunk : c.chunks)
            joined += chunk;
        EXPECT_EQ(f.reply, c.reply.empty() ? joined : c.reply) << c.what;
    }
}

// Replies as the socket delivers them, in chunks of the receive size: one
// that fills its last chunk exactly can only end after a quiet wait.
TEST(ReplyFramer, RepliesAroundMultiplesOfTheReceiveSize)
{
    for (std::size_t k = 1; k <= 3; ++k) {
        for (int delta : {-1, 0, 1}) {
            const std::string reply = textReplyOfSize(kReceiveChunkSize * k + std::size_t(int64_t(delta)));
            std::vector<std::string> chunks;
            for (std::size_t at = 0; at < reply.size(); at += kReceiveChunkSize)
                chunks.push_back(reply.substr(at, kReceiveChunkSize));
            const Fed f = feedAll(chunks);
            ASSERT_EQ(f.reply, reply);
            for (std::size_t i = 0; i + 1 < chunks.size(); ++i)
                EXPECT_EQ(nameOf(f.verdicts[i]), nameOf(More)) << reply.size() << " bytes, chunk " << i;
            EXPECT_EQ(nameOf(f.verdicts.back()), nameOf(delta == 0 ? EndIfQuiet : End)) << reply.size() << " bytes";
        }
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
        Verdict verdict = More;
        const std::size_t chunk = 1 + rng() % kReceiveChunkSize;
        for (std::size_t at = 0; at < reply.size(); at += chunk)
            verdict = framer.feed(std::string_view(reply).substr(at, chunk));
        ASSERT_EQ(received, reply);
        const bool shortLast = (reply.size() - 1) % chunk + 1 < kReceiveChunkSize;
        const Verdict expected = shortLast && depth <= 0 ? End : shortLast || depth <= 0 ? EndIfQuiet : More;
        ASSERT_EQ(nameOf(verdict), nameOf(expected)) << "length " << reply.size() << " chunk " << chunk;
    }
}

} // namespace
