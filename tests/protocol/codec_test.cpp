// The message codec: tokens, hex bytes and arrays. String tokens and the
// client's text limit are checked in wire_value_test, the cutting of replies
// into tokens in call_remote_test through the reply checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "protocol/codec.h"
#include "support/reply_rule.h"

using namespace tqbse;
using namespace tqbse::codec;

namespace {

// Byte-by-byte references for the codec's vectorised scans.
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

TEST(CodecTokenEnd, MatchesAByteScanOnRandomNestingAndLongTokens)
{
    std::mt19937 rng(12345);
    const char alphabet[] = "((()))ab=";
    for (int round = 0; round < 20000; ++round) {
        std::string text(std::size_t(rng() % (round % 2 ? 40 : 200)), ' '); // within and across vector blocks
        for (char& c : text)
            c = alphabet[rng() % (sizeof alphabet - 1)];
        const TokenBounds expected = referenceTokenEnd(text);
        const TokenBounds actual = findTokenEnd(text);
        ASSERT_EQ(actual.start, expected.start) << text;
        ASSERT_EQ(actual.end, expected.end) << text;
    }
    const std::string big = "(s=" + std::string(1 << 20, 'x') + "(" + std::string(5000, 'y') + "))tail)";
    const TokenBounds b = findTokenEnd(big);
    EXPECT_EQ(b.start, 1);
    EXPECT_EQ(b.end, int64_t(big.size()) - 5);
}

// Every digit pair differs, so swapped nibbles or a reversed byte order show.
TEST(CodecEncode, NumbersAreLittleEndianLowerCaseHex)
{
    EXPECT_EQ(encodeInt(0x0a0b0c0d), "(n=0d0c0b0a)");
    EXPECT_EQ(encodeFloat(1.5f), "(f=0000c03f)");
    EXPECT_EQ(encodeDouble(1e9), "(d=0000000065cdcd41)");
}

// Exactly two digits a byte; a wrong length writes nothing, a bad pair
// leaves the bytes before it written. Which bytes are digits is checked byte
// by byte below.
TEST(CodecHex, ExactLengthAndABadPairLeavesEarlierBytesWritten)
{
    unsigned char out[4];
    std::memset(out, 0xaa, sizeof out);
    for (const char* bad : {"0102", "0102030405"})
        EXPECT_FALSE(hexToBytes(bad, out, 4)) << bad;
    EXPECT_EQ(std::vector<unsigned char>(out, out + 4), std::vector<unsigned char>(4, 0xaa));
    uint32_t v = 0xaaaaaaaa;
    EXPECT_EQ(decodeInt("(n=1122zz44)", reinterpret_cast<int32_t*>(&v)), kParameterContents);
    EXPECT_EQ(v, 0xaaaa2211u);
}

TEST(CodecDecodeNumber, Int)
{
    struct Case {
        const char* token;
        int32_t rc;
        int32_t value; // expected when rc is kSuccess
    };
    const Case cases[] = {
        {"(n=f8ffffff)", kSuccess, -8},
        {"(n=FFFFFF7F)", kSuccess, std::numeric_limits<int32_t>::max()},
        {"(n=112233)", kParameterContents, 0},       // too short: nothing written
        {"(d=000000000000f03f)", kParameterType, 0},
        {"(n=01000000", kParameterFormat, 0},
        {"(n=(1234567)", kParameterFormat, 0}, // the usual length, but a "(" among the digits
    };
    for (const Case& c : cases) {
        int32_t v = 0x5a5a5a5a;
        EXPECT_EQ(decodeInt(c.token, &v), c.rc) << c.token;
        EXPECT_EQ(v, c.rc == kSuccess ? c.value : 0x5a5a5a5a) << c.token;
    }
    // A bad pair in a token of the usual length: the pairs before it are written.
    int32_t partial = 0x5a5a5a5a;
    EXPECT_EQ(decodeInt("(n=0102zz04)", &partial), kParameterContents);
    EXPECT_EQ(partial, 0x5a5a0201);
}

TEST(CodecDecodeNumber, FloatAndDoubleByTagAndWidth)
{
    float f = 0;
    EXPECT_EQ(decodeFloat("(f=0000C03F)", &f), kSuccess);
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(decodeFloat("(f=0000803f00000000)", &f), kParameterContents); // a double's width
    EXPECT_EQ(decodeFloat("(d=000000000000f03f)", &f), kParameterType);

    double d = 0;
    EXPECT_EQ(decodeDouble("(d=0000000065cdcd41)", &d), kSuccess);
    EXPECT_EQ(d, 1e9);
    EXPECT_EQ(decodeDouble("(d=000000000000F03F)", &d), kSuccess);
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(decodeDouble("(d=0000803f)", &d), kParameterContents); // a float's width
    EXPECT_EQ(decodeDouble("(f=0000803f)", &d), kParameterType);
}

// Malformed tokens: no "=" inside the token, and a text that never ends.
TEST(CodecDecode, TokensWithoutEqualsOrEndAreFormatErrors)
{
    std::string_view value = "untouched";
    EXPECT_EQ(extractValue("(n01000000)", &value), kParameterFormat);
    EXPECT_EQ(extractValue("(n)=01000000)", &value), kParameterFormat); // the "=" behind the token's end
    DecodedString text{};
    EXPECT_EQ(decodeString("(s=abc", &text), kParameterFormat);
}

TEST(CodecDoubleArray, Table)
{
    const std::string one = "000000000000f03f";
    const std::string two = "0000000000000040";
    struct Case {
        std::string token;
        int32_t rc;
        std::vector<double> values; // when rc is kSuccess
    };
    const std::vector<Case> cases = {
        {"(da=2[" + one + "," + two + "])", kSuccess, {1.0, 2.0}},
        {"(da=+1[000000000000F03F])", kSuccess, {1.0}},            // a sign, upper-case digits
        {"(da=2[" + one + "," + two + "]tail)", kSuccess, {1.0, 2.0}}, // text after "]" is not read
        {"(da=0[])", kSuccess, {}},                               // our choice: the empty array
        {"(da=3[" + one + "," + two + "])", kArrayLength, {}},
        {"(da=1[" + one + "," + two + "])", kArrayLength, {}},
        {"(da=2[" + one + "," + two + ",])", kArrayLength, {}},
        {"(da=0[" + one + "])", kArrayLength, {}},
        {"(da=-1[])", kArrayLength, {}},
        {"(da=1[" + one + ")", kArrayLength, {}},       // "[" without a later "]"
        {"(da=2[" + one + ",," + two + "])", kArrayLength, {}}, // commas are counted before contents
        {"(da=3[" + one + ",," + two + "])", kParameterContents, {}},
        {"(da=x[" + one + "])", kArrayCount, {}},
        {"(da=[" + one + "])", kArrayCount, {}},        // empty count text
        {"(da=99999999999[" + one + "])", kArrayCount, {}},
        {"(da=2147483648[" + one + "])", kArrayCount, {}}, // one past INT32_MAX
        {"(da=)", kArrayCount, {}},                     // no "[" at all
        {"(da=1[])", kParameterContents, {}},                 // one empty element
        {"(da=2[000000000000f03f0,000000000000040])", kParameterContents, {}},
        {"(da=2[" + one + "," + two.substr(0, 15) + "])", kParameterContents, {}},
        {"(da=1[" + one + "]", kParameterFormat, {}},
        {"(d=" + one + ")", kParameterType, {}},
    };
    for (const Case& c : cases) {
        std::vector<double> values = {-7.0};
        EXPECT_EQ(decodeDoubleArray(c.token, &values), c.rc) << c.token.c_str();
        if (c.rc == kSuccess) {
            EXPECT_EQ(values, c.values) << c.token.c_str();
        } else {
            EXPECT_EQ(values, std::vector<double>{-7.0}) << "untouched on failure: " << c.token.c_str();
        }
    }
}

// Every byte value at every position of 16 digits, as an array element
// (vectorised) and as hex text (by table): accepted exactly when it is a hex
// digit, and decoded to the reference value.
TEST(CodecHex, EveryByteAtEveryPositionMatchesAByteWiseReference)
{
    const std::string good = "0123456789abcdef";
    for (int position = 0; position < 16; ++position) {
        for (int byte = 1; byte < 256; ++byte) {
            if (byte == '(' || byte == ')' || byte == ',' || byte == ']')
                continue; // these change the token's structure, not its digits
            std::string element = good;
            element[std::size_t(position)] = char(byte);
            std::vector<double> values;
            const int32_t rc = decodeDoubleArray("(da=2[" + good + "," + element + "])", &values);
            uint8_t direct[8];
            const bool hexOk = hexToBytes(element, direct, 8);
            if (referenceDigit(char(byte)) < 0) {
                ASSERT_EQ(rc, kParameterContents) << "byte " << byte << " at " << position;
                ASSERT_FALSE(hexOk) << "byte " << byte << " at " << position;
                continue;
            }
            ASSERT_EQ(rc, kSuccess) << "byte " << byte << " at " << position;
            ASSERT_TRUE(hexOk) << "byte " << byte << " at " << position;
            uint8_t expected[8];
            for (int k = 0; k < 8; ++k)
                expected[k] = uint8_t(referenceDigit(element[std::size_t(2 * k)]) << 4
                                      | referenceDigit(element[std::size_t(2 * k + 1)]));
            ASSERT_EQ(std::memcmp(&values[1], expected, 8), 0) << "byte " << byte << " at " << position;
            ASSERT_EQ(std::memcmp(direct, expected, 8), 0) << "byte " << byte << " at " << position;
        }
    }
}

// Special values first, then random bit patterns across many vector blocks.
TEST(CodecDoubleArray, RoundTripsBitExactlyThroughTheServerEncoder)
{
    std::vector<double> values = {-1.5, std::numeric_limits<double>::denorm_min(), -0.0};
    std::mt19937_64 rng(99);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
    }
    std::string token;
    appendDoubleArray(token, values.data(), values.size());
    std::vector<double> back;
    ASSERT_EQ(decodeDoubleArray(token, &back), kSuccess);
    ASSERT_EQ(back.size(), values.size());
    EXPECT_EQ(std::memcmp(back.data(), values.data(), values.size() * sizeof(double)), 0);

