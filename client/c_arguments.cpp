// Copying decoded texts and arrays into the caller's C memory.
#include "client/c_arguments.h"

#include <cstring>

namespace tqbse {

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
