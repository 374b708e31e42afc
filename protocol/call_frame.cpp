// A call's values built from its row, and their hand-over to an export.
#include "protocol/call_frame.h"

#include <algorithm>
#include <climits>
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

template <std::size_t... I>
std::array<ArgValue, sizeof...(I)> zeroArgs(std::index_sequence<I...>)
{
    return {((void)I, ArgValue(int32_t{0}))...};
}

} // namespace

CallFrame::CallFrame(const CallDesc& call) : call_(&call)
{
    for (int i = 0; i < call.paramCount; ++i)
        slots_[i].value.tag = traits(call.params[i].role).tag;
}

void CallFrame::setInt(int param, int32_t value)
{
    slots_[param].value.i = value;
}

void CallFrame::setFloat(int param, float value)
{
    slots_[param].value.f = value;
}

void CallFrame::setDouble(int param, double value)
{
    slots_[param].value.d = value;
}

void CallFrame::setText(int param, std::string_view text)
{
    Slot& s = slots_[param];
    s.text.assign(text);
    s.value.isNull = false;
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
            s.value.i = size;
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

std::array<ArgValue, kMaxParams> CallFrame::args()
{
    std::array<ArgValue, kMaxParams> a = zeroArgs(std::make_index_sequence<kMaxParams>());
    for (int i = 0; i < call_->paramCount; ++i) {
        Slot& s = slots_[i];
        const WireTag tag = s.value.tag;
        if (isOutput(call_->params[i].role)) {
            void* memory = tag == WireTag::Int      ? static_cast<void*>(s.ints)
                           : tag == WireTag::Float  ? static_cast<void*>(&s.value.f)
                           : tag == WireTag::Double ? static_cast<void*>(&s.value.d)
                           : tag == WireTag::String ? static_cast<void*>(s.text.data())
                                                    : static_cast<void*>(s.array.data());
            a[i] = outputArg(tag, memory);
        } else if (tag == WireTag::String) {
            a[i] = ArgValue(s.value.isNull ? nullptr : s.text.c_str());
        } else if (tag == WireTag::Float) {
            a[i] = ArgValue(s.value.f);
        } else if (tag == WireTag::Double) {
            a[i] = ArgValue(s.value.d);
        } else {
            a[i] = ArgValue(s.value.i); // integers, flags, limits, sizes, local integers
        }
    }
    return a;
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
        Slot& s = slots_[in.param];
        s.text.assign(v.text);
        s.value = v;
    }
    return kSuccess;
}

WireValue CallFrame::value(int param, int element) const
{
    const Slot& s = slots_[param];
    WireValue v = s.value;
    if (v.tag == WireTag::String && !v.isNull) {
        const std::size_t end = s.textIsBuffer ? s.text.find('\0') : std::string::npos;
        v.text = std::string_view(s.text).substr(0, end);
    } else if (v.tag == WireTag::DoubleArray) {
        v.doubles = std::span<const double>(s.array.data(), std::min(s.arrayLength, s.array.size()));
    } else if (v.tag == WireTag::Int && isOutput(call_->params[param].role)) {
        v.i = s.ints[element];
    }
    return v;
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
        if (value.tag != s.value.tag)
            break;
        if (value.tag == WireTag::Int) {
            s.ints[next] = value.i;
        } else if (value.tag == WireTag::String) {
            s.text.assign(value.text);
            s.textIsBuffer = false;
            s.value.isNull = value.isNull;
        } else if (value.tag == WireTag::DoubleArray) {
            if (array)
                s.array = std::move(*array);
            else
                s.array.assign(value.doubles.begin(), value.doubles.end());
            s.arrayLength = s.array.size();
        } else {
            s.value = value;
        }
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
