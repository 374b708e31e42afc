#include "protocol/codec.h"

#include <charconv>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tqbse::codec {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr uint8_t kBadDigit = 0xff;

// The two hex digits of every byte value, high digit first.
constexpr std::array<std::array<char, 2>, 256> makePairTable()
{
    std::array<std::array<char, 2>, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = {kHexDigits[b >> 4], kHexDigits[b & 0x0f]};
    return t;
}
constexpr std::array<std::array<char, 2>, 256> kHexPair = makePairTable();

// Digit value of every byte, kBadDigit for anything that is not a hex digit.
constexpr std::array<uint8_t, 256> makeDigitTable()
{
    std::array<uint8_t, 256> t{};
    for (auto& v : t)
        v = kBadDigit;
    for (int c = '0'; c <= '9'; ++c)
        t[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        t[c] = static_cast<uint8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        t[c] = static_cast<uint8_t>(c - 'A' + 10);
    return t;
}
constexpr std::array<uint8_t, 256> kDigit = makeDigitTable();

inline uint8_t digit(char c) { return kDigit[static_cast<uint8_t>(c)]; }

// Position of the first `c`, or -1.
inline int64_t indexOf(std::string_view text, char c)
{
    const std::size_t at = text.find(c);
    return at == std::string_view::npos ? -1 : int64_t(at);
}

// Strict decimal: optional sign, at least one digit, fits in 32 bits.
bool parseDecimal(std::string_view text, int32_t* value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > int64_t(INT32_MAX) + 1)
            return false;
    }
    v = negative ? -v : v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

#if defined(__SSE2__)
inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The bytes of up to eight digit pairs, packed into the low 8 bytes.
inline __m128i pairsToBytes(__m128i nibbles)
{
    // Each 16-bit lane holds a pair: high digit in its low byte, low digit above.
    const __m128i high = _mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00ff)), 4);
    const __m128i low = _mm_srli_epi16(nibbles, 8);
    return _mm_packus_epi16(_mm_or_si128(high, low), _mm_setzero_si128());
}

// Sixteen hex digits at once: the digit values, and a mask of the bytes
// that are hex digits (0xff) or not (0x00).
inline __m128i hexNibbles(__m128i v, __m128i* valid)
{
    const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i l = _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i zero = _mm_setzero_si128();
    // x <= k, unsigned, as "x minus k saturates to zero".
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_subs_epu8(d, _mm_set1_epi8(9)), zero);
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_subs_epu8(l, _mm_set1_epi8(5)), zero);
    *valid = _mm_or_si128(isDigit, isLetter);
    return _mm_or_si128(_mm_and_si128(isDigit, d),
                        _mm_and_si128(isLetter, _mm_add_epi8(l, _mm_set1_epi8(10))));
}

// Whether 64 bytes hold a "(" or ")", or (with `kZeros`) a zero byte. "("
// and ")" differ in their lowest bit only: clearing it and taking "(" away
// leaves 0 for either, and the minimum over the block is 0 only then (or
// at a zero byte, when the bytes themselves are taken into it).
template <bool kZeros>
inline bool blockHasEvent(const char* p)
{
    const __m128i lowBit = _mm_set1_epi8(char(0xfe));
    const __m128i open = _mm_set1_epi8('(');
    __m128i low = _mm_set1_epi8(char(0xff));
    for (int k = 0; k < 64; k += 16) {
        const __m128i v = load16(p + k);
        low = _mm_min_epu8(low, _mm_xor_si128(_mm_and_si128(v, lowBit), open));
        if constexpr (kZeros)
            low = _mm_min_epu8(low, v);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(low, _mm_setzero_si128())) != 0;
}

// The first 64-byte block from data[i] on that holds such a byte, or the
// offset where fewer than 64 bytes are left before `end`.
template <bool kZeros>
std::size_t skipQuietBlocks(const char* data, std::size_t i, std::size_t end)
{
    while (end - i >= 64 && !blockHasEvent<kZeros>(data + i))
        i += 64;
    return i;
}
#endif

