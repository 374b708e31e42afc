// A call's values built from its row, and their hand-over to an export.
#include "protocol/call_frame.h"

#include <algorithm>
#include <climits>
#include <span>
#include <utility>

#include "protocol/result_codes.h"

namespace tqbse {
namespace {

int totalReplyTokens(const CallDesc& call)
{
    int tokens = 0;
    for (int k = 0; k < call.outputCount; ++k)
        tokens += traits(call.outputs[k].role).replyTokens;
    return tokens;
}

} // namespace

CallFrame::CallFrame(const CallDesc& call) : call_(&call)
{
    for (int i = 0; i < call.paramCount; ++i)
        slots_[i].tag = traits(call.params[i].role).tag;
}

void CallFrame::setInt(int param, int32_t value)
{
    slots_[param].ints[0] = value;
}

void CallFrame::setFloat(int param, float value)
{
    slots_[param].f = value;
}

void CallFrame::setDouble(int param, double value)
{
    slots_[param].d = value;
}

void CallFrame::setText(int param, std::string_view text)
{
    Slot& s = slots_[param];
    s.text.assign(text);
    s.textIsNull = false;
    if (param + 1 < call_->paramCount && call_->params[param + 1].role == ParamRole::TextLimit)
        setInt(param + 1, int32_t(std::min<std::size_t>(text.size(), INT32_MAX)));
}

void CallFrame::setBound(int32_t size)
{
    const std::size_t room = std::size_t(std::max(size, 1));
    for (int i = 0; i < call_->paramCount; ++i) {
        const ParamRole role = call_->params[i].role;
        Slot& s = slots_[i];
        if (isSizeParam(role))
            s.ints[0] = size;
        else if (role == ParamRole::OutText) {
            s.text.assign(room, '\0');
            s.textIsBuffer = true;
        }
        else if (role == ParamRole::OutArray) {
            s.array.assign(room, 0.0);
            s.arrayLength = std::size_t(std::max(size, 0));
        }
    }
}

void* CallFrame::memory(int param)
{
    Slot& s = slots_[param];
    switch (s.tag) {
    case WireTag::Int:
        return isOutput(call_->params[param].role) ? s.ints : nullptr;
    case WireTag::Float:
        return isOutput(call_->params[param].role) ? &s.f : nullptr;
    case WireTag::Double:
        return isOutput(call_->params[param].role) ? &s.d : nullptr;
    case WireTag::String:
        return s.textIsNull ? nullptr : s.text.data();
    case WireTag::DoubleArray:
        return s.array.data();
    case WireTag::None:
        break;
    }
    return nullptr;
}

// Stores a value of the slot's tag; one of another tag stores nothing.
void CallFrame::store(Slot& s, const WireValue& v, int element, std::vector<double>* array)
{
    switch (v.tag()) {
    case WireTag::Int:
        s.ints[element] = v.asInt();
        break;
    case WireTag::Float:
        s.f = v.asFloat();
        break;
    case WireTag::Double:
        s.d = v.asDouble();
        break;
    case WireTag::String:
        s.text.assign(v.text());
        s.textIsNull = v.isNull();
        s.textIsBuffer = false;
        break;
    case WireTag::DoubleArray:
        if (array)
            s.array = std::move(*array);
        else
            s.array = v.arrayValues();
        s.arrayLength = s.array.size();
        break;
    case WireTag::None:
        break;
    }
}

int32_t CallFrame::decodeRequest(std::span<const std::string_view> tokens)
{
    if (tokens.size() != call_->inputCount)
        return kParameterCount;
    for (int k = 0; k < call_->inputCount; ++k) {
        const WireInput& in = call_->inputs[k];
        WireValue v;
        if (const int32_t rc = decodeValue(traits(in.role).tag, tokens[std::size_t(k)], &v); rc != kSuccess)
            return rc;
        store(slots_[in.param], v, 0, nullptr);
    }
    return kSuccess;
}

WireValue CallFrame::value(int param, int element) const
{
    const Slot& s = slots_[param];
    switch (s.tag) {
    case WireTag::Int:
        return WireValue::ofInt(s.ints[element]);
    case WireTag::Float:
        return WireValue::ofFloat(s.f);
    case WireTag::Double:
        return WireValue::ofDouble(s.d);
    case WireTag::String: {
        if (s.textIsNull)
            return WireValue::nullText();
        const std::size_t end = s.textIsBuffer ? s.text.find('\0') : std::string::npos;
        return WireValue::ofText(std::string_view(s.text).substr(0, end));
    }
    case WireTag::DoubleArray:
        return WireValue::ofArray(std::span<const double>(s.array.data(), std::min(s.arrayLength, s.array.size())));
    case WireTag::None:
        break;
    }
    return WireValue::ofInt(s.ints[0]); // a limit, size or local integer
}

bool CallFrame::putOutput(const WireValue& value, std::vector<double>* array)
{
    int next = outputsAdded_++;
    for (int k = 0; k < call_->outputCount; ++k) {
        const WireOutput& out = call_->outputs[k];
        const int tokens = traits(out.role).replyTokens;
        if (next >= tokens) {
            next -= tokens;
            continue;
        }
        Slot& s = slots_[out.param];
        if (value.tag() != s.tag)
            break;
        store(s, value, next, array);
        return true;
    }
    misfit_ = true;
    return false;
}

bool CallFrame::addOutput(const WireValue& value)
{
    return putOutput(value, nullptr);
}

bool CallFrame::addOutput(std::vector<double>&& array)
{
    return putOutput(WireValue::ofArray(array), &array);
}

std::string CallFrame::encodeReply(std::string_view name, int32_t result) const
{
    if (result < 0)
        return codec::resultOnlyReply(name, result);
    if (misfit_ || outputsAdded_ < totalReplyTokens(*call_))
        return codec::resultOnlyReply(name, kInternalObjectError);
    std::size_t size = name.size() + 16;
    for (int k = 0; k < call_->outputCount; ++k) {
        const Slot& s = slots_[call_->outputs[k].param];
        size += 20 * traits(call_->outputs[k].role).replyTokens + s.text.size() + s.arrayLength * 17;
    }
    std::string out;
    out.reserve(size);
    out.append(name);
    out.push_back('=');
    codec::appendInt(out, result);
    for (int k = 0; k < call_->outputCount; ++k)
        for (int j = 0; j < traits(call_->outputs[k].role).replyTokens; ++j)
            encodeValue(out, output(k, j));
    return out;
}

} // namespace tqbse