    std::string empty;
    appendDoubleArray(empty, nullptr, 0);
    EXPECT_EQ(empty, std::string("(da=0[])"));
}

// Byte-wise reference of an element list: kArrayLength unless it holds
// count - 1 commas, kParameterContents unless every element is 16 digits;
// the decoded bytes otherwise.
int32_t referenceElements(const std::string& list, int32_t count, std::vector<uint8_t>* bytes)
{
    if (std::count(list.begin(), list.end(), ',') + 1 != count)
        return kArrayLength;
    bytes->clear();
    std::size_t at = 0;
    for (int32_t i = 0; i < count; ++i) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        if (comma - at != 16)
            return kParameterContents;
        for (std::size_t k = at; k < comma; k += 2) {
            const int hi = referenceDigit(list[k]), lo = referenceDigit(list[k + 1]);
            if (hi < 0 || lo < 0)
                return kParameterContents;
            bytes->push_back(uint8_t(hi << 4 | lo));
        }
        at = comma + 1;
    }
    return kSuccess;
}

// Lists of 1 to 40 elements cross the boundaries of the vectorised passes
// (groups of sixteen elements, pairs of elements, the last element): each
// byte of each element and separator is replaced in turn by digits of both
// cases and by near misses of every digit class, and the decoder must agree
// with the byte-wise reference, leaving its output untouched on failure.
// So must the count of elements checked as they arrive, and the decoder
// told of them.
TEST(CodecDoubleArray, EveryByteOfListsAcrossVectorBoundariesMatchesAByteWiseReference)
{
    const std::string replacements("0" "9" "a" "f" "A" "F" "/:@G`g,. \x10\x19\x01\x80\xb0\xb9\xc1\xe6\xff", 24);
    std::mt19937_64 rng(7);
    for (int32_t count = 1; count <= 40; ++count) {
        std::vector<double> values(static_cast<std::size_t>(count));
        std::string list;
        for (double& v : values) {
            const uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof v);
        }
        {
            std::string token;
            appendDoubleArray(token, values.data(), values.size());
            list = token.substr(token.find('[') + 1, 17 * std::size_t(count) - 1);
        }
        for (std::size_t position = 0; position < list.size(); ++position) {
            for (const char replacement : replacements) {
                std::string changed = list;
                changed[position] = replacement;
                std::vector<uint8_t> expected;
                const int32_t expectedRc = referenceElements(changed, count, &expected);
                std::vector<double> decoded = {-7.0};
                const int32_t rc =
                    decodeDoubleArray("(da=" + std::to_string(count) + "[" + changed + "])", &decoded);
                ASSERT_EQ(rc, expectedRc) << count << " elements, byte " << int(uint8_t(replacement)) << " at "
                                          << position;
                const std::size_t checked = tqbse::test::referenceCommaElements(changed);
                ASSERT_EQ(countCommaElements(changed.data(), changed.size()), checked)
                    << count << " elements, byte " << int(uint8_t(replacement)) << " at " << position;
                // The scalar twins, compiled on every build, on the same bytes.
                ASSERT_EQ(scalar::countCommaElements(changed.data(), changed.size()), checked)
                    << count << " elements, byte " << int(uint8_t(replacement)) << " at " << position;
                const bool wellFormed = scalar::wellFormedElements(changed, count);
                ASSERT_EQ(wellFormedElements(changed, count), wellFormed)
                    << count << " elements, byte " << int(uint8_t(replacement)) << " at " << position;
                ASSERT_EQ(wellFormed, expectedRc == kSuccess)
                    << count << " elements, byte " << int(uint8_t(replacement)) << " at " << position;
                if (wellFormed) {
                    std::vector<double> plain(std::size_t(count), -7.0);
                    scalar::decodeElements(changed.data(), count, plain.data());
                    ASSERT_EQ(std::memcmp(plain.data(), expected.data(), expected.size()), 0)
                        << count << " elements, byte " << int(uint8_t(replacement)) << " at " << position;
                }
                DoubleArrayView view;
                const std::string token = "(da=" + std::to_string(count) + "[" + changed + "])";
                ASSERT_EQ(parseDoubleArray(token, &view, checked), expectedRc)
                    << count << " elements, " << checked << " checked, byte " << int(uint8_t(replacement))
                    << " at " << position;
                if (rc == kSuccess) {
                    ASSERT_EQ(decoded.size() * 8, expected.size());
                    ASSERT_EQ(std::memcmp(decoded.data(), expected.data(), expected.size()), 0)
                        << count << " elements, byte " << int(uint8_t(replacement)) << " at " << position;
                } else {
                    ASSERT_EQ(decoded, std::vector<double>{-7.0});
                }
            }
        }
    }
}