// The N bytes of exactly 2N hex digits (N = 4 or 8) at p, stored only when
// every digit is valid.
template <std::size_t N>
bool decodeHexExact(const char* p, void* destination)
{
    static_assert(N == 4 || N == 8);
#if defined(__SSE2__)
    const __m128i digits = N == 8 ? load16(p) : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    __m128i valid;
    const __m128i bytes = pairsToBytes(hexNibbles(digits, &valid));
    constexpr int kAll = (1 << (2 * N)) - 1;
    if ((_mm_movemask_epi8(valid) & kAll) != kAll)
        return false;
    if constexpr (N == 8) {
        _mm_storel_epi64(static_cast<__m128i*>(destination), bytes);
    } else {
        const int32_t low = _mm_cvtsi128_si32(bytes);
        std::memcpy(destination, &low, 4);
    }
    return true;
#else
    uint8_t bytes[N];
    if (!hexToBytes(std::string_view(p, 2 * N), bytes, N))
        return false;
    std::memcpy(destination, bytes, N);
    return true;
#endif
}

// Writes the hex digits of `count` bytes at p; returns the end.
inline char* writeHex(char* p, const void* bytes, std::size_t count)
{
    const auto* b = static_cast<const uint8_t*>(bytes);
    for (std::size_t i = 0; i < count; ++i, p += 2)
        std::memcpy(p, kHexPair[b[i]].data(), 2);
    return p;
}

// Writes tag (three characters), the hex digits of the N (4 or 8) bytes at
// `bytes` and ")" at p, which has room for kMaxNumberToken bytes; returns
// the end.
template <std::size_t N>
char* writeNumberToken(char* p, const char* tag, const void* bytes)
{
    static_assert(N == 4 || N == 8);
    std::memcpy(p, tag, 3);
#if defined(__SSE2__)
    // Sixteen digits at once: high and low nibbles interleaved, then "0"-"9"
    // or "a"-"f" by adding '0', and 'a' - '0' - 10 more above 9. All 16
    // bytes are stored; those past the token are overwritten or unused.
    __m128i v;
    if constexpr (N == 8) {
        v = _mm_loadl_epi64(static_cast<const __m128i*>(bytes));
    } else {
        int32_t word;
        std::memcpy(&word, bytes, 4);
        v = _mm_cvtsi32_si128(word);
    }
    const __m128i nibble = _mm_set1_epi8(0x0f);
    const __m128i low = _mm_and_si128(v, nibble);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
    const __m128i digits = _mm_unpacklo_epi8(high, low);
    const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(digits, _mm_set1_epi8(9)), _mm_set1_epi8('a' - '0' - 10));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 3),
                     _mm_add_epi8(_mm_add_epi8(digits, _mm_set1_epi8('0')), letters));
    p += 3 + 2 * N;
#else
    p = writeHex(p + 3, bytes, N);
#endif
    *p++ = ')';
    return p;
}

// Appends one number token in one append.
template <std::size_t N>
void appendNumberToken(std::string& out, const char* tag, const void* bytes)
{
    char token[kMaxNumberToken];
    out.append(token, std::size_t(writeNumberToken<N>(token, tag, bytes) - token));
}

template <typename T>
int32_t decodeNumber(std::string_view token, std::string_view tag, T* value)
{
    // The usual token, tag + hex digits + ")", needs no search: its digits
    // hold no parenthesis, so its ")" is the one that closes it. The tag's
    // few bytes are compared inline, its length being known here.
    if (token.size() == tag.size() + 2 * sizeof(T) + 1 && std::memcmp(token.data(), tag.data(), tag.size()) == 0
        && token.back() == ')' && decodeHexExact<sizeof(T)>(token.data() + tag.size(), value))
        return kSuccess;
    // Anything else takes the general path, which also decides what a bad
    // token leaves written.
    if (token.size() < tag.size())
        return kParameterType;
    for (std::size_t i = 0; i < tag.size(); ++i)
        if (token[i] != tag[i])
            return kParameterType;
    std::string_view text;
    if (extractValue(token, &text) != kSuccess)
        return kParameterFormat;
    // Decode into the caller's bytes directly: a bad pair leaves the bytes
    // before it written, as the rule for partial decodes says.
    return hexToBytes(text, value, sizeof(T)) ? kSuccess : kParameterContents;
}

