// The arguments of one call built from its row: fixed input values, held by
// the protocol's call frame, and every output in a sentinel-filled heap block
// of exactly the declared size followed by guard bytes, so a test can tell
// what a call wrote and whether it wrote one byte too many.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/call_remote.h"
#include "client/session.h"
#include "protocol/call_description.h"
#include "protocol/call_frame.h"

namespace tqbse::hardening {

inline constexpr uint8_t kSentinel = 0xa5;
inline constexpr std::size_t kGuardBytes = 16;

class GuardedCall {
public:
    // The value of an input parameter, for callers that need other inputs
    // than the fixed ones.
    using Inputs = ArgValue (*)(const CallDesc& call, const ParamDesc& param);

    // `bound` is every buffer size (bytes) and array capacity (elements),
    // `textLimit` the limit of every text input ("name").
    GuardedCall(const CallDesc& call, int32_t bound, int32_t textLimit = 64, Inputs inputs = nullptr)
        : call_(call), values_(call), blocks_(call.paramCount)
    {
        for (int i = 0; i < call.paramCount; ++i) {
            const ParamRole role = call.params[i].role;
            switch (traits(role).tag) {
            case WireTag::Float: values_.setFloat(i, 1.5f); break;
            case WireTag::Double: values_.setDouble(i, 2.5); break;
            case WireTag::String: values_.setText(i, "name"); break;
            case WireTag::Int:
            case WireTag::DoubleArray: // an array output: its block replaces the value below
            case WireTag::None: values_.setInt(i, role == ParamRole::TextLimit ? textLimit : 3); break;
            }
        }
        values_.setBound(bound);
        const auto args = cArguments(values_);
        args_.assign(args.begin(), args.begin() + call.paramCount);
        for (int i = 0; i < call.paramCount; ++i)
            if (inputs && isValueInput(call.params[i].role))
                args_[i] = inputs(call, call.params[i]);
        // Every output goes to a guarded block instead of the frame's own storage.
        for (int k = 0; k < call.outputCount; ++k) {
            const WireOutput& out = call.outputs[k];
            const WireTag tag = traits(out.role).tag;
            const bool sized = tag == WireTag::String || tag == WireTag::DoubleArray;
            const std::size_t count = sized ? std::size_t(bound) : traits(out.role).replyTokens;
            args_[out.param] = outputArg(tag, alloc(out.param, count * elementBytes(tag)));
        }
    }
    GuardedCall(const GuardedCall&) = delete;
    GuardedCall& operator=(const GuardedCall&) = delete;

    // Runs the call over the library's client connection, as an export
    // does, or over `exchange`.
    int32_t callOverSocket() { return callRemote(defaultSession().connection, call_, args_.data()); }
    template <typename F>
    int32_t call(F exchange)
    {
        return callRemote(call_, args_.data(), exchange);
    }

    // Output k (reply order) becomes a NULL pointer; its size stays.
    void nullOutput(int k) { args_[call_.outputs[k].param] = ArgValue(static_cast<double*>(nullptr)); }

    const CallDesc& call() const { return call_; }
    const ArgValue* args() const { return args_.data(); }

    // Output k (0-based, reply order) still holds only sentinel bytes.
    bool untouched(int k) const
    {
        const Block& b = blocks_[call_.outputs[k].param];
        for (std::size_t i = 0; i < b.size; ++i)
            if (b.bytes[i] != kSentinel)
                return false;
        return true;
    }
    bool allUntouched() const
    {
        for (int k = 0; k < call_.outputCount; ++k)
            if (!untouched(k))
                return false;
        return true;
    }
    // No block was written past its declared size.
    bool guardsIntact() const
    {
        for (const Block& b : blocks_)
            for (std::size_t i = b.size; i < b.size + (b.bytes ? kGuardBytes : 0); ++i)
                if (b.bytes[i] != kSentinel)
                    return false;
        return true;
    }
    // The bytes of output k, as written.
    std::string bytes(int k) const
    {
        const Block& b = blocks_[call_.outputs[k].param];
        return std::string(reinterpret_cast<const char*>(b.bytes.get()), b.size);
    }

private:
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        std::size_t size = 0;
    };

    uint8_t* alloc(int param, std::size_t size)
    {
        Block& b = blocks_[param];
        b.bytes.reset(new uint8_t[size + kGuardBytes]);
        b.size = size;
        std::memset(b.bytes.get(), kSentinel, size + kGuardBytes);
        return b.bytes.get();
    }

    const CallDesc& call_;
    tqbse::CallFrame values_; // the inputs' values and storage
    std::vector<Block> blocks_;
    std::vector<ArgValue> args_;
};

} // namespace tqbse::hardening
