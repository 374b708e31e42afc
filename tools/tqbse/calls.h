// The tool's view of the call-description rows: one invoker per export,
// generated from the rows, and the rules for typing arguments by role.
#pragma once

#include "client/c_arguments.h"
#include "protocol/call_table.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tqbse::cli {

// Calls one export with its C arguments laid out in argument order.
using Invoker = int32_t (*)(const ArgValue* args);

struct CliCall {
    const CallDesc* desc;
    Invoker invoke;
};

std::span<const CliCall> cliCalls();
// By name without the prefix (the full export name is accepted too).
const CliCall* findCliCall(std::string_view name);
// The call a mistyped name most likely meant, for a "did you mean" hint: the
// closest by edit distance, letter case ignored, within a few characters;
// null if none is that close.
const CliCall* closestCall(std::string_view name);
// Says on standard error that `name` is no call, with the closest one as a hint.
void sayUnknownCall(const std::string& name);

// The kind shown to the user: int, flag, float, double, text, ... (which
// parameters the user types is isTyped, from the role table).
const char* kindName(ParamRole role);
// "RX_CentreFrequency_Set index:int frequency:double"
std::string usageLine(const CallDesc& desc);
// "frequency:double" for every output, space separated ("-" for none).
std::string outputsLine(const CallDesc& desc);

// The text input that --file supplies (an upload's content); -1 if none.
int fileParam(const CallDesc& desc);
// The first text or array output; -1 if none.
int textOutParam(const CallDesc& desc);
int arrayOutParam(const CallDesc& desc);

// The query that reports how big the call's text or trace is, as its row
// names it; null for a call without such outputs.
const CallDesc* sizeQuery(const CallDesc& desc);

// Strict parsers for typed arguments; nullopt when the text does not parse.
std::optional<int32_t> parseInt(std::string_view text);
std::optional<int32_t> parseFlag(std::string_view text);
std::optional<float> parseFloat(std::string_view text);
std::optional<double> parseDouble(std::string_view text);

} // namespace tqbse::cli