// ---- Double arrays ----------------------------------------------------------
// An element is 16 hex digits and elements are separated by single commas,
// so element i starts 17 * i bytes into the list.
constexpr int64_t kElementStride = int64_t(kArrayElementStride);

#if defined(__SSE2__)
// What each byte of a 16-byte chunk of the element list must be: a hex
// digit (either case), or in one lane the separating comma. Each class is
// moved to the top of the signed byte range, where one signed compare
// bounds it: "0".."9" to 118..127, "a".."f" (upper case folded in by the
// 0x20 bit) to 122..127, and a comma alone to 127 with no letter allowed.
struct alignas(16) ChunkRule {
    int8_t digitShift[16];
    int8_t digitFloor[16]; // last value below the class
    int8_t letterFloor[16];
};
constexpr int8_t kLetterShift = 0x7f - 'f';

constexpr ChunkRule makeChunkRule(int commaLane)
{
    ChunkRule r{};
    for (int k = 0; k < 16; ++k) {
        const bool comma = k == commaLane;
        r.digitShift[k] = int8_t(comma ? 0x7f - ',' : 0x7f - '9');
        r.digitFloor[k] = int8_t(comma ? 126 : 126 - 9);
        r.letterFloor[k] = int8_t(comma ? 127 : 126 - 5);
    }
    return r;
}

// Seventeen chunks hold sixteen elements with their commas: chunk j starts
// 16 * j bytes in and, from the second on, has its comma in lane j - 1.
constexpr std::array<ChunkRule, kElementStride> makeChunkRules()
{
    std::array<ChunkRule, kElementStride> rules{};
    for (int j = 0; j < kElementStride; ++j)
        rules[std::size_t(j)] = makeChunkRule(j - 1);
    return rules;
}
constexpr std::array<ChunkRule, kElementStride> kChunkRules = makeChunkRules();
constexpr const ChunkRule& kDigitsOnly = kChunkRules[0];

inline __m128i load(const int8_t (&lanes)[16]) { return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes)); }

// 0xff in every byte of v that is what `rule` asks for, 0x00 elsewhere.
inline __m128i chunkMask(__m128i v, const ChunkRule& rule)
{
    const __m128i digits = _mm_cmpgt_epi8(_mm_add_epi8(v, load(rule.digitShift)), load(rule.digitFloor));
    const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i letters = _mm_cmpgt_epi8(_mm_add_epi8(folded, _mm_set1_epi8(kLetterShift)), load(rule.letterFloor));
    return _mm_or_si128(digits, letters);
}

// The 8 bytes of 16 valid hex digits, one in the low half of each 16-bit
// lane, ready for packing.
inline __m128i hexElementBytes(__m128i v)
{
    // Under & 0x4f a digit is its value and a letter (either case) becomes
    // 0x41..0x46, 0x37 above its value; the unsigned minimum of that and
    // its value picks the right one, as a digit minus 0x37 wraps above 0xc8.
    const __m128i t = _mm_and_si128(v, _mm_set1_epi8(0x4f));
    const __m128i nibbles = _mm_min_epu8(t, _mm_sub_epi8(t, _mm_set1_epi8(0x37)));
    // A lane holds high | low << 8; times 0x1001 its upper byte is high << 4 | low.
    return _mm_srli_epi16(_mm_mullo_epi16(nibbles, _mm_set1_epi16(0x1001)), 8);
}
#else
bool isHex16(const char* p)
{
    uint8_t bad = 0;
    for (int k = 0; k < 16; ++k)
        bad |= digit(p[k]);
    return bad != kBadDigit && (bad & 0xf0) == 0;
}