// Tokens that are not exactly "(da=" count "[" list "])" take the general
// path: its results for text around and after the list, and tokens of the
// exact length that lack their "]" or ")".
TEST(CodecDoubleArray, TokensAroundTheListDecodeLikeTheGeneralRules)
{
    const std::string one = "000000000000f03f";
    const std::string two = "0000000000000040";
    const std::string list = "[" + one + "," + two + "]";
    struct Case {
        std::string token;
        int32_t rc;
    };
    const Case cases[] = {
        {"(da=0002" + list + ")", kSuccess},
        {"(da=2" + list + "))", kSuccess},          // the token ends at the first ")"
        {"(da=2" + list + ")(n=00000000)", kSuccess}, // and what follows it is not read
        {"(da=2" + list + "x)", kSuccess},
        {"(da=2" + list + "(x)", kParameterFormat},      // a nested "(" moves the end
        {"(da=2[" + one + "," + two + "x)", kArrayLength}, // the usual length, no "]"
        {"(da=2" + list + "]", kParameterFormat},          // the usual length, no ")"
        {"(da=2[" + one + "," + two + "])])", kSuccess},
        {"(da= 2" + list + ")", kArrayCount},
        {"(da=2[" + one + "," + two + "0])", kParameterContents}, // one byte longer
        {"(da=2[" + one + "," + two.substr(1) + "])", kParameterContents}, // one byte shorter
    };
    for (const Case& c : cases) {
        std::vector<double> values = {-7.0};
        ASSERT_EQ(decodeDoubleArray(c.token, &values), c.rc) << c.token;
        const std::vector<double> expected =
            c.rc == kSuccess ? std::vector<double>{1.0, 2.0} : std::vector<double>{-7.0};
        EXPECT_EQ(values, expected) << c.token;
    }
}

} // namespace

