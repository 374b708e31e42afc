// Result codes shared by the library and the server, and the library's own
// text for each of them. TQ_RESULT_CODES is the one list: it generates the
// internal enum, the text table and a compile-time check against the public
// header's TQBSE_ constants.
#pragma once

#include <cstdint>
#include <string_view>

#include "tqBsePluginControlDll.h"

// X(enumerator, value, public header constant, text); an empty text means the
// library has none and asks the server.
#define TQ_RESULT_CODES(X)                                                                                   \
    X(kVersionWarningServerNewer, 2, TQBSE_WARNING_SERVER_NEWER,                                             \
      "Remote Message Warning - Server Library version is greater than Client version; not all functionality " \
      "will be available")                                                                                   \
    X(kVersionWarningClientNewer, 1, TQBSE_WARNING_CLIENT_NEWER,                                             \
      "Remote Message Warning - Client library version is greater than Server version; not all functionality " \
      "will be available")                                                                                   \
    X(kSuccess, 0, TQBSE_SUCCESS, "No Error")                                                                \
    X(kUnknownError, -1, TQBSE_UNKNOWN_ERROR, "An Unknown Error has occurred!")                              \
    X(kParameterFormat, -2, TQBSE_PARAMETER_FORMAT, "Remote Message Error - Parameter Format incorrect")     \
    X(kArrayCount, -3, TQBSE_ARRAY_COUNT, "Remote Message Error - Cannot convert Parameter as expected")     \
    X(kArrayLength, -4, TQBSE_ARRAY_LENGTH, "Remote Message Error - Array Length Mismatch")                  \
    X(kParameterType, -5, TQBSE_PARAMETER_TYPE, "Remote Message Error - Parameter Type mismatch")            \
    X(kParameterContents, -6, TQBSE_PARAMETER_CONTENTS, "Remote Message Error - Parameter Contents mismatch") \
    X(kTransmissionError, -7, TQBSE_TRANSMISSION_ERROR, "Remote Message Error - Unknown Transmission Error")  \
    X(kFunctionNotFound, -8, TQBSE_FUNCTION_NOT_FOUND, "Remote Message Error - API Function not found on Server") \
    X(kParameterCount, -9, TQBSE_PARAMETER_COUNT, "Remote Message Error - Incorrect parameter count recieved") \
    X(kReplyOutOfOrder, -10, TQBSE_REPLY_OUT_OF_ORDER,                                                       \
      "Remote Message Error - Function return value recieved out of order")                                  \
    X(kReplyParameterCount, -11, TQBSE_REPLY_PARAMETER_COUNT,                                                \
      "Remote Message Error - Server returned incorrect number of parameters")                               \
    X(kNoResultCode, -12, TQBSE_NO_RESULT_CODE, "Remote Message Error - Server did not return an error code") \
    X(kBufferTooSmall, -13, TQBSE_BUFFER_TOO_SMALL, "Remote Message Error - Buffer supplied is too small")    \
    X(kNoResponse, -14, TQBSE_NO_RESPONSE, "Remote Message Error - No Response recieved from server")         \
    X(kReserved15, -15, (-15), "") /* never produced; no header constant */                                \
    X(kBadAddressOctet, -16, TQBSE_BAD_ADDRESS_OCTET, "")                                                    \
    X(kNotValidRemotely, -17, TQBSE_NOT_VALID_REMOTELY, "Remote Message Error - Function not valid in Remote mode") \
    X(kInternalObjectError, -18, TQBSE_INTERNAL_OBJECT_ERROR, "Remote Message Error - Internal Object Error!") \
    X(kServerDllNotLoaded, -19, TQBSE_SERVER_DLL_NOT_LOADED,                                                 \
      "Remote Message Error - The server side DLL could not be loaded!")                                     \
    X(kUnexpectedParameterType, -20, TQBSE_UNEXPECTED_PARAMETER_TYPE,                                        \
      "Remote Message Error - Parameter type was not expected")

namespace tqbse {

#define TQ_RESULT_ENUMERATOR(name, value, header, text) name = value,
enum ResultCode : int32_t { TQ_RESULT_CODES(TQ_RESULT_ENUMERATOR) };
#undef TQ_RESULT_ENUMERATOR

#define TQ_RESULT_MATCHES_HEADER(name, value, header, text)                                                  \
    static_assert(name == (header), #name " differs from the public header's " #header);
TQ_RESULT_CODES(TQ_RESULT_MATCHES_HEADER)
#undef TQ_RESULT_MATCHES_HEADER

// The lowest and highest code the library has a row for.
inline constexpr int32_t kLowestCode = kUnexpectedParameterType;
inline constexpr int32_t kHighestCode = kVersionWarningServerNewer;

// The library's text for a code; empty for a code it has no text for
// (-16, -15, and everything outside -20..2).
std::string_view errorText(int32_t code);
// The public header's constant for a code ("TQBSE_NO_RESPONSE"); empty for
// a code it has no constant for.
std::string_view resultName(int32_t code);

} // namespace tqbse
