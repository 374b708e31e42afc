#include "call_text.h"
#include "json_text.h"

#include <cctype>
#include <string_view>

namespace tqbse::reference {
namespace {

constexpr const char* kCTypes[] = {
#define TQ_ROLE_CTYPE_TEXT(role, ctype, kind, tag, cls, tokens) #ctype,
    TQ_PARAM_ROLES(TQ_ROLE_CTYPE_TEXT)
#undef TQ_ROLE_CTYPE_TEXT
};

// A word the shell passes through unchanged, else the word in single quotes.
std::string shellWord(std::string_view word)
{
    bool plain = !word.empty();
    for (const char c : word)
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || std::string_view("-+._/:=,").find(c) !=
                                                                              std::string_view::npos);
    std::string quoted(word);
    if (!plain) {
        quoted.insert(quoted.begin(), '\'');
        quoted.push_back('\'');
    }
    return quoted;
}

// Appends item to a comma-separated list.
void appendItem(std::string& list, const std::string& item)
{
    if (!list.empty())
        list.push_back(',');
    list.append(item);
}

std::string paramJson(const CallDesc& call, int i)
{
    const ParamDesc& p = call.params[i];
    std::string json = "{\"name\":" + jsonString(p.name) + ",\"kind\":" + jsonString(traits(p.role).kind);
    if (p.sizedBy[0] != '\0')
        json += ",\"sizedBy\":" + jsonString(p.sizedBy);
    json += ",\"ctype\":" + jsonString(cType(p.role)) + ",\"doc\":" + jsonString(paramText(call, i));
    if (isTyped(p.role))
        json += ",\"example\":" + jsonString(paramExample(call, i));
    return json + '}';
}

} // namespace

const char* cType(ParamRole role) { return kCTypes[static_cast<std::size_t>(role)]; }

std::string cSignature(const CallDesc& call)
{
    std::string text = "int32_t " + std::string(call.fullName()) + "(";
    for (int i = 0; i < call.paramCount; ++i) {
        text += std::string(i ? ", " : "") + cType(call.params[i].role) + " " + call.params[i].name;
    }
    return text + (call.paramCount ? ")" : "void)");
}

std::string cliExample(const CallDesc& call)
{
    std::string args;
    bool dashed = false;
    for (int i = 0; i < call.paramCount; ++i) {
        if (!isTyped(call.params[i].role))
            continue;
        const std::string_view value = paramExample(call, i);
        dashed = dashed || value.starts_with('-');
        args.push_back(' ');
        args.append(shellWord(value));
    }
    // A value that starts with '-' would be read as an option.
    return std::string("tqbse ") + (dashed ? "-- " : "") + std::string(call.shortName()) + args;
}

std::string callJson(const CallDesc& call)
{
    std::string args, outputs, params, codes;
    for (int i = 0; i < call.paramCount; ++i) {
        const std::string item = paramJson(call, i);
        appendItem(params, item);
        if (isTyped(call.params[i].role))
            appendItem(args, item);
        else if (isOutput(call.params[i].role))
            appendItem(outputs, item);
    }
    // Kept in a variable: the loop would outlive a temporary.
    const CallCodes returnable = callCodes(call);
    for (const int32_t code : returnable.list())
        appendItem(codes, std::to_string(code));
    const CallDoc* doc = findCallDoc(call);
    return "{\"call\":" + jsonString(call.shortName()) + ",\"args\":[" + args + "],\"outputs\":[" + outputs +
           "],\"params\":[" + params + "],\"local\":" + (call.kind == CallKind::Local ? "true" : "false") +
           ",\"session\":" + (hasSessionTwin(call.kind) ? "true" : "false") +
           ",\"family\":" + jsonString(familyDoc(call.family).slug) + ",\"summary\":" +
           jsonString(doc ? doc->summary : "") + ",\"signature\":" + jsonString(cSignature(call)) +
           ",\"example\":" + jsonString(cliExample(call)) + ",\"codes\":[" + codes + "]}";
}

std::string referenceJson()
{
    std::string json = "{\"calls\":[";
    bool first = true;
    for (const CallDesc* call : allCalls()) {
        json.append(first ? "\n" : ",\n").append(callJson(*call));
        first = false;
    }
    json += "],\n\"families\":[";
    first = true;
    for (const FamilyDoc& f : docs::kFamilies) {
        json.append(first ? "\n" : ",\n");
        json += "{\"slug\":" + jsonString(f.slug) + ",\"title\":" +
                jsonString(f.title) + ",\"intro\":" + jsonString(f.intro) + "}";
        first = false;
    }
    json += "],\n\"codes\":[";
    first = true;
    for (int32_t code = kHighestCode; code >= kLowestCode; --code) {
        json.append(first ? "\n" : ",\n");
        json += "{\"code\":" + std::to_string(code) + ",\"name\":" +
                jsonString(resultName(code)) + ",\"text\":" + jsonString(errorText(code)) + ",\"meaning\":" +
                jsonString(codeMeaning(code)) + "}";
        first = false;
    }
    return json + "]}\n";
}

} // namespace tqbse::reference