// The 8 bytes of 16 hex digits already known to be valid.
inline void decodeHex16(const char* p, void* destination)
{
    auto* out = static_cast<uint8_t*>(destination);
    for (int k = 0; k < 8; ++k)
        out[k] = static_cast<uint8_t>(digit(p[2 * k]) << 4 | digit(p[2 * k + 1]));
}
#endif

// count elements of 16 hex digits, separated by single commas, and nothing
// else. One pass without a branch per element: the digit masks and the
// separators are gathered and looked at once at the end.
bool wellFormedElements(std::string_view elements, int32_t count)
{
    if (count <= 0 || int64_t(elements.size()) != int64_t(count) * kElementStride - 1)
        return false;
    const char* p = elements.data();
    const char* const last = p + int64_t(count - 1) * kElementStride; // no comma after it
    unsigned separators = 0; // every separator XOR ",": zero when all are commas
#if defined(__SSE2__)
    // Whole groups of sixteen elements with their commas as contiguous
    // chunks, then element by element up to the last.
    __m128i valid = _mm_set1_epi8(-1);
    for (int64_t group = (count - 1) / 16; group > 0; --group) {
        for (const ChunkRule& rule : kChunkRules) {
            valid = _mm_and_si128(valid, chunkMask(load16(p), rule));
            p += 16;
        }
    }
    for (; p < last; p += kElementStride) {
        valid = _mm_and_si128(valid, chunkMask(load16(p), kDigitsOnly));
        separators |= uint8_t(p[16]) ^ unsigned(',');
    }
    valid = _mm_and_si128(valid, chunkMask(load16(last), kDigitsOnly));
    return separators == 0 && _mm_movemask_epi8(valid) == 0xffff;
#else
    bool digits = true;
    for (; p < last; p += kElementStride) {
        digits &= isHex16(p);
        separators |= uint8_t(p[16]) ^ unsigned(',');
    }
    return separators == 0 && digits && isHex16(last);
#endif
}

// The usual array token, "(da=" count "[" elements "])" with nothing after
// it, checked without searching its megabytes for brackets: the count text
// holds only sign and digits, the elements only hex digits and commas, so
// "[" "]" "(" ")" each occur once and the general path would find the same
// bounds. Anything else is left to the general path, which also tells the
// failures apart.
bool parseWholeArrayToken(std::string_view token, DoubleArrayView* out, std::size_t checkedElements)
{
    constexpr std::size_t kHead = 4; // "(da="
    const void* bracket = std::memchr(token.data() + kHead, '[', token.size() - kHead);
    if (!bracket)
        return false;
    const std::size_t open = std::size_t(static_cast<const char*>(bracket) - token.data());
    int32_t count = 0;
    if (!parseDecimal(token.substr(kHead, open - kHead), &count))
        return false;
    // A count below 1 fails the size check: it puts the "]" at or before the "[".
    const std::size_t size = token.size();
    if (int64_t(size) != int64_t(open) + int64_t(count) * kElementStride + 2 || token[size - 2] != ']'
        || token[size - 1] != ')')
        return false;
    const std::string_view elements = token.substr(open + 1, size - open - 3);
    // Elements checked as they arrived are not read again. All of them
    // cannot be: the last has no comma.
    const std::size_t checked = checkedElements < std::size_t(count) ? checkedElements : 0;
    if (!wellFormedElements(elements.substr(checked * kArrayElementStride), count - int32_t(checked)))
        return false;
    *out = DoubleArrayView{count, elements};
    return true;
}

} // namespace

