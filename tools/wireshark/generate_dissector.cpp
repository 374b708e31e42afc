// Writes the Wireshark dissector tools/wireshark/tqbse.lua with its rows
// brought up to date: between its "-- BEGIN ROWS" and "-- END ROWS" lines, a
// table of every remote export's request and reply parameters expanded from
// the call rows, the result codes' names, and the formatter of each token
// tag; the rest of the file (the
// dissector itself) is copied unchanged.
// Usage: generate_dissector tqbse.lua > new-tqbse.lua
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "protocol/call_table.h"
#include "protocol/result_codes.h"
#include "protocol/wire_value.h"

namespace {

// The dissector's formatter of a value of this tag (a function of the Lua
// part). Wireshark runs Lua and cannot call the value model's text
// function (protocol/value_text.h), so the dissector formats on its own;
// this switch makes a new tag a compile error here until it has one.
const char* luaFormatter(tqbse::WireTag tag)
{
    using tqbse::WireTag;
    switch (tag) {
    case WireTag::Int: return "int_text";
    case WireTag::Float: return "float_text";
    case WireTag::Double: return "double_text";
    case WireTag::String: return "string_text";
    case WireTag::DoubleArray: return "array_text";
    case WireTag::None: break;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tqbse;
    if (argc != 2) {
        std::fprintf(stderr, "usage: generate_dissector tqbse.lua > new-tqbse.lua\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::stringstream read;
    read << file.rdbuf();
    const std::string old = read.str();
    constexpr std::string_view kBegin = "-- BEGIN ROWS\n", kEnd = "-- END ROWS\n";
    const std::size_t begin = old.find(kBegin), end = old.find(kEnd);
    if (!file || begin == std::string::npos || end == std::string::npos || end < begin) {
        std::fprintf(stderr, "generate_dissector: %s has no BEGIN ROWS ... END ROWS part\n", argv[1]);
        return 1;
    }
    std::string lua = "-- Each request's inputs and each reply's outputs after the result code, by\n"
                      "-- parameter name in wire order.\n"
                      "local CALLS = {\n";
    for (const CallDesc* call : allCalls()) {
        if (call->kind == CallKind::Local)
            continue;
        lua += "  [\"" + std::string(call->fullName()) + "\"] = {inputs = {";
        for (int k = 0; k < call->inputCount; ++k)
            lua += std::string(k ? ", " : "") + "\"" + call->params[call->inputs[k].param].name + "\"";
        lua += "}, outputs = {";
        bool first = true;
        for (int k = 0; k < call->outputCount; ++k) {
            for (int j = 0; j < traits(call->outputs[k].role).replyTokens; ++j, first = false)
                lua += std::string(first ? "" : ", ") + "\"" + call->params[call->outputs[k].param].name + "\"";
        }
        lua += "}},\n";
    }
    lua += "}\n\n-- Result codes by value.\nlocal RESULTS = {\n";
    for (int32_t code = kHighestCode; code >= kLowestCode; --code)
        if (!resultName(code).empty())
            lua += "  [" + std::to_string(code) + "] = \"" + std::string(resultName(code)) + "\",\n";
    lua += "}\n\n-- The formatter of each token tag, by its letters (functions below).\nlocal TAG_FORMATTERS = {\n";
    for (const WireTag tag : {WireTag::None, WireTag::Int, WireTag::Float, WireTag::Double, WireTag::String,
                              WireTag::DoubleArray})
        if (const char* formatter = luaFormatter(tag))
            lua += "  " + std::string(tagLetters(tag)) + " = \"" + formatter + "\",\n";
    lua += "}\n";
    std::cout << old.substr(0, begin + kBegin.size()) << lua << old.substr(end);
    return std::cout.good() ? 0 : 1;
}
