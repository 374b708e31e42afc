// Message text format and parameter codec. Pure functions, no socket.
//
// A message is  name "=" token token ...  with no separators. Numbers travel
// as the hex text of their little-endian bytes; texts travel unescaped. All
// text is 8-bit (QByteArray, Latin-1): every byte passes unchanged.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace tqbse::codec {

// Codec result codes (see the result-code table for their texts).
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFormatError = -2;       // no "=", or unmatched "("
inline constexpr int32_t kArrayCountError = -3;   // array count is not a decimal integer
inline constexpr int32_t kArrayLengthError = -4;  // array count differs from its elements
inline constexpr int32_t kTypeMismatch = -5;      // token does not begin with the expected tag
inline constexpr int32_t kContentsMismatch = -6;  // hex text has the wrong length or a bad digit

// Hex text of `count` bytes, two lower-case digits each, appended to `out`.
void appendHex(QByteArray& out, const void* bytes, std::size_t count);
QByteArray bytesToHex(const void* bytes, std::size_t count);

// Decodes exactly 2*count hex digits (either case). On a bad pair the bytes
// before it are already stored and the rest untouched; a wrong length
// writes nothing.
bool hexToBytes(QByteArrayView text, void* destination, std::size_t count);

// Encoders append one token to `out`; the value-returning forms build one.
void appendInt(QByteArray& out, int32_t value);
void appendFloat(QByteArray& out, float value);
void appendDouble(QByteArray& out, double value);
// Appends (s=text), (s=NULL) for a null pointer, or nothing at all when the
// text is longer than `limit` (signed: a negative limit keeps every text out).
void appendString(QByteArray& out, const char* text, int32_t limit);

QByteArray encodeInt(int32_t value);
QByteArray encodeBool(int32_t value);
QByteArray encodeFloat(float value);
QByteArray encodeDouble(double value);
QByteArray encodeString(const char* text, int32_t limit);

struct TokenBounds {
    qsizetype start; // just after the first "(" (0 when there is none); -1 on failure
    qsizetype end;   // just after the ")" that matches it; -1 on failure
};
TokenBounds findTokenEnd(QByteArrayView text);

// The value part of a token: from after the first "=" to before the
// matching ")". Returns kOk or kFormatError.
int32_t extractValue(QByteArrayView token, QByteArrayView* value);

int32_t decodeInt(QByteArrayView token, int32_t* value);
int32_t decodeBool(QByteArrayView token, int32_t* value);
int32_t decodeFloat(QByteArrayView token, float* value);
int32_t decodeDouble(QByteArrayView token, double* value);

// A decoded string token. `isNull` for (s=NULL); `text` views the token.
struct DecodedString {
    QByteArrayView text;
    bool isNull = false;
};
int32_t decodeString(QByteArrayView token, DecodedString* out);

// A validated double array: its declared count and the element text,
// ready to be copied out without any further failure.
struct DoubleArrayView {
    int32_t count = 0;
    QByteArrayView elements; // "e1,e2,..." between the brackets
    void copyTo(double* destination) const;
};
// Checks a (da=count[e1,...]) token completely: tag (-5), format (-2),
// count text (-3), count against elements (-4), every element's hex (-6).
// "0[]" is an empty array.
int32_t parseDoubleArray(QByteArrayView token, DoubleArrayView* out);
int32_t decodeDoubleArray(QByteArrayView token, std::vector<double>* values);

// Encodes a double array token; used by servers, never by the library.
void appendDoubleArray(QByteArray& out, const double* values, std::size_t count);

// A cut message: name and the token texts, viewing the message text.
struct SplitMessage {
    QByteArrayView name;
    std::vector<QByteArrayView> params;
};
// Cuts a message. Never fails; text after the last complete token is dropped.
// The views point into `message`, which must outlive the result.
void splitMessage(QByteArrayView message, SplitMessage* out);
SplitMessage splitMessage(QByteArrayView message);

} // namespace tqbse::codec