std::size_t countCommaElements(const char* p, std::size_t n)
{
    const std::size_t whole = n / kArrayElementStride;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen elements at a time as seventeen contiguous chunks; the block
    // where one fails is then looked at element by element.
    for (; i + 16 <= whole; i += 16) {
        const char* block = p + i * kArrayElementStride;
        __m128i valid = _mm_set1_epi8(-1);
        for (std::size_t j = 0; j < kArrayElementStride; ++j)
            valid = _mm_and_si128(valid, chunkMask(load16(block + 16 * j), kChunkRules[j]));
        if (_mm_movemask_epi8(valid) != 0xffff)
            break;
    }
    for (; i < whole; ++i) {
        const char* e = p + i * kArrayElementStride;
        if (_mm_movemask_epi8(chunkMask(load16(e), kDigitsOnly)) != 0xffff || e[16] != ',')
            break;
    }
#else
    for (; i < whole; ++i) {
        const char* e = p + i * kArrayElementStride;
        if (!isHex16(e) || e[16] != ',')
            break;
    }
#endif
    return i;
}

void appendHex(std::string& out, const void* bytes, std::size_t count)
{
    const std::size_t at = out.size();
    out.resize(at + 2 * count);
    writeHex(out.data() + at, bytes, count);
}

bool hexToBytes(std::string_view text, void* destination, std::size_t count)
{
    if (std::size_t(text.size()) != 2 * count)
        return false;
    auto* out = static_cast<uint8_t*>(destination);
    const char* p = text.data();
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t hi = digit(p[2 * i]);
        const uint8_t lo = digit(p[2 * i + 1]);
        if ((hi | lo) & 0xf0) // kBadDigit in either
            return false;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

char* writeInt(char* out, int32_t value) { return writeNumberToken<sizeof value>(out, "(n=", &value); }
char* writeFloat(char* out, float value) { return writeNumberToken<sizeof value>(out, "(f=", &value); }
char* writeDouble(char* out, double value) { return writeNumberToken<sizeof value>(out, "(d=", &value); }

void appendInt(std::string& out, int32_t value) { appendNumberToken<sizeof value>(out, "(n=", &value); }

void appendFloat(std::string& out, float value) { appendNumberToken<sizeof value>(out, "(f=", &value); }

void appendDouble(std::string& out, double value) { appendNumberToken<sizeof value>(out, "(d=", &value); }

void appendString(std::string& out, std::string_view text)
{
    out.reserve(out.size() + text.size() + 4);
    out.append("(s=");
    out.append(text);
    out.push_back(')');
}

void appendNullString(std::string& out)
{
    out.append("(s=NULL)");
}

void appendDoubleArray(std::string& out, const double* values, std::size_t count)
{
    out.append("(da=");
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, uint64_t(count));
    out.append(digits, written.ptr);
    out.push_back('[');
    out.reserve(out.size() + count * 17 + 2);
    for (std::size_t i = 0; i < count; ++i) {
        if (i)
            out.push_back(',');
        appendHex(out, &values[i], sizeof(double));
    }
    out.append("])");
}

std::string encodeInt(int32_t value)
{
    std::string out;
    appendInt(out, value);
    return out;
}

std::string resultOnlyReply(std::string_view name, int32_t code)
{
    std::string reply;
    reply.reserve(name.size() + 13);
    reply.append(name);
    reply.push_back('=');
    appendInt(reply, code);
    return reply;
}

std::string encodeFloat(float value)
{
    std::string out;
    appendFloat(out, value);
    return out;
}

std::string encodeDouble(double value)
{
    std::string out;
    appendDouble(out, value);
    return out;
}

