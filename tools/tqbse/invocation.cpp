#include "invocation.h"
#include "trace_target.h"

#include <tqBsePluginControlDll.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/platform.h"
#include "protocol/ports.h"

namespace tqbse::cli {
namespace {

// Bounds for sizing outputs: a text or trace the server describes as larger
// than this is refused rather than allocated.
constexpr int32_t kMaxTextBytes = 64 * 1024 * 1024;
constexpr int32_t kMaxTracePoints = 8 * 1024 * 1024;
constexpr int kMaxRetries = 6;
constexpr std::streamsize kMaxFileBytes = 64 * 1024 * 1024;

std::string expected(const CallDesc& desc, bool fromFile)
{
    std::string line = "expected: " + usageLine(desc);
    if (fromFile)
        line += " (content from --file)";
    return line;
}

} // namespace

std::optional<std::array<int32_t, 4>> parseAddress(std::string_view text)
{
    std::array<int32_t, 4> octets{};
    for (int i = 0; i < 4; ++i) {
        const size_t dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos)
            return std::nullopt;
        const std::string_view part = text.substr(0, dot);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        const std::optional<int32_t> v = parseInt(part);
        if (!v || *v > 255)
            return std::nullopt;
        octets[i] = *v;
        text.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    if (!text.empty())
        return std::nullopt;
    return octets;
}

std::optional<std::string> parseCommandLine(const std::vector<std::string>& argv, Command* command)
{
    Options& o = command->options;
    bool optionsEnded = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (!optionsEnded && a == "-h") {
            o.help = true;
            continue;
        }
        if (optionsEnded || !a.starts_with("--")) {
            command->words.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        std::string key = a, value;
        bool hasValue = false;
        if (const size_t eq = a.find('='); eq != std::string::npos) {
            key = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argv.size())
                return false;
            value = argv[++i];
            return true;
        };
        if (key == "--json" || key == "--csv" || key == "--help" || key == "--version") {
            if (hasValue)
                return key + " takes no value";
            (key == "--json" ? o.json : key == "--csv" ? o.csv : key == "--help" ? o.help : o.version) = true;
        } else if (key == "--server") {
            if (!takeValue())
                return std::string("--server needs an address A.B.C.D");
            const auto octets = parseAddress(value);
            if (!octets)
                return "bad server address '" + value + "' (expected A.B.C.D, each 0..255)";
            o.server = value;
            o.octets = *octets;
        } else if (key == "--timeout") {
            const auto ms = takeValue() ? parseInt(value) : std::nullopt;
            if (!ms || *ms <= 0)
                return std::string("--timeout needs a positive number of milliseconds");
            o.timeoutMs = *ms;
        } else if (key == "--file" || key == "--out" || key == "--trace") {
            if (!takeValue() || value.empty())
                return key + " needs a path";
            (key == "--file" ? o.file : key == "--out" ? o.out : o.trace) = value;
        } else {
            return "unknown option " + key + " (see tqbse --help)";
        }
    }
    if (o.json && o.csv)
        return std::string("--json and --csv exclude each other");
    return std::nullopt;
}

std::optional<std::string> readFile(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return std::nullopt;
    }
    std::string content;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        content.append(chunk, static_cast<size_t>(in.gcount()));
        if (static_cast<std::streamsize>(content.size()) > kMaxFileBytes) {
            *error = path + " is larger than 64 MiB";
            return std::nullopt;
        }
    }
    if (content.find('\0') != std::string::npos) {
        *error = path + " holds a zero byte; texts end at the first one";
        return std::nullopt;
    }
    return content;
}

std::optional<std::string> Invocation::prepare(const CliCall& call, const std::vector<std::string>& args,
                                               const Options& options, Invocation* out)
{
    const CallDesc& d = *call.desc;
    const int fromFile = options.file.empty() ? -1 : fileParam(d);
    if (!options.file.empty() && fromFile < 0)
        return std::string(d.shortName()) + " takes no --file; " + expected(d, false);
    if (!options.out.empty() && textOutParam(d) < 0)
        return std::string(d.shortName()) + " has no text output for --out";

    size_t typed = 0;
    for (int i = 0; i < d.paramCount; ++i)
        if (isTyped(d.params[i].role) && i != fromFile)
            ++typed;
    if (args.size() != typed)
        return std::string(d.shortName()) + " takes " + std::to_string(typed) + " argument" +
               (typed == 1 ? "" : "s") + ", got " + std::to_string(args.size()) + "; " +
               expected(d, fromFile >= 0);

    Invocation inv;
    inv.call_ = &call;
    inv.args_ = args;
    CallFrame& frame = inv.inputs_.emplace(d);
    size_t next = 0;
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamDesc& p = d.params[i];
        if (!isTyped(p.role))
            continue;
        if (i == fromFile) {
            std::string error;
            auto content = readFile(options.file, &error);
            if (!content)
                return error;
            frame.setText(i, *content);
            continue;
        }
        const std::string& a = args[next++];
        bool ok = true;
        switch (p.role) {
        case ParamRole::InInt:
        case ParamRole::LocalInt:
            if (auto v = parseInt(a)) frame.setInt(i, *v); else ok = false;
            break;
        case ParamRole::InBool:
            if (auto v = parseFlag(a)) frame.setInt(i, *v); else ok = false;
            break;
        case ParamRole::InFloat:
            if (auto v = parseFloat(a)) frame.setFloat(i, *v); else ok = false;
            break;
        case ParamRole::InDouble:
            if (auto v = parseDouble(a)) frame.setDouble(i, *v); else ok = false;
            break;
        case ParamRole::InText:
            frame.setText(i, a);
            break;
        // Not typed by the user: derived or outputs.
        case ParamRole::TextLimit:
        case ParamRole::OutInt:
        case ParamRole::OutBool:
        case ParamRole::OutFloat:
        case ParamRole::OutDouble:
        case ParamRole::OutText:
        case ParamRole::BufferSize:
        case ParamRole::OutArray:
        case ParamRole::Capacity:
        case ParamRole::OutVersion:
        case ParamRole::LocalSize:
            break;
        }
        if (!ok)
            return "argument " + std::string(p.name) + " '" + a + "' is not a valid " + kindName(p.role) + "; " +
                   expected(d, fromFile >= 0);
    }
    *out = std::move(inv);
    return std::nullopt;
}

