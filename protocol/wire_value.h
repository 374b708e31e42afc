// The value of one token, keyed by its tag, and the conversions between an
// export's C arguments and such values by the parameter's role. Pure, no
// socket. Every per-tag rule outside the codec's token syntax lives here:
// what an input sends, when an output pointer is missing, and how a decoded
// value is stored into the caller's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "protocol/call_description.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"

namespace tqbse {

// One token's value. A decoded value views the token it came from: a text
// is a view of its bytes, an array the validated element text, so decoding
// allocates nothing. An array to encode is a span of doubles.
struct WireValue {
    WireTag tag = WireTag::None;
    int32_t i = 0;                    // Int: an integer or a flag
    float f = 0;                      // Float
    double d = 0;                     // Double
    std::string_view text{};          // String
    bool isNull = false;              // String: the null text, (s=NULL)
    codec::DoubleArrayView array{};   // DoubleArray, as decoded
    std::span<const double> doubles{}; // DoubleArray, to encode

    static constexpr WireValue ofInt(int32_t v) { return {.tag = WireTag::Int, .i = v}; }
    static constexpr WireValue ofFloat(float v) { return {.tag = WireTag::Float, .f = v}; }
    static constexpr WireValue ofDouble(double v) { return {.tag = WireTag::Double, .d = v}; }
    static constexpr WireValue ofText(std::string_view v) { return {.tag = WireTag::String, .text = v}; }
    static constexpr WireValue nullText() { return {.tag = WireTag::String, .isNull = true}; }
    static constexpr WireValue ofArray(std::span<const double> v)
    {
        return {.tag = WireTag::DoubleArray, .doubles = v};
    }
};

// Appends the token of `value` by its tag; a None value appends nothing.
void encodeValue(std::string& out, const WireValue& value);
// Decodes a token of the given tag into `value` (its tag is set). `token`
// is one as a message is cut into them (codec::splitMessage,
// ReplyReader::split), so a text's end is known (codec::decodeCutString).
// Returns the codec's code: 0, -5 for a token of another tag, -2/-3/-4/-6
// for one that does not decode. `checkedElements`: for an array, as
// codec::parseDoubleArray takes it.
int32_t decodeValue(WireTag tag, std::string_view token, WireValue* value, std::size_t checkedElements = 0);

// Bytes of one element of a value of this tag in C memory (a text's char,
// an array's double).
std::size_t elementBytes(WireTag tag);
// The C argument of an output of this tag that points at `memory`.
ArgValue outputArg(WireTag tag, void* memory);

// ---- C arguments and wire values, by role ---------------------------------

// The value input `in` sends, from the export's arguments. False when it
// sends nothing: a text longer than its limit (a negative limit keeps
// every text out) is left out of the request.
bool inputValue(const WireInput& in, const ArgValue* args, WireValue* value);

// Writes the token of number input `in` (an integer, flag, float or double:
// always sent) at `p`, which has room for codec::kMaxNumberToken bytes;
// returns its end. Any other input writes nothing.
char* writeNumberInput(char* p, const WireInput& in, const ArgValue* args);

// Whether output `out` has nowhere to go: a NULL pointer, or a NULL buffer
// or array with a positive size or capacity.
bool outputMissing(const WireOutput& out, const ArgValue* args);

// Stores a decoded value of the output's tag into output `out`; `element`
// is the index of the reply token among the output's tokens (0..3 for the
// version). A null
// text is delivered as the empty text. Returns 0, or kBufferTooSmall for a
// text or array that does not fit its buffer, which is then untouched.
int32_t storeOutput(const WireOutput& out, const ArgValue* args, const WireValue& value, int element);

// Decodes `token` by the output's tag and stores it into output `out` (as
// storeOutput does); a token that does not decode stores nothing. A number
// goes from its decoder to the caller's memory without a WireValue.
// `checkedElements`: see decodeValue.
int32_t readOutput(const WireOutput& out, const ArgValue* args, std::string_view token, int element,
                   std::size_t checkedElements = 0);

// Copies `text` and its terminating zero into a buffer of `bufferSize`
// bytes; kBufferTooSmall (buffer untouched) when it does not fit.
int32_t copyText(std::string_view text, char* buffer, int32_t bufferSize);
// Copies a validated array into room for `capacity` elements;
// kBufferTooSmall (untouched) when it holds more.
int32_t copyArray(const codec::DoubleArrayView& array, double* values, int32_t capacity);

// ---- Definitions ------------------------------------------------------
// Inline: in the library's call path the tag is known from the role, so a
// conversion and its encoding or decoding fold into one branch each, and a
// WireValue never needs to exist in memory.

inline void encodeValue(std::string& out, const WireValue& value)
{
    switch (value.tag) {
    case WireTag::Int:
        codec::appendInt(out, value.i);
        break;
    case WireTag::Float:
        codec::appendFloat(out, value.f);
        break;
    case WireTag::Double:
        codec::appendDouble(out, value.d);
        break;
    case WireTag::String:
        if (value.isNull)
            codec::appendNullString(out);
        else
            codec::appendString(out, value.text);
        break;
    case WireTag::DoubleArray:
        codec::appendDoubleArray(out, value.doubles.data(), value.doubles.size());
        break;
    case WireTag::None:
        break;
    }
}

inline int32_t decodeValue(WireTag tag, std::string_view token, WireValue* value, std::size_t checkedElements)
{
    value->tag = tag;
    switch (tag) {
    case WireTag::Int:
        return codec::decodeInt(token, &value->i);
    case WireTag::Float:
        return codec::decodeFloat(token, &value->f);
    case WireTag::Double:
        return codec::decodeDouble(token, &value->d);
    case WireTag::String: {
        codec::DecodedString s;
        const int32_t rc = codec::decodeCutString(token, &s);
        value->text = s.text;
        value->isNull = s.isNull;
        return rc;
    }
    case WireTag::DoubleArray:
        return codec::parseDoubleArray(token, &value->array, checkedElements);
    case WireTag::None:
        break;
    }
    return kSuccess;
}

inline bool inputValue(const WireInput& in, const ArgValue* args, WireValue* value)
{
    const ArgValue& v = args[in.param];
    switch (traits(in.role).tag) {
    case WireTag::Int:
        *value = WireValue::ofInt(v.i);
        return true;
    case WireTag::Float:
        *value = WireValue::ofFloat(v.f);
        return true;
    case WireTag::Double:
        *value = WireValue::ofDouble(v.d);
        return true;
    case WireTag::String: {
        if (v.text == nullptr) {
            *value = WireValue::nullText();
            return true;
        }
        const int32_t limit = args[in.limitParam].i;
        const std::size_t length = std::strlen(v.text);
        // Signed comparison: a negative limit keeps even the empty text out.
        if (limit < 0 || length > std::size_t(limit))
            return false;
        *value = WireValue::ofText(std::string_view(v.text, length));
        return true;
    }
    case WireTag::DoubleArray: // never an input
    case WireTag::None:
        break;
    }
    return false;
}

inline char* writeNumberInput(char* p, const WireInput& in, const ArgValue* args)
{
    const ArgValue& v = args[in.param];
    switch (traits(in.role).tag) {
    case WireTag::Int:
        return codec::writeInt(p, v.i);
    case WireTag::Float:
        return codec::writeFloat(p, v.f);
    case WireTag::Double:
        return codec::writeDouble(p, v.d);
    case WireTag::String:
    case WireTag::DoubleArray:
    case WireTag::None:
        break;
    }
    return p;
}

inline bool outputMissing(const WireOutput& out, const ArgValue* args)
{
    const ArgValue& target = args[out.param];
    switch (traits(out.role).tag) {
    case WireTag::Int:
        return target.intOut == nullptr;
    case WireTag::Float:
        return target.floatOut == nullptr;
    case WireTag::Double:
        return target.doubleOut == nullptr;
    case WireTag::String:
        return target.buffer == nullptr && args[out.boundParam].i > 0;
    case WireTag::DoubleArray:
        return target.doubleOut == nullptr && args[out.boundParam].i > 0;
    case WireTag::None:
        break;
    }
    return false;
}

inline int32_t storeOutput(const WireOutput& out, const ArgValue* args, const WireValue& value, int element)
{
    const ArgValue& target = args[out.param];
    switch (value.tag) {
    case WireTag::Int:
        target.intOut[element] = value.i;
        break;
    case WireTag::Float:
        *target.floatOut = value.f;
        break;
    case WireTag::Double:
        *target.doubleOut = value.d;
        break;
    case WireTag::String:
        // (s=NULL) carries no text: it is delivered as the empty text.
        return copyText(value.isNull ? std::string_view() : value.text, target.buffer, args[out.boundParam].i);
    case WireTag::DoubleArray:
        return copyArray(value.array, target.doubleOut, args[out.boundParam].i);
    case WireTag::None:
        break;
    }
    return kSuccess;
}

inline int32_t readOutput(const WireOutput& out, const ArgValue* args, std::string_view token, int element,
                          std::size_t checkedElements)
{
    const ArgValue& target = args[out.param];
    switch (traits(out.role).tag) {
    case WireTag::Int: {
        int32_t v;
        const int32_t rc = codec::decodeInt(token, &v);
        if (rc == kSuccess)
            target.intOut[element] = v;
        return rc;
    }
    case WireTag::Float: {
        float v;
        const int32_t rc = codec::decodeFloat(token, &v);
        if (rc == kSuccess)
            *target.floatOut = v;
        return rc;
    }
    case WireTag::Double: {
        double v;
        const int32_t rc = codec::decodeDouble(token, &v);
        if (rc == kSuccess)
            *target.doubleOut = v;
        return rc;
    }
    case WireTag::String:
    case WireTag::DoubleArray:
    case WireTag::None:
        break;
    }
    WireValue value;
    if (const int32_t rc = decodeValue(traits(out.role).tag, token, &value, checkedElements); rc != kSuccess)
        return rc;
    return storeOutput(out, args, value, element);
}

} // namespace tqbse
