// The values of one call, with their own storage, built from its row: typed
// inputs, owned texts, and a slot for every output. A frame hands its C
// arguments to an export and reads the outputs back (the tool, tests); a
// server takes a request's tokens as the frame's inputs and encodes the
// reply from the outputs its handler added. The library's own call path
// needs none of this: its frame is the caller's argument array.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/call_description.h"
#include "protocol/wire_value.h"

namespace tqbse {

class CallFrame {
public:
    explicit CallFrame(const CallDesc& call);

    const CallDesc& call() const { return *call_; }

    // Inputs and library-only parameters, by C parameter index.
    void setInt(int param, int32_t value);
    void setFloat(int param, float value);
    void setDouble(int param, double value);
    // A text input, copied into the frame; its limit becomes its length.
    void setText(int param, std::string_view text);
    // Every buffer size and array capacity becomes `size`, and every text
    // buffer and array is made that big (at least one element).
    void setBound(int32_t size);

    // Where C parameter `param` lives in this frame: an output's memory, a
    // text input's zero-terminated bytes (null for the null text); null for
    // a number input. Valid while the frame is neither changed nor moved
    // (client/c_arguments.h builds an export's arguments from it).
    void* memory(int param);

    // A request's tokens, in wire order, become the inputs (texts copied).
    // 0; kParameterCount for a wrong number of tokens; or the decoder's code
    // for the first token that does not decode.
    int32_t decodeRequest(std::span<const std::string_view> tokens);
    // Input k, in wire order.
    WireValue input(int k) const { return value(call_->inputs[k].param); }

    // Adds the next output value in reply order (the version takes four).
    // False, and the reply becomes kInternalObjectError, when it does not fit
    // the row: a value of another tag than the output's, or one too many.
    bool addOutput(const WireValue& value);
    bool addOutput(std::vector<double>&& array);
    // name "=" (n=result) and every output's tokens; the result alone when
    // it is negative; kInternalObjectError alone when outputs are missing or
    // did not fit.
    std::string encodeReply(std::string_view name, int32_t result) const;

    // Output k (reply order); `element` is the version's token index.
    WireValue output(int k, int element = 0) const { return value(call_->outputs[k].param, element); }
    // The value of C parameter `param`. A text output is the buffer's text
    // up to its terminating zero; an array output has the length last set.
    WireValue value(int param, int element = 0) const;

private:
    // The storage of one C parameter; its tag says which member holds it.
    struct Slot {
        WireTag tag = WireTag::None;
        int32_t ints[4] = {};        // an integer, flag, limit or size (four for the version)
        float f = 0;
        double d = 0;
        std::string text;            // an input or output text, or a text output's buffer
        bool textIsNull = false;     // the text is the null text
        bool textIsBuffer = false;   // `text` is a C buffer: its text ends at the first zero
        std::vector<double> array;   // an array output
        std::size_t arrayLength = 0; // elements of `array` that the output holds
    };
    bool putOutput(const WireValue& value, std::vector<double>* array);
    static void store(Slot& s, const WireValue& value, int element, std::vector<double>* array);

    const CallDesc* call_;
    std::array<Slot, kMaxParams> slots_{};
    int outputsAdded_ = 0;
    bool misfit_ = false;
};

} // namespace tqbse