int32_t Invocation::querySize(int32_t* size) const
{
    const CallDesc* sizing = sizeQuery(*call_->desc);
    const CliCall* query = sizing ? findCliCall(sizing->shortName()) : nullptr;
    if (!query)
        return TQBSE_UNKNOWN_ERROR;
    Invocation q;
    if (prepare(*query, args_, Options{}, &q))
        return TQBSE_UNKNOWN_ERROR;
    const CallResult r = q.run();
    if (r.code < 0)
        return r.code;
    for (int i = 0; i < query->desc->paramCount; ++i)
        if (query->desc->params[i].role == ParamRole::OutInt) {
            *size = r.frame.value(i).asInt();
            return r.code;
        }
    return TQBSE_UNKNOWN_ERROR;
}

// One call with every size and capacity parameter set to `size`.
int32_t Invocation::callOnce(CallResult* result, int32_t size) const
{
    CallFrame frame = *inputs_;
    frame.setBound(size);
    auto args = cArguments(frame);
    const int32_t code = call_->invoke(args.data());
    result->frame = std::move(frame);
    return code;
}

CallResult Invocation::run() const
{
    CallResult result(*call_);
    const CallDesc& d = *call_->desc;
    const bool hasText = textOutParam(d) >= 0;
    const bool hasArray = arrayOutParam(d) >= 0;
    if (!hasText && !hasArray) {
        result.code = callOnce(&result, 0);
        return result;
    }

    // Ask how big the output is, allow for a terminator the server may not
    // count, and grow on -13 a bounded number of times. A trace's point
    // count is only known from its length query, so a trace re-asks it.
    int32_t size = 0;
    for (int attempt = 0; attempt <= kMaxRetries; ++attempt) {
        int32_t reported = 0;
        const int32_t q = (attempt == 0 || hasArray) ? querySize(&reported) : 0;
        if (hasArray) {
            if (q < 0 || reported < 0 || reported > kMaxTracePoints) {
                result.code = q < 0 ? q : TQBSE_BUFFER_TOO_SMALL;
                result.failedStep = std::string(sizeQuery(d)->shortName());
                return result;
            }
            size = reported;
        } else if (attempt == 0) {
            size = (q >= 0 && reported >= 0 && reported < kMaxTextBytes) ? reported + 1 : 256;
        } else {
            size = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(size, 256) * 16, kMaxTextBytes));
        }
        result = CallResult(*call_);
        result.code = callOnce(&result, size);
        if (result.code != TQBSE_BUFFER_TOO_SMALL || (!hasArray && size >= kMaxTextBytes))
            break;
    }
    return result;
}

std::string errorText(int32_t code)
{
    int32_t length = 0;
    if (tqBsePluginControlDll_GetErrorMsgLength(code, &length) < 0 || length < 0 || length > 65536)
        length = 256;
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int32_t rc =
            tqBsePluginControlDll_GetErrorMsg(code, buffer.data(), static_cast<int32_t>(buffer.size()));
        if (rc >= 0)
            return std::string(buffer.data());
        if (rc != TQBSE_BUFFER_TOO_SMALL)
            return {};
        buffer.assign(buffer.size() * 16, '\0');
    }
    return {};
}

std::vector<std::string> Invocation::unbalancedTexts() const
{
    std::vector<std::string> names;
    const CallDesc& d = *call_->desc;
    for (int i = 0; i < d.paramCount; ++i) {
        if (d.params[i].role != ParamRole::InText)
            continue;
        int64_t depth = 0;
        bool underflow = false;
        for (const char c : inputs_->value(i).text()) {
            depth += (c == '(') - (c == ')');
            underflow = underflow || depth < 0;
        }
        if (depth != 0 || underflow)
            names.push_back(d.params[i].name);
    }
    return names;
}

int32_t connectServer(const Options& options, bool* timedOut)
{
    const auto& o = options.octets;
    const auto started = std::chrono::steady_clock::now();
    const int32_t rc = tqBsePluginControlDll_Initialise(o[0], o[1], o[2], o[3]);
    traceTarget().noteInitialise();
    const auto waited = std::chrono::steady_clock::now() - started;
    if (timedOut == nullptr)
        return rc;
    *timedOut = false;
    if (rc != TQBSE_NO_RESPONSE || options.timeoutMs <= 0 || waited < std::chrono::milliseconds(options.timeoutMs))
        return rc;
    // -14 after the whole deadline: either the connect itself took that
    // long (an unreachable host) or the server took the connection and did
    // not answer. A connection of our own tells which.
    const uint32_t address = uint32_t(o[0]) << 24 | uint32_t(o[1]) << 16 | uint32_t(o[2]) << 8 | uint32_t(o[3]);
    platform::socketLibraryStartup();
    const platform::SocketHandle probe = platform::openTcpSocket();
    if (probe != platform::kInvalidSocket) {
        *timedOut = platform::connectWithTimeout(probe, {address, kServerPort}, 2000) == 0;
        platform::closeSocket(probe);
    }
    platform::socketLibraryCleanup();
    return rc;
}

} // namespace tqbse::cli