std::size_t countParentheses(std::string_view text, std::size_t from, unsigned stops, int64_t* depth,
                             std::size_t* close)
{
    const char* data = text.data();
    const std::size_t end = text.size();
    const bool zeros = (stops & kStopAtZero) != 0;
    int64_t d = *depth;
    std::size_t closed = *close;
    std::size_t i = from;
    // One window of `length` (up to 16) bytes at i, as bit masks; false when
    // the count ends in it.
    const auto window = [&](unsigned opens, unsigned closes, unsigned nul, std::size_t length) {
        bool more = true;
        if (nul != 0) {
            length = std::size_t(std::countr_zero(nul));
            opens &= (1u << length) - 1;
            closes &= (1u << length) - 1;
            more = false;
        }
        if (closes == 0 || closed != 0 || d > 16) {
            d += std::popcount(opens) - std::popcount(closes);
        } else {
            for (unsigned events = opens | closes; events != 0; events &= events - 1) {
                const int k = std::countr_zero(events);
                if (opens >> k & 1u) {
                    ++d;
                } else if (--d == 0 && closed == 0) {
                    closed = i + std::size_t(k) + 1;
                    if (stops & kStopAtClose) {
                        i = closed;
                        return false;
                    }
                }
            }
        }
        i += length;
        return more;
    };
    bool more = true;
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi8('(');
    const __m128i shut = _mm_set1_epi8(')');
    const __m128i zero = _mm_setzero_si128();
    while (more && end - i >= 64) {
        i = zeros ? skipQuietBlocks<true>(data, i, end) : skipQuietBlocks<false>(data, i, end);
        if (end - i < 64)
            break;
        for (int k = 0; k < 4 && more; ++k) {
            const __m128i v = load16(data + i);
            const auto bits = [&](__m128i c) { return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c))); };
            more = window(bits(open), bits(shut), zeros ? bits(zero) : 0u, 16);
        }
    }
#endif
    while (more && i < end) {
        const std::size_t length = std::min<std::size_t>(16, end - i);
        unsigned opens = 0, closes = 0, nul = 0;
        for (std::size_t k = 0; k < length; ++k) {
            opens |= unsigned(data[i + k] == '(') << k;
            closes |= unsigned(data[i + k] == ')') << k;
            nul |= unsigned(zeros && data[i + k] == 0) << k;
        }
        more = window(opens, closes, nul, length);
    }
    *depth = d;
    *close = closed;
    return i;
}

TokenBounds findTokenEnd(std::string_view text)
{
    const void* open = text.empty() ? nullptr : std::memchr(text.data(), '(', text.size());
    const std::size_t start = open ? std::size_t(static_cast<const char*>(open) - text.data()) + 1 : 0;
    // From just after the first "(" (or from the start when there is none)
    // at depth 1, to its first return to 0.
    int64_t depth = 1;
    std::size_t close = 0;
    countParentheses(text, start, kStopAtClose, &depth, &close);
    if (close == 0)
        return {-1, -1};
    return {int64_t(start), int64_t(close)};
}

int32_t extractValue(std::string_view token, std::string_view* value)
{
    const int64_t eq = indexOf(token, '=');
    if (eq < 0)
        return kParameterFormat;
    const TokenBounds b = findTokenEnd(token);
    if (b.end < 0)
        return kParameterFormat;
    const int64_t length = b.end - eq - 2;
    if (length < 0) // the "=" lies behind the token's closing ")"
        return kParameterFormat;
    *value = token.substr(std::size_t(eq + 1), std::size_t(length));
    return kSuccess;
}

int32_t decodeInt(std::string_view token, int32_t* value) { return decodeNumber(token, "(n=", value); }
int32_t decodeFloat(std::string_view token, float* value) { return decodeNumber(token, "(f=", value); }
int32_t decodeDouble(std::string_view token, double* value) { return decodeNumber(token, "(d=", value); }

int32_t decodeString(std::string_view token, DecodedString* out)
{
    if (!token.starts_with("(s="))
        return kParameterType;
    if (token == std::string_view("(s=NULL)")) {
        *out = DecodedString{std::string_view(), true};
        return kSuccess;
    }
    std::string_view text;
    if (extractValue(token, &text) != kSuccess)
        return kParameterFormat;
    *out = DecodedString{text, false};
    return kSuccess;
}

