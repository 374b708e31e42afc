// `tqbse describe CALL`: what an export does, its C signature, each
// parameter's meaning, the codes it can return and an example, from the
// texts beside the call rows.
#include "commands.h"
#include "output.h"
#include "call_text.h"
#include "header_docs.h"


namespace tqbse::cli {

int runDescribe(FILE* out, const std::string& name, const Options& options)
{
    const CliCall* call = findCliCall(name);
    if (!call) {
        sayUnknownCall(name);
        return kExitUsage;
    }
    const CallDesc& d = *call->desc;
    if (options.json) {
        std::fputs((reference::callJson(d) + "\n").c_str(), out);
        return kExitOk;
    }
    const CallDoc* doc = findCallDoc(d);
    std::fprintf(out, "%s  (%s)\n\n", std::string(d.shortName()).c_str(), familyDoc(d.family).title);
    std::fputs(reference::wrapText(doc ? doc->summary : "", 80, "  ", "  ").c_str(), out);
    std::fprintf(out, "\nC:\n  %s;\n", reference::cSignature(d).c_str());
    if (d.paramCount > 0)
        std::fputs("\nParameters:\n", out);
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamDesc& p = d.params[i];
        const char* use = isTyped(p.role) ? "argument" : isOutput(p.role) ? "output" : "derived";
        std::fprintf(out, "  %s (%s, %s)\n", p.name, kindName(p.role), use);
        std::fputs(reference::wrapText(paramText(d, i), 80, "      ", "      ").c_str(), out);
    }
    std::fputs("\nCodes it can return:\n", out);
    // Kept in a variable: the loop would outlive a temporary.
    const CallCodes returnable = callCodes(d);
    for (const int32_t code : returnable.list()) {
        const std::string_view constant = resultName(code);
        std::fprintf(out, "  %4d  %-32s %s\n", code, std::string(constant.empty() ? "-" : constant).c_str(),
                     errorText(code).c_str());
    }
    std::fprintf(out, "\nExample:\n  %s\n", reference::cliExample(d).c_str());
    return kExitOk;
}

} // namespace tqbse::cli
