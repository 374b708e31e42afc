// Printing a call's outcome: readable text, JSON or CSV on the tool's
// output; failures and warnings on standard error.
#pragma once

#include "invocation.h"
#include "json_text.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace tqbse::cli {

// Shortest text that reads back as the same value.
std::string formatDouble(double value);
std::string formatFloat(float value);
// A number value as readable text (empty for a text or an array).
std::string valueText(const WireValue& value);
// A value in JSON: a number, a string, null for the null text, an array of
// the doubles (`value.doubles`).
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
