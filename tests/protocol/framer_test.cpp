// Where a reply ends and how it is cut, judged from bytes alone: the
// client's chunk rules fed to the ReplyReader chunk by chunk, with no socket, replies split anywhere,
// and chunks of the receive size. What needs a real socket (bytes already
// waiting, the quiet wait, the end of the stream) is in the client socket test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "protocol/reply_reader.h"
#include "support/reply_rule.h"

namespace {

using tqbse::kReceiveChunkSize;
using tqbse::ReplyReader;
using Verdict = ReplyReader::Next;
using namespace std::string_literals;

const char* nameOf(Verdict v)
{
    return v == Verdict::Receive ? "More" : v == Verdict::Done ? "End" : v == Verdict::WaitQuiet ? "EndIfQuiet" : "TooLarge";
}

TEST(ReplyFramer, ChunkRules)
{
    const std::string get = "R=(n=00000000)(d=000000000000f03f)";
    std::string full = "R=(n=00000000)(s=";
    full += std::string(kReceiveChunkSize - full.size() - 1, 'a') + ")"; // ends ")" at the boundary, balanced
    std::string open = "R=(n=00000000)(s=((";
    open += std::string(kReceiveChunkSize - open.size() - 1, 'x') + ")"; // ends ")" at the boundary, still open
    struct Case {
        const char* what;
        int tokens; // of a successful reply
        std::vector<std::string> chunks;
        std::string verdicts;
        std::string reply; // empty: the chunks joined
    };
    const std::vector<Case> cases = {
        {"result only, one short chunk", 1, {"R=(n=00000000)"}, "End ", ""},
        {"short chunk without )", 1, {"R=(n=000", "00000)"}, "More End ", ""},
        {"split after the result, an output to come", 2, {"R=(n=00000000)", "(d=000000000000f03f)"},
         "EndIfQuiet End ", ""},
        {"split inside the output", 2, {get.substr(0, 20), get.substr(20)}, "More End ", ""},
        {"a failure carries no outputs", 2, {"R=(n=f8ffffff)"}, "End ", ""},
        {"a warning without its outputs waits", 2, {"R=(n=01000000)"}, "EndIfQuiet ", ""},
        {"an undecodable result waits", 2, {"R=(d=0000000000000000)"}, "EndIfQuiet ", ""},
        {"the version's four tokens", 5, {"V=(n=00000000)(n=06000000)(n=00000000)", "(n=00000000)(n=00000000)"},
         "EndIfQuiet End ", ""},
        {"a text holding balanced parentheses", 2, {"R=(n=00000000)(s=a(b)", "c)"}, "EndIfQuiet End ", ""},
        {"a token still open", 2, {"R=(n=00000000)(s=(x)", ")"}, "EndIfQuiet End ", ""},
        {"the same reply twice in one chunk", 2, {get + get}, "End ", ""},
        {"full chunk, balanced, whole, waits: more may follow", 2, {full}, "EndIfQuiet ", ""},
        {"full chunk, whole, then extra tokens", 2, {full, "(n=00000000)"}, "EndIfQuiet End ", ""},
        {"full chunk, a failure, waits too", 3, {"R=(n=f8ffffff)(s=" + full.substr(17)}, "EndIfQuiet ", ""},
        {"full chunk, balanced, an output short", 3, {full}, "EndIfQuiet ", ""},
        {"full chunk, open, then the rest", 2, {open, "))"}, "More End ", ""},
        {"bytes without a name", 1, {std::string(kReceiveChunkSize, 'y'), ")"}, "More EndIfQuiet ", ""},
        {"zero byte cuts the chunk", 1, {"R=(n=00000000)\0junk)"s}, "End ", "R=(n=00000000)"},
        {"the chunk's last byte decides, not the last kept one", 1, {"R=(n=00000000)\0x"s}, "More ",
         "R=(n=00000000)"},
        {"empty chunk", 1, {""}, "More ", ""},
    };
    for (const Case& c : cases) {
        std::string verdicts, joined;
        ReplyReader reader;
        reader.begin(c.tokens);
        for (const std::string& chunk : c.chunks) {
            verdicts += nameOf(reader.feed(chunk)) + " "s;
            joined += chunk;
        }
        EXPECT_EQ(verdicts, c.verdicts) << c.what;
        EXPECT_EQ(reader.reply(), c.reply.empty() ? joined : c.reply) << c.what;
        tqbse::codec::SplitMessage split;
        reader.split(&split);
        EXPECT_TRUE(tqbse::test::cutsAsSplitMessage(reader.reply(), split, c.tokens)) << c.what;
    }
}

// The framer counts tokens only up to the last expected one and parentheses
// after it in vector blocks: its verdict must agree with a byte-by-byte
// judgement at any length and any split, also where single lanes count high
// (long runs of one parenthesis), and its cut with splitMessage's.
TEST(ReplyFramer, AgreesWithAByteByByteJudgement)
{
    std::mt19937 rng(2024);
    const std::size_t lengths[] = {1, 15, 16, 17, 4095, 4096, 4097, 16 * 255 - 1, 16 * 255, 16 * 255 + 1,
                                   2 * 16 * 255 + 7, 100000};
    const char* const heads[] = {"", "R=", "R=(n=00000000)", "R=(n=f8ffffff)", "R=(n=00000000)(n=01000000)"};
    for (int round = 0; round < 400; ++round) {
        std::string reply = heads[rng() % std::size(heads)];
        reply += std::string(lengths[std::size_t(round) % std::size(lengths)] + rng() % 3, 'x');
        const int density = 1 + int(rng() % 50);
        for (std::size_t i = reply.find('=') + 1; i < reply.size(); ++i) {
            if (i < 14 && reply[i] != 'x')
                continue;
            const unsigned r = rng() % 100;
            reply[i] = r < unsigned(density) ? '(' : r < unsigned(2 * density) ? ')' : char('a' + r % 26);
        }
        if (round % 7 == 0)
            std::fill(reply.begin() + std::ptrdiff_t(reply.size() / 4), reply.begin() + std::ptrdiff_t(reply.size() / 2), '(');
        reply.back() = ')';
        const int expected = 1 + int(rng() % 4);

        // Every other round the reader is told the name: a reply that starts
        // with it skips the search for "=", and must be judged the same.
        ReplyReader reader;
        reader.begin(expected, SIZE_MAX, 0, round % 2 ? "R" : "");
        Verdict verdict = Verdict::Receive;
        const std::size_t chunk = 1 + rng() % kReceiveChunkSize;
        for (std::size_t at = 0; at < reply.size(); at += chunk)
            verdict = reader.feed(std::string_view(reply).substr(at, chunk));
        ASSERT_EQ(reader.reply(), reply);
        const bool shortLast = (reply.size() - 1) % chunk + 1 < kReceiveChunkSize;
        ASSERT_STREQ(nameOf(verdict), nameOf(tqbse::test::referenceVerdict(reply, shortLast, expected)))
            << "length " << reply.size() << " chunk " << chunk << " tokens " << expected;
        tqbse::codec::SplitMessage split;
        reader.split(&split);
        ASSERT_TRUE(tqbse::test::cutsAsSplitMessage(reply, split, expected))
            << "length " << reply.size() << " chunk " << chunk << " tokens " << expected;
    }
}

// A small reply that arrives whole is taken in one pass when it carries the
// expected name and exactly the expected tokens side by side, none holding a
// parenthesis, within 64 bytes after the "="; everything near that boundary
// goes through the scan. Either way verdict and cut are the scan's.
TEST(ReplyReader, AWholeSmallReplyIsTakenInOnePassOnlyWithinItsBounds)
{
    const std::string name = "ExpectedReplyName"; // 17 bytes
    const std::string ok = "(n=00000000)", d = "(d=0000000000c0d141)";
    struct Case {
        const char* what;
        std::string name; // of the reply
        std::vector<std::string> chunks;
        int tokens;
        bool flat;
    };
    const std::vector<Case> cases = {
        {"result only", name, {"=" + ok}, 1, true},
        {"result and a double", name, {"=" + ok + d}, 2, true},
        {"64 bytes of tokens", name, {"=" + ok + d + d + "(s=abcdefgh)"}, 4, true},
        {"65 bytes of tokens", name, {"=" + ok + d + d + "(s=abcdefghi)"}, 4, false},
        {"a text holding parentheses", name, {"=" + ok + "(s=a(b)c)"}, 2, false},
        {"a stray ) between tokens", name, {"=" + ok + ")(s=x)"}, 2, false},
        {"a token still open", name, {"=" + ok + "(s=a(b)"}, 2, false},
        {"a zero byte", name, {"=" + ok + "(s=a\0b)"s}, 2, false},
        {"a token more than expected", name, {"=" + ok + d}, 1, false},
        {"a token short", name, {"=" + ok}, 2, false},
        {"bytes after the last token", name, {"=" + ok + "x"}, 1, false},
        {"split in two receives", name, {"=" + ok, d}, 2, false},
        {"another name", "ExpectedReplyNamf", {"=" + ok}, 1, false},
        {"a longer name", name + "X", {"=" + ok}, 1, false},
        {"no tokens", name, {"="}, 1, false},
        {"a name under 16 bytes", "Short", {"=" + ok}, 1, false},
    };
    for (const Case& c : cases) {
        const std::string expectedName = c.name == "Short" ? c.name : name;
        ReplyReader reader;
        reader.begin(c.tokens, SIZE_MAX, 0, expectedName);
        std::string joined = c.name;
        Verdict verdict = reader.feed(c.name + c.chunks[0]);
        for (std::size_t k = 1; k < c.chunks.size(); ++k)
            verdict = reader.feed(c.chunks[k]);
        for (const std::string& chunk : c.chunks)
            joined += chunk;
        EXPECT_EQ(reader.flat(), c.flat) << c.what;
        const std::string_view kept = tqbse::codec::textBeforeZero(joined);
        EXPECT_EQ(reader.reply(), kept) << c.what;
        const bool shortLast = c.chunks.back().size() < kReceiveChunkSize;
        const bool endsInParenthesis = c.chunks.back().back() == ')'; // the chunk's last byte, zero or not
        EXPECT_STREQ(nameOf(verdict), nameOf(endsInParenthesis ? tqbse::test::referenceVerdict(kept, shortLast, c.tokens)
                                                               : Verdict::Receive))
            << c.what;
        tqbse::codec::SplitMessage split;
        reader.split(&split);
        EXPECT_TRUE(tqbse::test::cutsAsSplitMessage(kept, split, c.tokens)) << c.what;
        for (int k = 0; c.flat && k < c.tokens; ++k)
            EXPECT_EQ(reader.framer().flatToken(reader.reply().data(), k), split.params[std::size_t(k)]) << c.what;
    }
}

// Receives larger than a chunk end a reply where receives of one chunk at a
// time would: a receive that takes all there is ends a full chunk when the
// bytes since the last short chunk are a whole number of chunks, and a reply
// as long as the last one, received into its touched pages, ends with a
// short receive rather than a quiet wait.
TEST(ReplyReader, LargeReceivesEndAReplyWhereChunkSizedOnesWould)
{
    const auto text = [](std::size_t size) {
        const std::string head = "R=(n=00000000)(s=";
        return head + std::string(size - head.size() - 1, 'c') + ")";
    };
    ReplyReader reader;
    reader.begin(2, SIZE_MAX, 16384);
    const std::string first = text(6001);
    ASSERT_EQ(reader.feed(std::string_view(first).substr(0, 4096)), Verdict::Receive);
    ASSERT_EQ(reader.feed(std::string_view(first).substr(4096)), Verdict::Done);

    // The same length again: its pages take it whole with a byte to spare.
    reader.begin(2, SIZE_MAX, 16384);
    std::size_t room = 0;
    char* space = reader.touchedSpace(&room);
    ASSERT_NE(space, nullptr);
    ASSERT_EQ(room, first.size() + 1);
    std::memcpy(space, first.data(), first.size());
    EXPECT_EQ(reader.received(first.size(), room), Verdict::Done);

    // 6002 bytes filling their receive, then 2190 that were all there was:
    // 8192 bytes, two full chunks, so the reply waits for quiet.
    const std::string two = text(8192);
    reader.begin(2, SIZE_MAX, 16384);
    space = reader.touchedSpace(&room);
    ASSERT_EQ(room, first.size() + 1);
    std::memcpy(space, two.data(), room);
    ASSERT_EQ(reader.received(room, room), Verdict::Receive);
    EXPECT_EQ(reader.feed(std::string_view(two).substr(room)), Verdict::WaitQuiet);
    EXPECT_EQ(reader.reply(), two);
}

// The reader keeps its buffer from reply to reply (a small reply lands where
// the last one did: no allocation); a buffer a bulk reply grew is kept for
// the next bulk reply, which is received into it directly, until a bulk
// reply needs far less or release() is called.
TEST(ReplyReader, KeepsItsBufferUntilABulkReplyNeedsFarLess)
{
    ReplyReader reader;
    reader.begin(1);
    ASSERT_EQ(reader.feed("R=(n=00000000)"), Verdict::Done);
    const char* first = reader.reply().data();
    reader.begin(1);
    std::size_t room = 0;
    ASSERT_EQ(reader.touchedSpace(&room), first); // a first chunk goes to the start
    EXPECT_EQ(room, kReceiveChunkSize);
    ASSERT_EQ(reader.feed("R=(n=01000000)"), Verdict::Done);
    EXPECT_EQ(reader.reply().data(), first);
    EXPECT_EQ(reader.reply(), "R=(n=01000000)");
    EXPECT_EQ(reader.touchedSpace(&room), nullptr); // past it, only touched pages

    const std::size_t bulkBytes = 8 * ReplyReader::kKeptBytes;
    const std::string bulk = "R=(n=00000000)(s=" + std::string(bulkBytes - 20, 'b') + ")";
    reader.begin(2, SIZE_MAX, bulkBytes);
    Verdict verdict = Verdict::Receive;
    for (std::size_t at = 0; at < bulk.size(); at += kReceiveChunkSize)
        verdict = reader.feed(std::string_view(bulk).substr(at, kReceiveChunkSize));
    EXPECT_EQ(verdict, Verdict::Done);
    EXPECT_EQ(reader.reply(), bulk);
    const std::size_t held = reader.capacity();
    EXPECT_GT(held, bulkBytes);

    // A small call in between keeps it; the next bulk reply goes straight
    // into the touched pages. A receive that fills its room is not short,
    // so a ")" with the text still open waits for more, not for quiet.
    reader.begin(1);
    ASSERT_EQ(reader.feed("R=(n=00000000)"), Verdict::Done);
    reader.begin(2, SIZE_MAX, bulkBytes);
    EXPECT_EQ(reader.capacity(), held);
    const std::string head = "R=(n=00000000)(s=(a)";
    const std::string rest = std::string(bulkBytes / 4, 'c') + ")";
    char* space = reader.touchedSpace(&room);
    ASSERT_NE(space, nullptr);
    ASSERT_GE(room, head.size() + rest.size());
    EXPECT_LE(room, ReplyReader::kBulkReceiveBytes); // received in pieces that stay in cache
    std::memcpy(space, head.data(), head.size());
    EXPECT_EQ(reader.received(head.size(), head.size()), Verdict::Receive);
    space = reader.touchedSpace(&room);
    ASSERT_NE(space, nullptr);
    std::memcpy(space, rest.data(), rest.size());
    EXPECT_EQ(reader.received(rest.size(), room), Verdict::Done);
    EXPECT_EQ(reader.reply(), head + rest);

    // A bulk reply needing under a quarter of it: the buffer is given back.
    reader.begin(2, SIZE_MAX, held / 8);
    EXPECT_LT(reader.capacity(), held);
    reader.release();
    EXPECT_EQ(reader.capacity(), 0u);
    EXPECT_EQ(reader.touchedSpace(&room), nullptr);

    // Past its bound a reply is refused, whatever else it holds.
    reader.begin(1, 10);
    EXPECT_EQ(reader.feed("R=(n=00000000)"), Verdict::TooLarge);
}

// A bulk token is counted as each chunk arrives, in the same pass that looks
// for a zero byte: a zero byte anywhere in a chunk (inside a 64-byte block,
// in its tail) drops the rest of that chunk as it does for a short reply,
// and the parentheses after it are not counted. Judged against the slow rule
// on the bytes kept.
TEST(ReplyReader, AZeroByteInsideABulkTokenDropsTheRestOfItsChunkOnly)
{
    std::mt19937 rng(77);
    for (int round = 0; round < 60; ++round) {
        std::string body(3000 + rng() % 20000, 'b');
        for (int k = 0; k < 8; ++k)
            body[rng() % body.size()] = "()"[rng() % 2];
        const std::string reply = "R=(n=00000000)(s=" + body + ")";
        const std::size_t chunk = 1 + rng() % 700;
        std::string sent = reply, kept;
        ReplyReader reader;
        reader.begin(2, SIZE_MAX, 0, "R");
        Verdict verdict = Verdict::Receive;
        for (std::size_t at = 0; at < sent.size(); at += chunk) {
            std::string piece = sent.substr(at, chunk);
            // A zero byte in some chunks past the head, never the last one,
            // followed by a ")" that would close the token if counted.
            if (at > 300 && at + chunk < sent.size() && piece.size() > 2 && rng() % 3 == 0) {
                const std::size_t z = rng() % (piece.size() - 1);
                piece[z] = '\0';
                piece[z + 1] = ')';
            }
            kept += piece.substr(0, piece.find('\0'));
            verdict = reader.feed(piece);
            if (verdict == Verdict::Done)
                break;
        }
        ASSERT_EQ(reader.reply(), kept) << "round " << round;
        const bool shortLast = true; // fed chunks are all short of kReceiveChunkSize
        if (kept.back() == ')') {
            ASSERT_STREQ(nameOf(verdict), nameOf(tqbse::test::referenceVerdict(kept, shortLast, 2)))
                << "round " << round;
        }
        tqbse::codec::SplitMessage split;
        reader.split(&split);
        ASSERT_TRUE(tqbse::test::cutsAsSplitMessage(kept, split, 2)) << "round " << round;
    }
}

// A long array token's elements are checked as each chunk arrives, so the
// decoder need not read them again, and the zero-byte search and the
// parenthesis count pass them by. Whatever the damage and the split, the
// reader keeps the bytes, reaches the verdict and makes the cut of the slow
// rule, never claims an element that is not 16 hex digits and a comma, and
// the decoder told of the claim decodes as without it. An intact token read
// in receive-sized chunks has every element but its last checked.
TEST(ReplyReader, ArrayElementsCheckedAsTheyArriveAreNeverOverclaimed)
{
    const std::string damage("gG/:@`,.)(][-+\0", 15);
    std::mt19937_64 rng(31);
    for (int round = 0; round < 240; ++round) {
        std::string reply = "R=(n=00000000)";
        std::size_t counts[2];
        for (std::size_t& n : counts) {
            n = 1 + rng() % (round % 4 ? 1500 : 40);
            std::vector<double> values(n);
            for (double& v : values) {
                const uint64_t bits = rng();
                std::memcpy(&v, &bits, sizeof v);
            }
            std::string token;
            tqbse::codec::appendDoubleArray(token, values.data(), n);
            if (round % 5 == 0) // upper-case digits are as good
                for (char& c : token)
                    if (c >= 'a' && c <= 'f' && &c > &token[4] && rng() % 4 == 0)
                        c = char(c - 'a' + 'A');
            reply += token;
        }
        const bool damaged = round % 3 != 0;
        for (int k = 0; damaged && k < 1 + int(rng() % 3); ++k)
            reply[14 + rng() % (reply.size() - 14)] = damage[rng() % damage.size()];
        if (round % 12 == 2) // a zero byte in the last array's count: its elements are dropped with the chunk
            reply[reply.rfind("(da=") + 4] = '\0';

        const std::size_t chunk = round % 2 ? 1 + rng() % 700 : 1024 + rng() % (kReceiveChunkSize - 1023);
        ReplyReader reader;
        reader.begin(3, SIZE_MAX, 0, "R");
        Verdict verdict = Verdict::Receive;
        std::string kept;
        std::size_t last = 0;
        for (std::size_t at = 0; at < reply.size() && verdict != Verdict::Done; at += chunk) {
            const std::string_view piece = std::string_view(reply).substr(at, chunk);
            kept += piece.substr(0, piece.find('\0'));
            last = piece.size();
            verdict = reader.feed(piece);
        }
        const std::string what = "round " + std::to_string(round) + " chunk " + std::to_string(chunk);
        ASSERT_EQ(reader.reply(), kept) << what;
        if (!kept.empty() && kept.back() == ')') {
            ASSERT_STREQ(nameOf(verdict),
                         nameOf(tqbse::test::referenceVerdict(kept, last < kReceiveChunkSize, 3)))
                << what;
        }
        tqbse::codec::SplitMessage split;
        reader.split(&split);
        ASSERT_TRUE(tqbse::test::cutsAsSplitMessage(kept, split, 3)) << what;
        for (std::size_t k = 1; k < split.params.size() && k < 3; ++k) {
            const std::string_view token = split.params[k];
            const std::size_t checked =
                reader.framer().checkedElements(std::size_t(token.data() - reader.reply().data()));
            ASSERT_LE(checked, tqbse::test::referenceCommaElementsOfToken(token)) << what << " token " << k;
            tqbse::codec::DoubleArrayView told, untold;
            const int32_t rc = tqbse::codec::parseDoubleArray(token, &told, checked);
            ASSERT_EQ(rc, tqbse::codec::parseDoubleArray(token, &untold)) << what << " token " << k;
            if (rc == tqbse::kSuccess) {
                ASSERT_EQ(told.elements, untold.elements) << what << " token " << k;
            }
            if (!damaged && chunk >= 1024 && counts[k - 1] >= 100) {
                ASSERT_EQ(checked, counts[k - 1] - 1) << what << " token " << k;
            }
        }
    }

    // The array's head split from its count by a chunk boundary, and a zero
    // byte in the count: what follows it in that chunk is dropped, and the
    // next chunk's bytes take its place. Nothing dropped may be claimed.
    const std::string e(16, 'a');
    ReplyReader reader;
    reader.begin(2, SIZE_MAX, 0, "R");
    reader.feed("R=(n=00000000)(da=");
    reader.feed(std::string("\0" "3[", 3) + e + "," + e + "," + e + "])");
    reader.feed("2[" + std::string(16, 'b') + "," + e + "])");
    ASSERT_EQ(reader.reply(), "R=(n=00000000)(da=2[" + std::string(16, 'b') + "," + e + "])");
    EXPECT_LE(reader.framer().checkedElements(14), 1u);
}

} // namespace