namespace {
// A text of runs of "(", ")", "x" and zero bytes, each up to 40 long, so the
// depth often meets a window of closing parentheses exactly at its edge.
std::string runsOfParentheses(std::mt19937& rng, std::size_t length, bool zeros)
{
    const char kinds[] = {'(', ')', 'x', '\0'};
    std::string text;
    while (text.size() < length)
        text.append(1 + rng() % 40, kinds[rng() % (zeros ? 4 : 3)]);
    text.resize(length);
    return text;
}
} // namespace

// The vector count against a byte-by-byte one, at every offset and length
// around its 16- and 64-byte blocks: the depth, where it first returns to 0,
// and where a zero byte or that return ends the count.
TEST(CodecTokenEnd, VectorCountMatchesAByteScanAcrossBlocks)
{
    std::mt19937 rng(31337);
    for (int round = 0; round < 4000; ++round) {
        const bool zeros = round % 2 == 0;
        const std::string text = runsOfParentheses(rng, rng() % 300, zeros);
        const std::size_t from = text.empty() ? 0 : rng() % (text.size() + 1);
        const int64_t startDepth = int64_t(rng() % 24);
        const unsigned stops = (zeros ? kStopAtZero : kCountToEnd) | (round % 3 == 0 ? kStopAtClose : 0u);
        int64_t depth = startDepth, expectedDepth = startDepth;
        std::size_t close = 0, expectedClose = 0, expectedEnd = text.size();
        for (std::size_t i = from; i < text.size(); ++i) {
            if (zeros && text[i] == '\0') {
                expectedEnd = i;
                break;
            }
            expectedDepth += (text[i] == '(') - (text[i] == ')');
            if (text[i] == ')' && expectedDepth == 0 && expectedClose == 0) {
                expectedClose = i + 1;
                if (stops & kStopAtClose) {
                    expectedEnd = i + 1;
                    break;
                }
            }
        }
        const std::size_t end = countParentheses(text, from, stops, &depth, &close);
        ASSERT_EQ(end, expectedEnd) << "round " << round;
        ASSERT_EQ(depth, expectedDepth) << "round " << round;
        ASSERT_EQ(close, expectedClose) << "round " << round;
        // The scalar twin, compiled on every build, on the same text.
        int64_t plainDepth = startDepth;
        std::size_t plainClose = 0;
        ASSERT_EQ(scalar::countParentheses(text, from, stops, &plainDepth, &plainClose), expectedEnd)
            << "round " << round;
        ASSERT_EQ(plainDepth, expectedDepth) << "round " << round;
        ASSERT_EQ(plainClose, expectedClose) << "round " << round;
    }
}

