#include "output.h"
#include "call_text.h"

#include <tqBsePluginControlDll.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <span>
#include <string_view>
#include <vector>

namespace tqbse::cli {
namespace {

void writeText(FILE* out, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), out);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', out);
}

bool saveText(const std::string& path, std::string_view text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(file);
}

// The x and y arrays of a trace, in argument order.
std::pair<int, int> traceParams(const CallDesc& d)
{
    int x = -1, y = -1;
    for (int i = 0; i < d.paramCount; ++i)
        if (d.params[i].role == ParamRole::OutArray)
            (x < 0 ? x : y) = i;
    return {x, y};
}

// C parameter `param`'s value in JSON: an output of several tokens (the
// version) is an array of them; a text output shows where it was saved, if
// it was.
std::string outputJson(const CallFrame& frame, int param, const std::string& savedTo)
{
    const ParamRole role = frame.call().params[param].role;
    if (traits(role).tag == WireTag::String && !savedTo.empty())
        return jsonString(savedTo);
    const int tokens = traits(role).replyTokens;
    if (tokens == 1)
        return valueJson(frame.value(param));
    std::string json = "[";
    for (int k = 0; k < tokens; ++k) {
        if (k > 0)
            json += ',';
        json += valueJson(frame.value(param, k));
    }
    return json + "]";
}

// A number output as plain text; the version as A.B.C.D.
std::string numberText(const CallFrame& frame, int param)
{
    std::string text;
    for (int k = 0; k < traits(frame.call().params[param].role).replyTokens; ++k) {
        if (k > 0)
            text += '.';
        text += valueText(frame.value(param, k));
    }
    return text;
}

void printJson(FILE* out, const CallResult& r, const std::string& message, const std::string& savedTo)
{
    const CallDesc& d = *r.call->desc;
    std::string json = "{\"call\":" + jsonString(d.shortName()) + ",\"result\":" + std::to_string(r.code);
    if (r.code != 0)
        json += ",\"message\":" + jsonString(message);
    if (!r.failedStep.empty())
        json += ",\"failedStep\":" + jsonString(r.failedStep);
    if (!r.serverReason.empty())
        json += ",\"serverReason\":" + jsonString(r.serverReason);
    json += ",\"outputs\":{";
    bool first = true;
    if (r.code >= 0) {
        for (int i = 0; i < d.paramCount; ++i) {
            const ParamDesc& p = d.params[i];
            if (!isOutput(p.role))
                continue;
            json += first ? "" : ",";
            json += jsonString(p.name);
            json += ':';
            first = false;
            json += outputJson(r.frame, i, savedTo);
        }
    }
    json += "}}\n";
    std::fputs(json.c_str(), out);
}

void printPlain(FILE* out, const Options& options, const CallResult& r, const std::string& savedTo)
{
    const CallDesc& d = *r.call->desc;
    const char* sep = options.csv ? "," : " = ";
    if (const auto [x, y] = traceParams(d); x >= 0 && y >= 0) {
        const std::span<const double> xs = r.frame.value(x).doubles();
        const std::span<const double> ys = r.frame.value(y).doubles();
        if (!options.csv)
            std::fprintf(out, "# %zu points: %s %s\n", xs.size(), d.params[x].name, d.params[y].name);
        for (size_t k = 0; k < xs.size() && k < ys.size(); ++k)
            std::fprintf(out, options.csv ? "%s,%s\n" : "%s\t%s\n", formatDouble(xs[k]).c_str(),
                         formatDouble(ys[k]).c_str());
        return;
    }
    bool printed = false;
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamDesc& p = d.params[i];
        if (!isOutput(p.role) || traits(p.role).tag == WireTag::DoubleArray)
            continue;
        if (traits(p.role).tag == WireTag::String) {
            // A text is printed as it is, so that it can be piped on.
            const std::string_view text = r.frame.value(i).text();
            if (savedTo.empty())
                writeText(out, text);
            else
                std::fprintf(out, "%zu bytes written to %s\n", text.size(), savedTo.c_str());
            printed = true;
            continue;
        }
        const std::string value = numberText(r.frame, i);
        std::fprintf(out, "%s%s%s\n", p.name, sep, value.c_str());
        printed = true;
    }
    if (!printed)
        std::fputs("OK\n", out);
}

} // namespace

std::string valueJson(const WireValue& v)
{
    switch (v.tag()) {
    case WireTag::Int: return std::to_string(v.asInt());
    case WireTag::Float: return jsonNumber(v.asFloat());
    case WireTag::Double: return jsonNumber(v.asDouble());
    case WireTag::String: return v.isNull() ? "null" : jsonString(v.text());
    case WireTag::DoubleArray: {
        const std::vector<double> values = v.arrayValues();
        std::string json = "[";
        for (size_t k = 0; k < values.size(); ++k) {
            if (k > 0)
                json += ',';
            json += jsonNumber(values[k]);
        }
        return json + "]";
    }
    case WireTag::None: break;
    }
    return "null";
}

std::string jsonNumber(double value)
{
    return std::isfinite(value) ? formatDouble(value) : std::string("null");
}

int printResult(FILE* out, const Options& options, const CallResult& r)
{
    const CallDesc& d = *r.call->desc;
    const std::string name(d.shortName());
    const std::string message = r.code != 0 ? errorText(r.code) : std::string();

    std::string savedTo;
    if (r.code >= 0 && !options.out.empty()) {
        const int t = textOutParam(d);
        if (t >= 0 && !saveText(options.out, r.frame.value(t).text())) {
            std::fprintf(stderr, "tqbse: cannot write %s\n", options.out.c_str());
            return kExitFailed;
        }
        savedTo = options.out;
    }

    if (options.json)
        printJson(out, r, message, savedTo);
    else if (r.code >= 0)
        printPlain(out, options, r, savedTo);
    std::fflush(out);

    if (r.code < 0) {
        const std::string step = r.failedStep.empty() ? name : r.failedStep + " (sizing " + name + ")";
        const std::string reason = r.serverReason.empty() ? "" : " (emulator: " + r.serverReason + ")";
        std::fprintf(stderr, "tqbse: %s failed: %d %s%s\n", step.c_str(), r.code,
                     message.empty() ? "(no text for this code)" : message.c_str(), reason.c_str());
        return kExitFailed;
    }
    if (r.code > 0)
        std::fprintf(stderr, "tqbse: %s warning %d: %s\n", name.c_str(), r.code, message.c_str());
    return kExitOk;
}

void printList(FILE* out, const Options& options)
{
    if (options.json) {
        std::string json = "[";
        for (const CliCall& c : cliCalls())
            json.append(json.size() > 1 ? ",\n" : "\n").append(reference::callJson(*c.desc));
        std::fputs((json + "\n]\n").c_str(), out);
        return;
    }
    for (const CliCall& c : cliCalls()) {
        const std::string usage = usageLine(*c.desc);
        std::fprintf(out, "%-60s -> %s\n", usage.c_str(), outputsLine(*c.desc).c_str());
    }
}

} // namespace tqbse::cli
