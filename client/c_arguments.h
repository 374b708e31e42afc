// The binding of an export's C arguments to wire values: the arguments as
// the export received them (ArgValue), and by each parameter's role what an
// input sends, when an output pointer is missing, and how a decoded value
// is stored into the caller's memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "protocol/call_description.h"
#include "protocol/call_frame.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"
#include "protocol/wire_value.h"

namespace tqbse {

// The value of one C argument, as the export received it.
union ArgValue {
    int32_t i;
    float f;
    double d;
    const char* text;
    char* buffer;
    int32_t* intOut;
    float* floatOut;
    double* doubleOut;

    constexpr ArgValue(int32_t v) : i(v) {}
    constexpr ArgValue(float v) : f(v) {}
    constexpr ArgValue(double v) : d(v) {}
    constexpr ArgValue(const char* v) : text(v) {}
    constexpr ArgValue(char* v) : buffer(v) {}
    constexpr ArgValue(int32_t* v) : intOut(v) {}
    constexpr ArgValue(float* v) : floatOut(v) {}
    constexpr ArgValue(double* v) : doubleOut(v) {}

    template <typename T>
    T as() const
    {
        if constexpr (std::is_same_v<T, int32_t>) return i;
        else if constexpr (std::is_same_v<T, float>) return f;
        else if constexpr (std::is_same_v<T, double>) return d;
        else if constexpr (std::is_same_v<T, const char*>) return text;
        else if constexpr (std::is_same_v<T, char*>) return buffer;
        else if constexpr (std::is_same_v<T, int32_t*>) return intOut;
        else if constexpr (std::is_same_v<T, float*>) return floatOut;
        else if constexpr (std::is_same_v<T, double*>) return doubleOut;
    }
};

// Row macros over C arguments (see TQ_MAP in protocol/call_description.h):
// a parameter as an ArgValue, and back from an argument array `args`.
#define TQ_PARAM_ARG(i, role, pname, ...) ::tqbse::ArgValue(pname)
#define TQ_PARAM_FROM_ARRAY(i, role, pname, ...) args[i].as<::tqbse::RoleCType<::tqbse::ParamRole::role>>()

// The C arguments of `frame`'s call in argument order, pointing into the
// frame: valid while the frame is neither changed nor moved.
std::array<ArgValue, kMaxParams> cArguments(CallFrame& frame);

// Bytes of one element of a value of this tag in C memory (a text's char,
// an array's double).
std::size_t elementBytes(WireTag tag);
// The C argument of an output of this tag that points at `memory`.
constexpr ArgValue outputArg(WireTag tag, void* memory)
{
    switch (tag) {
    case WireTag::Int:
        return ArgValue(static_cast<int32_t*>(memory));
    case WireTag::Float:
        return ArgValue(static_cast<float*>(memory));
    case WireTag::String:
        return ArgValue(static_cast<char*>(memory));
    case WireTag::Double:
    case WireTag::DoubleArray:
    case WireTag::None:
        break;
    }
    return ArgValue(static_cast<double*>(memory));
}

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
// version). A null text is delivered as the empty text. Returns 0, or
// kBufferTooSmall for a text or array that does not fit its buffer, which
// is then untouched.
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

inline std::array<ArgValue, kMaxParams> cArguments(CallFrame& frame)
{
    std::array<ArgValue, kMaxParams> a{int32_t{0}, int32_t{0}, int32_t{0}, int32_t{0}, int32_t{0}, int32_t{0}};
    static_assert(kMaxParams == 6, "an initial argument for every parameter");
    const CallDesc& call = frame.call();
    for (int i = 0; i < call.paramCount; ++i) {
        const ParamRole role = call.params[i].role;
        const WireValue v = frame.value(i);
        if (isOutput(role)) {
            a[i] = outputArg(traits(role).tag, frame.memory(i));
            continue;
        }
        switch (v.tag()) {
        case WireTag::String:
            a[i] = ArgValue(static_cast<const char*>(frame.memory(i)));
            break;
        case WireTag::Float:
            a[i] = ArgValue(v.asFloat());
            break;
        case WireTag::Double:
            a[i] = ArgValue(v.asDouble());
            break;
        case WireTag::Int:
        case WireTag::DoubleArray: // only ever an output
        case WireTag::None:        // limits, sizes and local integers are integers
            a[i] = ArgValue(v.asInt());
            break;
        }
    }
    return a;
}

// ---- Definitions ------------------------------------------------------
// Inline: in the library's call path the tag is known from the role, so a
// conversion and its encoding or decoding fold into one branch each, and a
// WireValue never needs to exist in memory for a number.

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
    switch (value.tag()) {
    case WireTag::Int:
        target.intOut[element] = value.asInt();
        break;
    case WireTag::Float:
        *target.floatOut = value.asFloat();
        break;
    case WireTag::Double:
        *target.doubleOut = value.asDouble();
        break;
    case WireTag::String:
        // (s=NULL) carries no text: it is delivered as the empty text.
        return copyText(value.isNull() ? std::string_view() : value.text(), target.buffer, args[out.boundParam].i);
    case WireTag::DoubleArray:
        return copyArray(value.decodedArray(), target.doubleOut, args[out.boundParam].i);
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
