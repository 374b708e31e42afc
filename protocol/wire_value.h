// The value model: one token's value as a tagged value where only the
// member of its tag exists, with its encoder and its decoder. Pure, no
// socket, no C arguments (client/c_arguments.h binds those to values).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocol/call_description.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"

namespace tqbse {

// A text value: its bytes, or the null text, (s=NULL).
struct WireText {
    std::string_view text{};
    bool isNull = false;
};

// One token's value. A decoded value views the token it came from: a text
// is a view of its bytes, an array the validated element text, so decoding
// allocates nothing. An array to encode is a span of doubles; both kinds of
// array have the DoubleArray tag.
class WireValue {
public:
    constexpr WireValue() = default;

    static constexpr WireValue ofInt(int32_t v) { return WireValue(Storage(std::in_place_type<int32_t>, v)); }
    static constexpr WireValue ofFloat(float v) { return WireValue(Storage(std::in_place_type<float>, v)); }
    static constexpr WireValue ofDouble(double v) { return WireValue(Storage(std::in_place_type<double>, v)); }
    static constexpr WireValue ofText(std::string_view v) { return WireValue(Storage(WireText{v, false})); }
    static constexpr WireValue nullText() { return WireValue(Storage(WireText{{}, true})); }
    static constexpr WireValue ofArray(std::span<const double> v) { return WireValue(Storage(v)); }
    static constexpr WireValue ofDecodedArray(codec::DoubleArrayView v) { return WireValue(Storage(v)); }

    constexpr WireTag tag() const { return kTagOf[value_.index()]; }

    // The member of the value's tag; a value of another tag reads as zero,
    // the empty text or the empty array.
    constexpr int32_t asInt() const { return get<int32_t>(); }
    constexpr float asFloat() const { return get<float>(); }
    constexpr double asDouble() const { return get<double>(); }
    constexpr WireText asText() const { return get<WireText>(); }
    constexpr std::string_view text() const { return asText().text; }
    constexpr bool isNull() const { return asText().isNull; }
    // A decoded array: its validated element text (empty for doubles to encode).
    constexpr codec::DoubleArrayView decodedArray() const { return get<codec::DoubleArrayView>(); }
    // An array to encode: its doubles (empty for a decoded array).
    constexpr std::span<const double> doubles() const { return get<std::span<const double>>(); }
    // Either kind of array's elements, copied out (servers and tools only).
    std::vector<double> arrayValues() const;

    // Visits the active member (std::monostate for None).
    template <typename Visitor>
    constexpr decltype(auto) visit(Visitor&& visitor) const
    {
        return std::visit(std::forward<Visitor>(visitor), value_);
    }

private:
    using Storage = std::variant<std::monostate, int32_t, float, double, WireText, codec::DoubleArrayView,
                                 std::span<const double>>;
    static constexpr WireTag kTagOf[] = {WireTag::None,   WireTag::Int,         WireTag::Float,      WireTag::Double,
                                         WireTag::String, WireTag::DoubleArray, WireTag::DoubleArray};
    static_assert(std::size(kTagOf) == std::variant_size_v<Storage>, "a tag for every member");

    constexpr explicit WireValue(Storage value) : value_(value) {}
    template <typename T>
    constexpr T get() const
    {
        const T* p = std::get_if<T>(&value_);
        return p ? *p : T{};
    }

    Storage value_{};
};

// The letters before a token's "=": n, f, d, s, da; empty for None.
constexpr std::string_view tagLetters(WireTag tag)
{
    switch (tag) {
    case WireTag::Int: return "n";
    case WireTag::Float: return "f";
    case WireTag::Double: return "d";
    case WireTag::String: return "s";
    case WireTag::DoubleArray: return "da";
    case WireTag::None: break;
    }
    return "";
}

// Appends the token of `value` by its tag; a None value appends nothing.
void encodeValue(std::string& out, const WireValue& value);
// Decodes a token of the given tag into `value`, which gets that tag.
// `token` is one as a message is cut into them (codec::splitMessage,
// ReplyReader::split), so a text's end is known (codec::decodeCutString).
// Returns the codec's code: 0, -5 for a token of another tag, -2/-3/-4/-6
// for one that does not decode. `checkedElements`: for an array, as
// codec::parseDoubleArray takes it.
int32_t decodeValue(WireTag tag, std::string_view token, WireValue* value, std::size_t checkedElements = 0);

// ---- Definitions ------------------------------------------------------
// Inline: in the library's call path the tag is known from the role, so
// encoding or decoding folds into one branch.

inline void encodeValue(std::string& out, const WireValue& value)
{
    struct Encoder {
        std::string& out;
        void operator()(std::monostate) const {}
        void operator()(int32_t v) const { codec::appendInt(out, v); }
        void operator()(float v) const { codec::appendFloat(out, v); }
        void operator()(double v) const { codec::appendDouble(out, v); }
        void operator()(const WireText& v) const
        {
            if (v.isNull)
                codec::appendNullString(out);
            else
                codec::appendString(out, v.text);
        }
        void operator()(std::span<const double> v) const { codec::appendDoubleArray(out, v.data(), v.size()); }
        // A decoded array is sent again as it came: its count and elements.
        void operator()(const codec::DoubleArrayView& v) const
        {
            out.append("(da=").append(std::to_string(v.count)).append("[").append(v.elements).append("])");
        }
    };
    value.visit(Encoder{out});
}

inline int32_t decodeValue(WireTag tag, std::string_view token, WireValue* value, std::size_t checkedElements)
{
    int32_t rc = kSuccess;
    switch (tag) {
    case WireTag::Int: {
        int32_t v = 0;
        rc = codec::decodeInt(token, &v);
        *value = WireValue::ofInt(v);
        return rc;
    }
    case WireTag::Float: {
        float v = 0;
        rc = codec::decodeFloat(token, &v);
        *value = WireValue::ofFloat(v);
        return rc;
    }
    case WireTag::Double: {
        double v = 0;
        rc = codec::decodeDouble(token, &v);
        *value = WireValue::ofDouble(v);
        return rc;
    }
    case WireTag::String: {
        codec::DecodedString s;
        rc = codec::decodeCutString(token, &s);
        *value = s.isNull ? WireValue::nullText() : WireValue::ofText(s.text);
        return rc;
    }
    case WireTag::DoubleArray: {
        codec::DoubleArrayView v;
        rc = codec::parseDoubleArray(token, &v, checkedElements);
        *value = WireValue::ofDecodedArray(v);
        return rc;
    }
    case WireTag::None:
        *value = WireValue();
        break;
    }
    return rc;
}

} // namespace tqbse
