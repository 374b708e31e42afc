// Result codes shared by the library and the server, and the library's own
// text for each of them.
#pragma once

#include <cstdint>
#include <string_view>

namespace tqbse {

enum ResultCode : int32_t {
    kVersionWarningServerNewer = 2,
    kVersionWarningClientNewer = 1,
    kSuccess = 0,
    kUnknownError = -1,
    kParameterFormat = -2,
    kArrayCount = -3,
    kArrayLength = -4,
    kParameterType = -5,
    kParameterContents = -6,
    kTransmissionError = -7,
    kFunctionNotFound = -8,
    kParameterCount = -9,
    kReplyOutOfOrder = -10,
    kReplyParameterCount = -11,
    kNoResultCode = -12,
    kBufferTooSmall = -13,
    kNoResponse = -14,
    kReserved15 = -15,
    kBadAddressOctet = -16,
    kNotValidRemotely = -17,
    kInternalObjectError = -18,
    kServerDllNotLoaded = -19,
    kUnexpectedParameterType = -20,
};

// The library's text for a code; empty for a code it has no text for
// (-16, -15, and everything outside -20..2).
std::string_view errorText(int32_t code);

} // namespace tqbse
