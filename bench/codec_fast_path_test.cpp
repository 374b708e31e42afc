// The codec's fast paths (vectorised token scan, hex validation and decode)
// and the reply framer's vectorised parenthesis count against plain
// byte-by-byte reference implementations, on inputs chosen to hit every digit
// range edge, every position inside an element and every block boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "protocol/codec.h"
#include "protocol/framer.h"

namespace tqbse::codec {
namespace {

// Byte-by-byte matching of the first "(".
TokenBounds referenceTokenEnd(const std::string& text)
{
    const std::size_t open = text.find('(');
    const int64_t start = open == std::string::npos ? 0 : int64_t(open) + 1;
    int64_t depth = 1;
    for (int64_t pos = start; pos < int64_t(text.size()); ++pos) {
        if (text[std::size_t(pos)] == '(')
            ++depth;
        else if (text[std::size_t(pos)] == ')' && --depth == 0)
            return {start, pos + 1};
    }
    return {-1, -1};
}

int referenceDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

TEST(CodecFastPath, TokenEndMatchesByteScanOnRandomNesting)
{
    std::mt19937 rng(12345);
    const char alphabet[] = "((()))ab=";
    for (int round = 0; round < 20000; ++round) {
        std::string text(std::size_t(rng() % 40), ' ');
        for (char& c : text)
            c = alphabet[rng() % (sizeof alphabet - 1)];
        const TokenBounds expected = referenceTokenEnd(text);
        const TokenBounds actual = findTokenEnd(text);
        ASSERT_EQ(actual.start, expected.start) << text;
        ASSERT_EQ(actual.end, expected.end) << text;
    }
}

TEST(CodecFastPath, LongTokensAreCutAtTheirMatchingParenthesis)
{
    std::string big = "(s=" + std::string(1 << 20, 'x') + "(" + std::string(5000, 'y') + "))tail)";
    const TokenBounds b = findTokenEnd(big);
    EXPECT_EQ(b.start, 1);
    EXPECT_EQ(b.end, int64_t(big.size()) - 5);
}

// Every byte value at every position of one element: accepted exactly when
// it is a hex digit, and decoded to the reference value.
TEST(CodecFastPath, EveryByteAtEveryElementPosition)
{
    const std::string good = "0123456789abcdef";
    for (int position = 0; position < 16; ++position) {
        for (int byte = 1; byte < 256; ++byte) {
            if (byte == '(' || byte == ')' || byte == ',' || byte == ']')
                continue; // these change the token's structure, not its digits
            std::string element = good;
            element[std::size_t(position)] = char(byte);
            const std::string token = "(da=2[" + good + "," + element + "])";
            std::vector<double> values;
            const int32_t rc = decodeDoubleArray(token, &values);
            const int digit = referenceDigit(char(byte));
            if (digit < 0) {
                ASSERT_EQ(rc, kContentsMismatch) << "byte " << byte << " at " << position;
                continue;
            }
            ASSERT_EQ(rc, kOk) << "byte " << byte << " at " << position;
            uint8_t expected[8];
            for (int k = 0; k < 8; ++k)
                expected[k] = uint8_t(referenceDigit(element[std::size_t(2 * k)]) << 4
                                      | referenceDigit(element[std::size_t(2 * k + 1)]));
            ASSERT_EQ(std::memcmp(&values[1], expected, 8), 0) << "byte " << byte << " at " << position;
        }
    }
}

TEST(CodecFastPath, ArrayErrorsKeepTheirCodes)
{
    const struct {
        const char* token;
        int32_t rc;
    } cases[] = {
        {"(da=2[000000000000f03f,0000000000000040])", kOk},
        {"(da=2[000000000000F03F,0000000000000040])", kOk},
        {"(da=3[000000000000f03f,0000000000000040])", kArrayLengthError},
        {"(da=1[000000000000f03f,0000000000000040])", kArrayLengthError},
        {"(da=0[000000000000f03f])", kArrayLengthError},
        {"(da=-1[000000000000f03f])", kArrayLengthError},
        {"(da=0[])", kOk},
        {"(da=1[])", kContentsMismatch},
        {"(da=2[000000000000f03f;0000000000000040])", kArrayLengthError},
        {"(da=2[000000000000f03f,000000000000004])", kContentsMismatch},
        {"(da=2[000000000000f03f,00000000000000400])", kContentsMismatch},
        {"(da=2[000000000000f03,f0000000000000040])", kContentsMismatch},
        {"(da=2[000000000000f03f,,000000000000040])", kArrayLengthError},
        {"(da=3[000000000000f03f,,000000000000040])", kContentsMismatch},
        {"(da=1[000000000000f03g])", kContentsMismatch},
        {"(da=x[000000000000f03f])", kArrayCountError},
    };
    for (const auto& c : cases) {
        std::vector<double> values;
        EXPECT_EQ(decodeDoubleArray(c.token, &values), c.rc) << c.token;
    }
}

// A reply ends at a short chunk ending in ")" when its parentheses balance,
// and only if nothing follows when they do not: the framer's count decides,
// and it must agree with a byte-by-byte count at any length and split.
TEST(CodecFastPath, ReplyFramerCountsParenthesesLikeAByteScan)
{
    std::mt19937 rng(2024);
    const std::size_t lengths[] = {1, 15, 16, 17, 4095, 4096, 4097, 16 * 255 - 1, 16 * 255, 16 * 255 + 1,
                                   2 * 16 * 255 + 7, 100000};
    for (int round = 0; round < 300; ++round) {
        std::string reply(lengths[std::size_t(round) % std::size(lengths)] + rng() % 3, 'x');
        // Mostly plain bytes, with runs of one kind of parenthesis so that
        // single lanes count high.
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
        ReplyFramer::Verdict verdict = ReplyFramer::Verdict::More;
        const std::size_t chunk = 1 + rng() % kReceiveChunkSize;
        for (std::size_t at = 0; at < reply.size(); at += chunk)
            verdict = framer.feed(std::string_view(reply).substr(at, chunk));
        ASSERT_EQ(received, reply);
        const bool shortLast = (reply.size() - 1) % chunk + 1 < kReceiveChunkSize;
        const ReplyFramer::Verdict expected = shortLast && depth <= 0 ? ReplyFramer::Verdict::End
                                              : shortLast || depth <= 0 ? ReplyFramer::Verdict::EndIfQuiet
                                                                        : ReplyFramer::Verdict::More;
        ASSERT_EQ(int(verdict), int(expected)) << "length " << reply.size() << " chunk " << chunk << " depth " << depth;
    }
}

TEST(CodecFastPath, LargeArrayRoundTripsBitExactly)
{
    std::mt19937_64 rng(99);
    std::vector<double> values(100003);
    for (double& v : values) {
        const uint64_t bits = rng();
        std::memcpy(&v, &bits, sizeof v);
    }
    std::string token;
    appendDoubleArray(token, values.data(), values.size());
    std::vector<double> decoded;
    ASSERT_EQ(decodeDoubleArray(token, &decoded), kOk);
    ASSERT_EQ(decoded.size(), values.size());
    EXPECT_EQ(std::memcmp(decoded.data(), values.data(), values.size() * sizeof(double)), 0);
}

} // namespace
} // namespace tqbse::codec
