#include "protocol/wire_value.h"

#include <cstring>

#include "protocol/result_codes.h"

namespace tqbse {

void encodeValue(std::string& out, const WireValue& value)
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

int32_t decodeValue(WireTag tag, std::string_view token, WireValue* value)
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
        const int32_t rc = codec::decodeString(token, &s);
        value->text = s.text;
        value->isNull = s.isNull;
        return rc;
    }
    case WireTag::DoubleArray:
        return codec::parseDoubleArray(token, &value->array);
    case WireTag::None:
        break;
    }
    return kSuccess;
}

std::size_t elementBytes(WireTag tag)
{
    switch (tag) {
    case WireTag::Int:
        return sizeof(int32_t);
    case WireTag::Float:
        return sizeof(float);
    case WireTag::Double:
    case WireTag::DoubleArray:
        return sizeof(double);
    case WireTag::String:
        return sizeof(char);
    case WireTag::None:
        break;
    }
    return 0;
}

ArgValue outputArg(WireTag tag, void* memory)
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

bool inputValue(const WireInput& in, const ArgValue* args, WireValue* value)
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

bool outputMissing(const WireOutput& out, const ArgValue* args)
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

int32_t storeOutput(const WireOutput& out, const ArgValue* args, const WireValue& value, int element)
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

int32_t copyText(std::string_view text, char* buffer, int32_t bufferSize)
{
    const int64_t length = int64_t(text.size());
    if (int64_t(bufferSize) < length + 1)
        return kBufferTooSmall;
    if (length > 0)
        std::memcpy(buffer, text.data(), std::size_t(length));
    buffer[length] = '\0';
    return kSuccess;
}

int32_t copyArray(const codec::DoubleArrayView& array, double* values, int32_t capacity)
{
    if (array.count > capacity)
        return kBufferTooSmall;
    array.copyTo(values);
    return kSuccess;
}

} // namespace tqbse