// A text token cut from a message decodes without a search for its end, to
// exactly what the general decode gives; what is not such a token (no ")"
// of its own, another tag) goes the general way.
TEST(CodecDecodeString, ACutTokenDecodesAsTheGeneralPath)
{
    std::mt19937 rng(4242);
    for (int round = 0; round < 2000; ++round) {
        std::string message = "N=";
        for (int k = 0; k < 4; ++k)
            message += (rng() % 4 == 0 ? "(s=NULL)" : "(s=" + runsOfParentheses(rng, rng() % 90, false) + ")");
        const SplitMessage cut = splitMessage(message);
        for (const std::string_view token : cut.params) {
            DecodedString general{"untouched", true}, fast{"untouched", true};
            const int32_t rc = decodeString(token, &general);
            ASSERT_EQ(decodeCutString(token, &fast), rc) << token;
            ASSERT_EQ(fast.text, general.text) << token;
            ASSERT_EQ(fast.isNull, general.isNull) << token;
        }
    }
    DecodedString text{};
    EXPECT_EQ(decodeCutString("(s=abc", &text), kParameterFormat);
    EXPECT_EQ(decodeCutString("(n=00000000)", &text), kParameterType);
    ASSERT_EQ(decodeCutString("(s=)", &text), kSuccess);
    EXPECT_TRUE(text.text.empty());
    EXPECT_FALSE(text.isNull);
}
