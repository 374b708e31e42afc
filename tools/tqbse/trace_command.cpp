// tqbse trace FILE: reads a library trace (TQBSE_TRACE) and prints every
// call decoded through the call rows, with filters, a summary and a plot.
#include "trace_command.h"
#include "server_reason.h"

#include "output.h"
#include "protocol/call_table.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"
#include "protocol/trace_file.h"
#include "protocol/trace_line.h"
#include "protocol/value_text.h"
#include "protocol/wire_value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

namespace tqbse::cli {
namespace {

constexpr std::size_t kShownTextBytes = 40;
constexpr std::size_t kShownArrayValues = 3;

struct TraceOptions {
    std::string file;
    std::string namePattern;
    bool errorsOnly = false;
    std::optional<double> from, to; // seconds after the trace's first line
    bool json = false, csv = false, summary = false;
    std::string plot;
};

// One decoded value: as the listing shows it, and as JSON.
struct Value {
    std::string name, text, json;
};

// One line of the trace, with a call decoded through its row.
struct Entry {
    double seconds = 0; // after the first line
    TraceLine line;
    std::string name; // the export without its prefix, or the event
    bool isCall = false;
    int32_t result = 0;
    int64_t micros = 0;
    std::vector<Value> inputs, outputs;
    std::string reason; // the server's reason after a negative result (the emulator's)
};

// A shell-style pattern: "*" any run of characters, "?" any one; the rest
// stands for itself. Iterative, with one remembered "*" (no backtracking
// blow-up).
bool matchesPattern(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// Decodes one token by its tag; an undecodable token is shown as it is.
Value decodeToken(const char* name, WireTag tag, std::string_view token)
{
    Value v{name, {}, {}};
    WireValue w;
    if (tag == WireTag::None || decodeValue(tag, token, &w) != kSuccess) {
        v.text = quotedText(token, kShownTextBytes);
        v.json = jsonString(token);
        return v;
    }
    v.json = valueJson(w);
    v.text = valueText(w, ShownLimits{kShownTextBytes, kShownArrayValues});
    return v;
}

void decodeCall(Entry& e)
{
    const std::string_view request = e.line.text("request");
    e.name = std::string(e.line.text("name"));
    e.result = int32_t(e.line.number("result"));
    e.micros = e.line.number("us");
    const CallDesc* row = findCall(e.name);
    if (row == nullptr)
        return;
    e.name = std::string(row->shortName());
    const codec::SplitMessage sent = codec::splitMessage(request);
    for (int k = 0; k < row->inputCount && std::size_t(k) < sent.params.size(); ++k) {
        const WireInput& in = row->inputs[k];
        e.inputs.push_back(decodeToken(row->params[in.param].name, traits(in.role).tag, sent.params[k]));
    }
    const std::string_view replyText = e.line.text("reply");
    const codec::SplitMessage reply = codec::splitMessage(replyText);
    if (e.result < 0)
        e.reason = reasonOfReply(replyText);
    if (e.result < 0 || reply.name != request.substr(0, request.find('=')))
        return;
    std::size_t next = 1;
    for (int k = 0; k < row->outputCount; ++k) {
        const WireOutput& out = row->outputs[k];
        const RoleTraits& role = traits(out.role);
        Value joined{row->params[out.param].name, {}, role.replyTokens > 1 ? "[" : ""};
        for (int j = 0; j < role.replyTokens && next < reply.params.size(); ++j, ++next) {
            const Value part = decodeToken("", role.tag, reply.params[next]);
            if (j > 0) {
                joined.text += '.';
                joined.json += ',';
            }
            joined.text += part.text;
            joined.json += part.json;
        }
        joined.json += role.replyTokens > 1 ? "]" : "";
        e.outputs.push_back(std::move(joined));
    }
}

std::string resultText(int32_t result)
{
    const std::string_view name = resultName(result);
    return std::to_string(result) + (result != 0 && !name.empty() ? " " + std::string(name) : "");
}

std::string joined(const std::vector<Value>& values, const char* separator, bool json)
{
    std::string text;
    for (const Value& v : values) {
        text += text.empty() ? "" : separator;
        text += json ? jsonString(v.name) + ":" + v.json : v.name + "=" + v.text;
    }
    return text;
}

bool selected(const Entry& e, const TraceOptions& o)
{
    if (o.from && e.seconds < *o.from)
        return false;
    if (o.to && e.seconds > *o.to)
        return false;
    if (!o.namePattern.empty() && (!e.isCall || !matchesPattern(o.namePattern, e.name)))
        return false;
    if (o.errorsOnly)
        return e.isCall ? e.result < 0 : e.name == "deadline expired" || e.name == "connect failed" || e.name == "reply too large";
    return true;
}

void printEntry(FILE* out, const Entry& e, const TraceOptions& o)
{
    std::string text;
    if (o.json) {
        text = "{\"t\":" + std::to_string(e.line.time()) + ",\"seconds\":" + jsonNumber(e.seconds)
            + ",\"event\":" + jsonString(e.line.event());
        if (e.isCall)
            text += ",\"name\":" + jsonString(e.name) + ",\"inputs\":{" + joined(e.inputs, ",", true)
                + "},\"result\":" + std::to_string(e.result) + ",\"outputs\":{" + joined(e.outputs, ",", true)
                + "},\"us\":" + std::to_string(e.micros)
                + (e.reason.empty() ? "" : ",\"serverReason\":" + jsonString(e.reason));
        for (const auto& [key, value] : e.line.strings)
            if (!e.isCall && key != "event")
                text += "," + jsonString(key) + ":" + jsonString(value);
        text += "}";
    } else if (o.csv) {
        auto quoted = [](std::string field) {
            for (std::size_t at = 0; (at = field.find('"', at)) != std::string::npos; at += 2)
                field.insert(at, 1, '"');
            return "\"" + field + "\"";
        };
        text = formatDouble(e.seconds) + "," + quoted(e.name) + ","
            + (e.isCall ? std::to_string(e.result) + "," + std::to_string(e.micros) : ",") + ","
            + quoted(e.isCall ? joined(e.inputs, "; ", false) : std::string(e.line.text("detail"))) + ","
            + quoted(joined(e.outputs, "; ", false));
    } else {
        char at[32];
        std::snprintf(at, sizeof at, "%12.6f  ", e.seconds);
        text = at;
        if (e.isCall) {
            text += e.name + "(" + joined(e.inputs, ", ", false) + ") → " + resultText(e.result);
            text += e.reason.empty() ? "" : " (emulator: " + e.reason + ")";
            text += e.outputs.empty() ? "" : ", " + joined(e.outputs, ", ", false);
            text += "   " + std::to_string(e.micros) + " µs";
        } else if (e.name == "callback") {
            text += "callback " + quotedText(e.line.text("message"), kShownTextBytes) + " answered "
                + quotedText(e.line.text("answer"), kShownTextBytes);
        } else {
            text += "[" + e.name + " " + std::string(e.line.text("detail")) + "]";
        }
    }
    text += "\n";
    std::fwrite(text.data(), 1, text.size(), out);
}

int64_t percentile(std::vector<int64_t> sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto rank = std::size_t(std::ceil(p / 100.0 * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void printSummary(FILE* out, const std::vector<const Entry*>& calls, bool json)
{
    std::map<std::string, std::vector<int64_t>> latency; // by export, sorted below
    std::map<std::string, int> errors;
    std::map<int32_t, int> byCode;
    std::vector<int64_t> all;
    for (const Entry* e : calls) {
        latency[e->name].push_back(e->micros);
        all.push_back(e->micros);
        errors[e->name] += e->result < 0 ? 1 : 0;
        if (e->result < 0)
            ++byCode[e->result];
    }
    latency["(all)"] = all;
    for (const Entry* e : calls)
        errors["(all)"] += e->result < 0 ? 1 : 0;
    std::string text = json ? "{\"exports\":[" : "export                                     calls errors   p50 µs   p90 µs   p99 µs   max µs\n";
    bool first = true;
    for (auto& [name, micros] : latency) {
        std::sort(micros.begin(), micros.end());
        const int64_t p[4] = {percentile(micros, 50), percentile(micros, 90), percentile(micros, 99),
                              micros.empty() ? 0 : micros.back()};
        char row[256];
        if (json)
            std::snprintf(row, sizeof row, "%s{\"name\":%s,\"calls\":%zu,\"errors\":%d,\"p50\":%lld,\"p90\":%lld,"
                          "\"p99\":%lld,\"max\":%lld}", first ? "" : ",", jsonString(name).c_str(), micros.size(),
                          errors[name], (long long)p[0], (long long)p[1], (long long)p[2], (long long)p[3]);
        else
            std::snprintf(row, sizeof row, "%-42s %6zu %6d %8lld %8lld %8lld %8lld\n", name.c_str(), micros.size(),
                          errors[name], (long long)p[0], (long long)p[1], (long long)p[2], (long long)p[3]);
        text += row;
        first = false;
    }
    text += json ? "],\"errors\":{" : "errors by code:\n";
    first = true;
    for (const auto& [code, count] : byCode) {
        text += json ? (first ? "" : ",") + jsonString(std::to_string(code)) + ":" + std::to_string(count)
                     : "  " + resultText(code) + ": " + std::to_string(count) + "\n";
        first = false;
    }
    text += json ? "}}\n" : (byCode.empty() ? "  none\n" : "");
    std::fwrite(text.data(), 1, text.size(), out);
}

std::optional<std::string> parseTraceOptions(const std::vector<std::string>& args, TraceOptions* o)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            return i + 1 < args.size() ? std::optional(args[++i]) : std::nullopt;
        };
        auto seconds = [&](std::optional<double>* out) -> bool {
            const auto v = value();
            const auto parsed = v ? parseDouble(*v) : std::nullopt;
            *out = parsed;
            return parsed.has_value();
        };
        if (a == "--name") {
            const auto v = value();
            if (!v)
                return std::string("--name needs a pattern");
            o->namePattern = *v;
        } else if (a == "--errors") {
            o->errorsOnly = true;
        } else if (a == "--from" || a == "--to") {
            if (!seconds(a == "--from" ? &o->from : &o->to))
                return a + " needs a number of seconds";
        } else if (a == "--json" || a == "--csv" || a == "--summary") {
            (a == "--json" ? o->json : a == "--csv" ? o->csv : o->summary) = true;
        } else if (a == "--plot") {
            const auto v = value();
            if (!v || !v->ends_with(".svg"))
                return std::string("--plot needs a file name ending in .svg (the plot is an SVG drawing)");
            o->plot = *v;
        } else if (a.starts_with("--") || !o->file.empty()) {
            return "trace: unexpected '" + a + "' (see tqbse trace --help)";
        } else {
            o->file = a;
        }
    }
    if (o->file.empty())
        return std::string("usage: tqbse trace FILE [--name PATTERN] [--errors] [--from S] [--to S] "
                           "[--json | --csv] [--summary] [--plot FILE.svg]");
    if (o->json && o->csv)
        return std::string("--json and --csv exclude each other");
    return std::nullopt;
}

} // namespace

void printTraceOptions(FILE* out)
{
    std::fputs("Options of tqbse trace:\n"
               "  --name PATTERN    only the calls whose name matches PATTERN (* and ? as in the shell)\n"
               "  --errors          only failed calls and the library's failure events\n"
               "  --from S          only what happened S seconds or more after the first line\n"
               "  --to S            only what happened up to S seconds after the first line\n"
               "  --json            one JSON object per line\n"
               "  --csv             seconds,name,result,us,inputs,outputs lines\n"
               "  --summary         reply times per export and errors by code, not the lines\n"
               "  --plot FILE.svg   draw the reply times into FILE.svg (an SVG drawing), not the lines\n",
               out);
}

int runTraceCommand(FILE* out, const std::vector<std::string>& args)
{
    if (std::find_if(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; })
        != args.end()) {
        std::fputs("Usage: tqbse trace FILE [TRACE-OPTION...]\n", out);
        printTraceOptions(out);
        return 0;
    }
    TraceOptions o;
    if (const auto error = parseTraceOptions(args, &o)) {
        std::fprintf(stderr, "tqbse: %s\n", error->c_str());
        return 2;
    }
    // The reading rule the replay shares (protocol/trace_file.h): a line
    // that is not a trace line is skipped, said once; a cut-off last line is
    // skipped with its own warning.
    std::vector<Entry> entries;
    int bad = 0;
    std::string error;
    const bool read = readTraceFile(
        o.file,
        [&](int64_t number, TraceLineKind kind, const TraceLine& line) {
            if (kind == TraceLineKind::CutOff) {
                std::fprintf(stderr, "tqbse: warning: %s\n", cutOffLineWarning(o.file, number).c_str());
                return true;
            }
            if (kind == TraceLineKind::Bad) {
                if (bad++ == 0)
                    std::fprintf(stderr, "tqbse: %s:%lld: not a trace line (skipped)\n", o.file.c_str(),
                                 (long long)number);
                return true;
            }
            Entry e;
            e.line = line;
            e.isCall = e.line.event() == "call";
            e.name = std::string(e.line.event());
            if (e.isCall)
                decodeCall(e);
            // In double: a time far off in a damaged line must not overflow.
            e.seconds = entries.empty() ? 0 : (double(e.line.time()) - double(entries.front().line.time())) / 1e6;
            entries.push_back(std::move(e));
            return true;
        },
        &error);
    if (!read) {
        std::fprintf(stderr, "tqbse: %s\n", error.c_str());
        return 2;
    }
    std::vector<const Entry*> calls;
    // The decoded lines, unless a summary or a plot is what was asked for.
    const bool listing = !o.summary && o.plot.empty();
    if (o.csv && listing)
        std::fputs("seconds,name,result,us,inputs,outputs\n", out);
    for (const Entry& e : entries) {
        if (!selected(e, o))
            continue;
        if (e.isCall)
            calls.push_back(&e);
        if (listing)
            printEntry(out, e, o);
    }
    if (o.summary)
        printSummary(out, calls, o.json);
    if (!o.plot.empty()) {
        std::vector<PlotPoint> points;
        for (const Entry* e : calls)
            points.push_back({e->name, e->seconds, e->micros, e->result < 0});
        if (!writeLatencyPlot(o.plot, points)) {
            std::fprintf(stderr, "tqbse: cannot write %s\n", o.plot.c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace tqbse::cli
