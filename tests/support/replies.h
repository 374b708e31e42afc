// Well-formed replies for any row, with the bytes each output must then hold.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "protocol/call_description.h"
#include "protocol/codec.h"

namespace tqbse::hardening {

struct ReplyShape {
    int textLength = 5;  // characters of every text output
    int arrayLength = 3; // elements of every array output
};

struct ExpectedReply {
    std::string text;                 // the whole reply
    std::vector<std::string> outputs; // per output: the bytes it must start with
};

inline std::string patternText(int length, int salt = 0)
{
    std::string t(std::size_t(length), '\0');
    for (int i = 0; i < length; ++i)
        t[std::size_t(i)] = char('a' + (i + salt) % 26);
    return t;
}

// `salt` changes every value, so that replies to two calls of one export
// can be told apart.
inline ExpectedReply wellFormedReply(const CallDesc& call, ReplyShape shape = {}, int32_t result = 0, int salt = 0)
{
    ExpectedReply r;
    r.text = std::string(call.name) + '=';
    codec::appendInt(r.text, result);
    auto raw = [](const auto& v) { return std::string(reinterpret_cast<const char*>(&v), sizeof v); };
    for (int k = 0; k < call.outputCount; ++k) {
        switch (call.outputs[k].role) {
        case ParamRole::OutInt:
        case ParamRole::OutBool: {
            const int32_t v = 0x11223344 + k + 16 * salt;
            codec::appendInt(r.text, v);
            r.outputs.push_back(raw(v));
            break;
        }
        case ParamRole::OutFloat: {
            const float v = 1.25f + float(k) + 16.0f * float(salt);
            codec::appendFloat(r.text, v);
            r.outputs.push_back(raw(v));
            break;
        }
        case ParamRole::OutDouble: {
            const double v = 3.5 + k + 16.0 * salt;
            codec::appendDouble(r.text, v);
            r.outputs.push_back(raw(v));
            break;
        }
        case ParamRole::OutVersion: {
            std::string all;
            for (int32_t v : {6, 0, 0, salt}) {
                codec::appendInt(r.text, v);
                all += raw(v);
            }
            r.outputs.push_back(all);
            break;
        }
        case ParamRole::OutText: {
            const std::string t = patternText(shape.textLength, k + 3 * salt);
            r.text += "(s=" + t + ")";
            r.outputs.push_back(t + '\0');
            break;
        }
        case ParamRole::OutArray: {
            std::vector<double> values;
            for (int i = 0; i < shape.arrayLength; ++i)
                values.push_back(i * 0.5 + k + 16.0 * salt);
            codec::appendDoubleArray(r.text, values.data(), values.size());
            r.outputs.push_back(std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(double)));
            break;
        }
        // Not outputs: nothing in the reply.
        case ParamRole::InInt:
        case ParamRole::InBool:
        case ParamRole::InFloat:
        case ParamRole::InDouble:
        case ParamRole::InText:
        case ParamRole::TextLimit:
        case ParamRole::BufferSize:
        case ParamRole::Capacity:
        case ParamRole::LocalInt:
        case ParamRole::LocalSize:
            break;
        }
    }
    return r;
}

} // namespace tqbse::hardening
