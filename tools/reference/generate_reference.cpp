// Writes what is generated from the call rows and their texts:
//   generate_reference header tqBsePluginControlDll.h   the header with its
//       exports' declarations and comments brought up to date
//   generate_reference man tqbse.h2m   the help2man include with a CALLS
//       section, one entry per export
//   generate_reference json   everything the HTML reference is built from
// The result goes to standard output.
#include "call_text.h"
#include "header_docs.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

using namespace tqbse;

bool readFile(const char* path, std::string* text)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream read;
    read << file.rdbuf();
    *text = read.str();
    return static_cast<bool>(file);
}

// Text for roff: backslashes and minus signs escaped.
std::string roff(std::string_view text)
{
    std::string out;
    for (const char c : text)
        out += c == '\\' ? "\\e" : c == '-' ? "\\-" : std::string(1, c);
    return out;
}

std::string manCalls()
{
    std::string text = "[CALLS]\n"
                       "Every export can be called by its name without the prefix. "
                       "\\fBtqbse describe\\fR \\fICALL\\fR shows an export's parameters, codes and an example.\n";
    for (const CallDesc* call : allCalls()) {
        text += ".TP\n.B " + roff(call->shortName());
        std::string args;
        for (int i = 0; i < call->paramCount; ++i)
            if (isTyped(call->params[i].role))
                args.append(args.empty() ? "" : " ").append(call->params[i].name);
        if (!args.empty())
            text += " \\fI" + args + "\\fR";
        const CallDoc* doc = findCallDoc(*call);
        text += '\n' + roff(doc ? doc->summary : "") + '\n';
    }
    return text;
}

int usage()
{
    std::fprintf(stderr, "usage: generate_reference header FILE | session-header FILE | man FILE | json\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "json" && argc == 2) {
        std::cout << reference::referenceJson();
        return std::cout.good() ? 0 : 1;
    }
    if ((mode != "header" && mode != "session-header" && mode != "man") || argc != 3)
        return usage();
    std::string old;
    if (!readFile(argv[2], &old)) {
        std::fprintf(stderr, "generate_reference: cannot read %s\n", argv[2]);
        return 1;
    }
    if (mode == "man") {
        std::cout << old << manCalls();
        return std::cout.good() ? 0 : 1;
    }
    const bool session = mode == "session-header";
    const std::string begin = session ? reference::kSessionHeaderBegin : reference::kHeaderBegin;
    const std::string end = session ? reference::kSessionHeaderEnd : reference::kHeaderEnd;
    const std::size_t from = old.find(begin), to = old.find(end);
    if (from == std::string::npos || to == std::string::npos || to < from) {
        std::fprintf(stderr, "generate_reference: %s has no %s ... %s part\n", argv[2], begin.c_str(), end.c_str());
        return 1;
    }
    std::cout << old.substr(0, from) << (session ? reference::sessionHeaderExports() : reference::headerExports())
              << old.substr(to + end.size());
    return std::cout.good() ? 0 : 1;
}
