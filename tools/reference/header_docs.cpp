#include "header_docs.h"
#include "call_text.h"

#include <algorithm>
#include <sstream>

namespace tqbse::reference {
namespace {

constexpr std::size_t kWidth = 120;

// "/** summary\n *  name  meaning\n *  Codes: ... */"
std::string exportComment(const CallDesc& call)
{
    const CallDoc* doc = findCallDoc(call);
    std::string comment = wrapText(doc ? doc->summary : "", kWidth, "/** ", " *  ");
    std::size_t nameWidth = 0;
    for (int i = 0; i < call.paramCount; ++i)
        nameWidth = std::max(nameWidth, std::string_view(call.params[i].name).size());
    for (int i = 0; i < call.paramCount; ++i) {
        std::string name = call.params[i].name;
        name.resize(nameWidth + 2, ' ');
        comment += wrapText(paramText(call, i), kWidth, " *  " + name, " *  " + std::string(nameWidth + 2, ' '));
    }
    std::string codes = "Codes:";
    // Kept in a variable: the loop would outlive a temporary.
    const CallCodes returnable = callCodes(call);
    for (const int32_t code : returnable.list())
        codes += ' ' + std::to_string(code);
    comment += wrapText(codes, kWidth - 3, " *  ", " *  ");
    comment.insert(comment.size() - 1, " */");
    return comment;
}

// The declaration, wrapped after a comma where it is too long.
std::string declaration(const std::string& signature)
{
    const std::size_t open = signature.find('(');
    const std::string head = "TQBSE_API " + signature.substr(0, open + 1);
    std::string text = head, line = head;
    std::string rest = signature.substr(open + 1);
    rest.back() = ',';
    std::istringstream params(rest);
    std::string param;
    bool firstParam = true;
    while (std::getline(params, param, ',')) {
        if (param.starts_with(' '))
            param.erase(0, 1);
        const bool last = params.peek() == std::char_traits<char>::eof();
        const std::string piece = param + (last ? ");" : ",");
        if (!firstParam && line.size() + 1 + piece.size() > kWidth) {
            text += '\n' + std::string(head.size(), ' ');
            line = std::string(head.size(), ' ');
        } else if (!firstParam) {
            text += ' ';
            line += ' ';
        }
        text += piece;
        line += piece;
        firstParam = false;
    }
    return text + '\n';
}

std::string familyLine(const FamilyDoc& family)
{
    std::string line = "/* ---- " + std::string(family.title) + " ";
    if (line.size() < 76)
        line.append(76 - line.size(), '-');
    return line + " */\n";
}

} // namespace

std::string wrapText(const std::string& text, std::size_t width, const std::string& first, const std::string& next)
{
    std::istringstream words(text);
    std::string out, line = first, word;
    bool empty = true;
    while (words >> word) {
        if (!empty && line.size() + 1 + word.size() > width) {
            out += line + '\n';
            line = next;
            empty = true;
        }
        if (!empty)
            line.push_back(' ');
        line.append(word);
        empty = false;
    }
    return out + line + '\n';
}

namespace {
// The calls `included` keeps, each given to `entry`, with a family line
// before the first of each family.
template <typename Included, typename Entry>
std::string familyGrouped(Included included, Entry entry)
{
    std::string text;
    bool first = true;
    Family family{};
    for (const CallDesc* call : allCalls()) {
        if (!included(*call))
            continue;
        if (first || call->family != family)
            text += '\n' + familyLine(familyDoc(call->family));
        text += entry(*call);
        family = call->family;
        first = false;
    }
    return text;
}

// "int32_t tqbse_Name(tqbse_session* session, ...)" from the flat signature.
std::string sessionSignature(const CallDesc& call)
{
    std::string signature = cSignature(call);
    signature.replace(signature.find(kExportPrefix), kExportPrefix.size(), kSessionPrefix);
    const std::size_t open = signature.find('(');
    if (call.paramCount)
        signature.insert(open + 1, "tqbse_session* session, ");
    else
        signature.replace(open + 1, 4, "tqbse_session* session");
    return signature;
}
} // namespace

std::string headerExports()
{
    std::string text = kHeaderBegin;
    text += "/* Generated from the call rows (protocol/rows/) and their texts (protocol/rows/docs/):\n"
            " * `cmake --build build --target header_docs` writes them here. The codes listed are those\n"
            " * the export can return; their meanings are in the result codes above. */\n";
    text += familyGrouped([](const CallDesc&) { return true; },
                          [](const CallDesc& call) { return '\n' + exportComment(call) + declaration(cSignature(call)); });
    return text + '\n' + kHeaderEnd;
}

std::string sessionHeaderExports()
{
    std::string text = kSessionHeaderBegin;
    text += "/* Generated from the call rows (protocol/rows/): `cmake --build build --target header_docs`\n"
            " * writes them here. Each is its flat export of tqBsePluginControlDll.h (same name after\n"
            " * the prefix) on SESSION's server: same parameters, rules and codes; -1 for a NULL session. */\n";
    text += familyGrouped([](const CallDesc& call) { return hasSessionTwin(call.kind); },
                          [](const CallDesc& call) { return declaration(sessionSignature(call)); });
    return text + kSessionHeaderEnd;
}

} // namespace tqbse::reference