int32_t decodeCutString(std::string_view token, DecodedString* out)
{
    // "(s=" and a ")" of its own: a cut token of that form closes at its end.
    if (token.size() >= 4 && token.starts_with("(s=") && token.back() == ')' && token != std::string_view("(s=NULL)")) {
        *out = DecodedString{token.substr(3, token.size() - 4), false};
        return kSuccess;
    }
    return decodeString(token, out);
}

int32_t parseDoubleArray(std::string_view token, DoubleArrayView* out, std::size_t checkedElements)
{
    if (!token.starts_with("(da="))
        return kParameterType;
    if (parseWholeArrayToken(token, out, checkedElements))
        return kSuccess;
    std::string_view value;
    if (extractValue(token, &value) != kSuccess)
        return kParameterFormat;
    const int64_t open = indexOf(value, '[');
    if (open < 0)
        return kArrayCount;
    int32_t count = 0;
    if (!parseDecimal(value.substr(0, std::size_t(open)), &count))
        return kArrayCount;
    const int64_t close = indexOf(value, ']');
    if (close < open) // no "]" after the "[": the element list never ends
        return kArrayLength;
    const std::string_view elements = value.substr(std::size_t(open + 1), std::size_t(close - open - 1));

    // Every element is 16 hex digits and elements are separated by single
    // commas, so a well-formed list of n elements is exactly 17n - 1 long and
    // holds n - 1 commas. The well-formed case is checked in one pass; the
    // commas are counted only to tell a wrong count (-4) from bad contents (-6).
    const bool emptyList = elements.empty() && count == 0;
    if (!emptyList && !wellFormedElements(elements, count)) {
        if (int64_t(count) != int64_t(std::count(elements.begin(), elements.end(), ',')) + 1)
            return kArrayLength;
        return kParameterContents;
    }
    *out = DoubleArrayView{count, elements};
    return kSuccess;
}

void DoubleArrayView::copyTo(double* destination) const
{
    const char* p = elements.data();
#if defined(__SSE2__)
    // Two elements per store; an odd count leaves one for a half store.
    const int32_t n = count; // not read again after each store
    int32_t i = 0;
    for (; i + 2 <= n; i += 2, p += 2 * kElementStride) {
        const __m128i first = hexElementBytes(load16(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i),
                         _mm_packus_epi16(first, hexElementBytes(load16(p + kElementStride))));
    }
    if (i < n)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + i),
                         _mm_packus_epi16(hexElementBytes(load16(p)), _mm_setzero_si128()));
#else
    for (int32_t i = 0; i < count; ++i, p += kElementStride)
        decodeHex16(p, &destination[i]);
#endif
}

int32_t decodeDoubleArray(std::string_view token, std::vector<double>* values)
{
    DoubleArrayView view;
    const int32_t rc = parseDoubleArray(token, &view);
    if (rc != kSuccess)
        return rc;
    values->resize(std::size_t(view.count));
    view.copyTo(values->data());
    return kSuccess;
}

void splitMessage(std::string_view message, SplitMessage* out)
{
    out->params.clear();
    out->params.reserve(8); // one allocation for any ordinary reply
    const int64_t eq = indexOf(message, '=');
    std::string_view rest = message;
    if (eq >= 0) {
        out->name = message.substr(0, std::size_t(eq));
        rest = message.substr(std::size_t(eq + 1));
    } else {
        out->name = message;
    }
    for (;;) {
        const TokenBounds b = findTokenEnd(rest);
        if (b.end < 0)
            break;
        out->params.push_back(rest.substr(0, std::size_t(b.end)));
        rest = rest.substr(std::size_t(b.end));
    }
}

SplitMessage splitMessage(std::string_view message)
{
    SplitMessage out;
    splitMessage(message, &out);
    return out;
}

} // namespace tqbse::codec
