// Printing a call's outcome: readable text, JSON or CSV on the tool's
// output; failures and warnings on standard error.
#pragma once

#include "invocation.h"
#include "json_text.h"
#include "protocol/value_text.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace tqbse::cli {

// Numbers and values as text: protocol/value_text.h.
using ::tqbse::formatDouble;
using ::tqbse::formatFloat;
using ::tqbse::valueText;
// A value in JSON: a number, a string, null for the null text, an array of
// the doubles.
std::string valueJson(const WireValue& value);
using reference::jsonString;
// A JSON number, or null when the value is not finite.
std::string jsonNumber(double value);

// Prints the outcome and returns the tool's exit code for it.
int printResult(FILE* out, const Options& options, const CallResult& result);

// `tqbse list`: every call with its arguments and outputs; with --json, each
// call's full description (reference::callJson).
void printList(FILE* out, const Options& options);

} // namespace tqbse::cli
