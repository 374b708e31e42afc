// Hex digits and the double array kernels, vector and scalar side by side.
#include "protocol/hex.h"

#include <array>
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

inline uint8_t digit(char c) { return kHexDigitValue[static_cast<uint8_t>(c)]; }

constexpr int64_t kElementStride = int64_t(kArrayElementStride);

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

// Where the last of `count` elements starts in a list of exactly their
// length; nullptr for a count below 1 or a list of another length.
const char* lastElement(std::string_view elements, int32_t count)
{
    if (count <= 0 || int64_t(elements.size()) != int64_t(count) * kElementStride - 1)
        return nullptr;
    return elements.data() + int64_t(count - 1) * kElementStride;
}

#if defined(__SSE2__)
inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

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

namespace sse2 {

bool wellFormedElements(std::string_view elements, int32_t count)
{
    const char* const last = lastElement(elements, count); // no comma after it
    if (last == nullptr)
        return false;
    const char* p = elements.data();
    unsigned separators = 0; // every separator XOR ",": zero when all are commas
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
}

std::size_t countCommaElements(const char* p, std::size_t n)
{
    const std::size_t whole = n / kArrayElementStride;
    std::size_t i = 0;
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
    return i;
}

void decodeElements(const char* p, int32_t count, double* destination)
{
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
}

} // namespace sse2
#endif

} // namespace

namespace scalar {

bool wellFormedElements(std::string_view elements, int32_t count)
{
    // Element by element, each with its comma; the last has none.
    const char* const last = lastElement(elements, count);
    bool good = last != nullptr;
    for (const char* e = elements.data(); good && e < last; e += kElementStride)
        good = isHex16(e) && e[16] == ',';
    return good && isHex16(last);
}

std::size_t countCommaElements(const char* p, std::size_t n)
{
    const std::size_t whole = n / kArrayElementStride;
    std::size_t i = 0;
    for (; i < whole; ++i) {
        const char* e = p + i * kArrayElementStride;
        if (!isHex16(e) || e[16] != ',')
            break;
    }
    return i;
}

void decodeElements(const char* p, int32_t count, double* destination)
{
    for (int32_t i = 0; i < count; ++i, p += kElementStride)
        decodeHex16(p, &destination[i]);
}

} // namespace scalar

#if defined(__SSE2__)
namespace fast = sse2;
#else
namespace fast = scalar;
#endif

bool wellFormedElements(std::string_view elements, int32_t count) { return fast::wellFormedElements(elements, count); }
std::size_t countCommaElements(const char* p, std::size_t n) { return fast::countCommaElements(p, n); }
void decodeElements(const char* p, int32_t count, double* destination)
{
    fast::decodeElements(p, count, destination);
}

char* writeHex(char* p, const void* bytes, std::size_t count)
{
    const auto* b = static_cast<const uint8_t*>(bytes);
    for (std::size_t i = 0; i < count; ++i, p += 2)
        std::memcpy(p, kHexPair[b[i]].data(), 2);
    return p;
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

} // namespace tqbse::codec
