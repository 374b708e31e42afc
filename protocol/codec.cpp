// The token codec: encoders and decoders of number, text and double array
// tokens, and the array pre-check a reply reader uses.
#include "protocol/codec.h"

#include <charconv>

#include <algorithm>
#include <cstring>

namespace tqbse::codec {
namespace {

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

// Writes tag (three characters), the hex digits of the N (4 or 8) bytes at
// `bytes` and ")" at p, which has room for kMaxNumberToken bytes; returns
// the end.
template <std::size_t N>
char* writeNumberToken(char* p, const char* tag, const void* bytes)
{
    static_assert(N == 4 || N == 8);
    std::memcpy(p, tag, 3);
    p = writeHex(p + 3, bytes, N);
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
    T fast;
    // The usual token, tag + hex digits + ")", needs no search: its digits
    // hold no parenthesis, so its ")" is the one that closes it. The tag's
    // few bytes are compared inline, its length being known here.
    if (token.size() == tag.size() + 2 * sizeof(T) + 1 && std::memcmp(token.data(), tag.data(), tag.size()) == 0
        && token.back() == ')' && hexToBytesWhole<sizeof(T)>(token.data() + tag.size(), &fast)) {
        *value = fast;
        return kSuccess;
    }
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
    if (int64_t(size) != int64_t(open) + int64_t(count) * int64_t(kArrayElementStride) + 2 || token[size - 2] != ']'
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

std::size_t arrayElementsStart(const char* data, std::size_t token, std::size_t size)
{
    // "(da=", a count of signs and digits, "[": nothing among them is a "["
    // (so this one is the decoder's too), a parenthesis after the first or
    // a zero byte.
    constexpr std::size_t kHead = 4;
    constexpr std::size_t kMaxCount = 11; // "-2147483648"
    if (size - token < kHead)
        return 0;
    if (std::memcmp(data + token, "(da=", kHead) != 0)
        return kNotAnArray;
    std::size_t at = token + kHead;
    for (; at < size && at < token + kHead + kMaxCount; ++at)
        if (const char c = data[at]; (c < '0' || c > '9') && c != '-' && c != '+')
            break;
    if (at == size)
        return 0; // the "[" may still come
    return data[at] == '[' ? at + 1 : kNotAnArray;
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
    decodeElements(p, count, destination);
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

} // namespace tqbse::codec
