// Fuzzes the token decoders and splitMessage with arbitrary bytes, and
// checks what must hold for any input: cut tokens lie inside the message in
// order, a decoded number encodes back to its own token, an array decodes to
// its declared count.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/codec.h"

namespace codec = tqbse::codec;

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool isDecoderCode(int32_t rc) { return rc == 0 || (rc <= -2 && rc >= -6); }

// A number that decodes must come from exactly tag + 2*size hex digits + ")".
template <typename T>
void checkNumber(std::string_view token, const char* tag, int32_t (*decode)(std::string_view, T*),
                 std::string (*encode)(T))
{
    T value;
    std::memset(&value, 0, sizeof value);
    const int32_t rc = decode(token, &value);
    if (!isDecoderCode(rc))
        fail("number decoder returned a foreign code");
    if (rc != 0)
        return;
    const codec::TokenBounds b = codec::findTokenEnd(token);
    if (b.end < 0)
        fail("number decoded from a token without its end");
    std::string lower(token.substr(0, std::size_t(b.end)));
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (lower != encode(value))
        fail(tag);
}

void checkTokens(std::string_view token)
{
    checkNumber<int32_t>(token, "int round trip", codec::decodeInt, codec::encodeInt);
    checkNumber<float>(token, "float round trip", codec::decodeFloat, codec::encodeFloat);
    checkNumber<double>(token, "double round trip", codec::decodeDouble, codec::encodeDouble);

    codec::DecodedString text;
    const int32_t rc = codec::decodeString(token, &text);
    if (rc != 0 && rc != -2 && rc != -5)
        fail("string decoder returned a foreign code");
    if (rc == 0 && !text.isNull) {
        const char* lo = token.data();
        if (text.text.data() < lo || text.text.data() + text.text.size() > lo + token.size())
            fail("decoded text lies outside its token");
    }

    std::vector<double> values;
    const int32_t arc = codec::decodeDoubleArray(token, &values);
    if (!isDecoderCode(arc))
        fail("array decoder returned a foreign code");
    codec::DoubleArrayView view;
    if (codec::parseDoubleArray(token, &view) != arc)
        fail("parse and decode of an array disagree");
    // A byte between the closing "]" and ")" is not read, but it keeps the
    // token off the decoder's direct path: both paths must agree.
    if (token.size() >= 2 && token.ends_with("])")) {
        std::string general(token.substr(0, token.size() - 1));
        general += "x)";
        std::vector<double> generalValues;
        if (codec::decodeDoubleArray(general, &generalValues) != arc || generalValues.size() != values.size()
            || (!values.empty()
                && std::memcmp(generalValues.data(), values.data(), values.size() * sizeof(double)) != 0))
            fail("array decoded differently on the general path");
    }
    if (arc == 0) {
        if (view.count < 0 || std::size_t(view.count) != values.size())
            fail("array size differs from its count");
        // Re-encoding gives the canonical token; decoding that gives the same bits.
        std::string canonical;
        codec::appendDoubleArray(canonical, values.data(), values.size());
        std::vector<double> again;
        if (codec::decodeDoubleArray(canonical, &again) != 0 || again.size() != values.size()
            || (!values.empty()
                && std::memcmp(again.data(), values.data(), values.size() * sizeof(double)) != 0))
            fail("array round trip");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // The library sees replies as std::string: keep the input in one so that
    // ASan catches any read past its end.
    const std::string message(reinterpret_cast<const char*>(data), size);

    const codec::SplitMessage split = codec::splitMessage(message);
    const char* lo = message.data();
    const char* hi = lo + message.size();
    // Tokens come from the text after the first "=", or from the whole text
    // when there is none.
    const std::size_t eq = message.find('=');
    const char* cursor = eq != std::string::npos ? lo + eq + 1 : lo;
    if (split.name.size() != (eq != std::string::npos ? eq : message.size()))
        fail("name is not the text before the first =");
    for (const std::string_view& token : split.params) {
        if (token.empty() || token.data() < cursor || token.data() + token.size() > hi)
            fail("token out of order or outside the message");
        if (token.back() != ')')
            fail("token does not end in )");
        cursor = token.data() + token.size();
        checkTokens(token);
    }
    checkTokens(message);

    // The decoders must also cope with a view that is not zero-terminated.
    if (size > 0) {
        const std::unique_ptr<char[]> exact(new char[size - 1]);
        std::memcpy(exact.get(), data, size - 1);
        checkTokens(std::string_view(exact.get(), size - 1));
    }
    return 0;
}
