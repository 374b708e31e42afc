// The token codec: number, text and double array tokens to and from their
// values. Pure functions, no socket.
//
// A message is  name "=" token token ...  with no separators. Numbers travel
// as the hex text of their little-endian bytes; texts travel unescaped. All
// text is 8-bit (std::string, one byte per character): every byte passes
// unchanged. Positions that may be -1 are int64_t, and counts are compared
// in 64 bits, so that no count can overflow on a 32-bit build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/hex.h"
#include "protocol/result_codes.h"
#include "protocol/scanner.h"

namespace tqbse::codec {

// The decoders return a code of the one result-code list (result_codes.h):
// kSuccess; kParameterFormat for no "=" or an unmatched "("; kArrayCount for
// an array count that is not a decimal integer; kArrayLength for a count that
// differs from its elements; kParameterType for a token that does not begin
// with the expected tag; kParameterContents for hex text of the wrong length
// or with a bad digit.

// Encoders append one token to `out`; the value-returning forms build one.
void appendInt(std::string& out, int32_t value);
void appendFloat(std::string& out, float value);
void appendDouble(std::string& out, double value);
// Appends (s=text), the text unescaped; and (s=NULL), the null text. Which
// texts a client leaves out of its request is its own rule (wire_value.h).
void appendString(std::string& out, std::string_view text);
void appendNullString(std::string& out);

// The same tokens written at `out`, which has room for kMaxNumberToken
// bytes; each returns the end of its token.
inline constexpr std::size_t kMaxNumberToken = 20; // "(d=" + 16 hex digits + ")"
char* writeInt(char* out, int32_t value);
char* writeFloat(char* out, float value);
char* writeDouble(char* out, double value);

std::string encodeInt(int32_t value);
std::string encodeFloat(float value);
std::string encodeDouble(double value);

// The value part of a token: from after the first "=" to before the
// matching ")". Returns kSuccess or kParameterFormat.
int32_t extractValue(std::string_view token, std::string_view* value);

int32_t decodeInt(std::string_view token, int32_t* value);
int32_t decodeFloat(std::string_view token, float* value);
int32_t decodeDouble(std::string_view token, double* value);

// A decoded string token. `isNull` for (s=NULL); `text` views the token.
struct DecodedString {
    std::string_view text;
    bool isNull = false;
};
int32_t decodeString(std::string_view token, DecodedString* out);
// decodeString for a token as a message is cut into them (splitMessage,
// ReplyReader::split), which ends with the ")" that closes its first "(":
// the text runs up to that last byte without a search, so a bulk text is
// not read again. Anything else goes decodeString's way.
int32_t decodeCutString(std::string_view token, DecodedString* out);

// A validated double array: its declared count and the element text,
// ready to be copied out without any further failure.
struct DoubleArrayView {
    int32_t count = 0;
    std::string_view elements; // "e1,e2,..." between the brackets
    void copyTo(double* destination) const;
};
// Checks a (da=count[e1,...]) token completely: tag (-5), format (-2),
// count text (-3), count against elements (-4), every element's hex (-6).
// "0[]" is an empty array. `checkedElements`: how many elements right after
// the token's first "[" are already known to be 16 hex digits and a comma
// each (countCommaElements over these very bytes), so are not looked at
// again; the result is the same as without.
int32_t parseDoubleArray(std::string_view token, DoubleArrayView* out, std::size_t checkedElements = 0);

// The array pre-check, for a reader that checks an array's elements as
// they arrive (countCommaElements): where the elements of the token that
// begins at data[token] start, just after its "(da=" count "[". 0 while
// data[0, size) may still be short of that head; kNotAnArray when the token
// is anything else, which the decoder alone then judges.
inline constexpr std::size_t kNotAnArray = SIZE_MAX;
std::size_t arrayElementsStart(const char* data, std::size_t token, std::size_t size);

int32_t decodeDoubleArray(std::string_view token, std::vector<double>* values);

// Encodes a double array token; used by servers, never by the library.
void appendDoubleArray(std::string& out, const double* values, std::size_t count);

// A reply that carries only a result code: name "=" (n=code). Servers send
// it for every failure, and the callback listener for messages it has no
// handler for.
std::string resultOnlyReply(std::string_view name, int32_t code);

} // namespace tqbse::codec
