// An export's documentation as text: its C signature, a command-line
// example and its JSON description, from the call rows and the texts beside
// them (protocol/call_docs.h).
#pragma once

#include "protocol/call_docs.h"

#include <string>

namespace tqbse::reference {

// The C spelling of a parameter's type: "int32_t", "double*", "const char*".
const char* cType(ParamRole role);
// "int32_t tqBsePluginControlDll_RX_CentreFrequency_Set(int32_t index, double frequency)"
std::string cSignature(const CallDesc& call);
// "tqbse RX_CentreFrequency_Set 0 1.95e9", with the rows' example values.
std::string cliExample(const CallDesc& call);

// One export as JSON: its name, typed arguments ("args") and outputs, each
// with its kind and text, every C parameter ("params"), family, summary,
// signature, example and the codes it can return. `tqbse list --json` is an
// array of these; the Python package is generated from it.
std::string callJson(const CallDesc& call);
// Everything the reference is built from: {"calls": [...], "families": [...],
// "codes": [{code, name, text, meaning}]}.
std::string referenceJson();

} // namespace tqbse::reference
