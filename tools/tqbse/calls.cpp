// One invoker per row, expanded from the shared rows: nothing here knows
// any single export.
#include "calls.h"

#include <tqBsePluginControlDll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <strings.h>
#include <vector>

namespace tqbse::cli {
namespace {

#define TQ_CLI_INVOKER(kind, family, name, ...)                                                    \
    CliCall{&::tqbse::calls::name, []([[maybe_unused]] const ::tqbse::ArgValue* args) -> int32_t { \
                return tqBsePluginControlDll_##name(TQ_MAP(TQ_PARAM_FROM_ARRAY, __VA_ARGS__));    \
            }},

const CliCall kCliCalls[] = {TQ_ALL_CALLS(TQ_CLI_INVOKER)};
#undef TQ_CLI_INVOKER

static_assert(std::size(kCliCalls) == kCallCount, "one invoker per row");

std::string paramsLine(const CallDesc& desc, bool (*pick)(ParamRole))
{
    std::string line;
    for (int i = 0; i < desc.paramCount; ++i) {
        const ParamDesc& p = desc.params[i];
        if (!pick(p.role))
            continue;
        if (!line.empty())
            line += ' ';
        line += p.name;
        line += ':';
        line += kindName(p.role);
    }
    return line;
}

} // namespace

std::span<const CliCall> cliCalls() { return kCliCalls; }

const CliCall* findCliCall(std::string_view name)
{
    if (name.starts_with(kExportPrefix))
        name.remove_prefix(kExportPrefix.size());
    for (const CliCall& c : kCliCalls)
        if (c.desc->shortName() == name)
            return &c;
    return nullptr;
}

namespace {

// Edits (insert, delete, replace a character) between two names, letter
// case ignored; the row of the previous step is all the table kept.
std::size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1]))
                == std::tolower(static_cast<unsigned char>(b[j - 1]));
            const std::size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

} // namespace

const CliCall* closestCall(std::string_view name)
{
    if (name.starts_with(kExportPrefix))
        name.remove_prefix(kExportPrefix.size());
    // A slip of a few characters: about one in five of the name's.
    const std::size_t allowed = std::max<std::size_t>(2, name.size() / 5);
    const CliCall* best = nullptr;
    std::size_t bestDistance = allowed + 1;
    for (const CliCall& c : kCliCalls) {
        const std::size_t d = editDistance(name, c.desc->shortName());
        if (d < bestDistance) {
            best = &c;
            bestDistance = d;
        }
    }
    return best;
}

void sayUnknownCall(const std::string& name)
{
    const CliCall* hint = closestCall(name);
    std::fprintf(stderr, "tqbse: unknown call '%s'%s%s%s; 'tqbse list' shows every call\n", name.c_str(),
                 hint ? " (did you mean " : "", hint ? std::string(hint->desc->shortName()).c_str() : "",
                 hint ? "?)" : "");
}

const char* kindName(ParamRole role) { return traits(role).kind; }

std::string usageLine(const CallDesc& desc)
{
    std::string line(desc.shortName());
    const std::string params = paramsLine(desc, isTyped);
    if (!params.empty())
        line += ' ' + params;
    return line;
}

std::string outputsLine(const CallDesc& desc)
{
    const std::string outs = paramsLine(desc, isOutput);
    return outs.empty() ? "-" : outs;
}

int fileParam(const CallDesc& desc)
{
    for (int i = 0; i < desc.paramCount; ++i)
        if (desc.params[i].role == ParamRole::InText && std::string_view(desc.params[i].name) == "content")
            return i;
    return -1;
}

int textOutParam(const CallDesc& desc)
{
    for (int i = 0; i < desc.paramCount; ++i)
        if (desc.params[i].role == ParamRole::OutText)
            return i;
    return -1;
}

int arrayOutParam(const CallDesc& desc)
{
    for (int i = 0; i < desc.paramCount; ++i)
        if (desc.params[i].role == ParamRole::OutArray)
            return i;
    return -1;
}

const CallDesc* sizeQuery(const CallDesc& desc)
{
    for (int i = 0; i < desc.paramCount; ++i)
        if (const CallDesc* query = sizingQuery(desc.params[i]))
            return query;
    return nullptr;
}

std::optional<int32_t> parseInt(std::string_view text)
{
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty())
        return std::nullopt;
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (negative)
        value = -value;
    // Hex may spell any 32-bit pattern (0xffffffff is -1); decimal must fit.
    if (base == 16 && !negative && value <= 0xffffffffLL)
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::optional<int32_t> parseFlag(std::string_view text)
{
    // The library's own true is -1.
    for (const char* t : {"true", "on", "yes"})
        if (text.size() == std::char_traits<char>::length(t) && ::strncasecmp(text.data(), t, text.size()) == 0)
            return -1;
    for (const char* f : {"false", "off", "no"})
        if (text.size() == std::char_traits<char>::length(f) && ::strncasecmp(text.data(), f, text.size()) == 0)
            return 0;
    return parseInt(text);
}

namespace {
// Whole-text decimal parse through strtod/strtof; out-of-range values are refused.
template <typename T>
std::optional<T> parseReal(std::string_view text, T (*convert)(const char*, char**))
{
    if (text.empty() || text.size() > 64)
        return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const T value = convert(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno == ERANGE)
        return std::nullopt;
    return value;
}
} // namespace

std::optional<double> parseDouble(std::string_view text) { return parseReal<double>(text, std::strtod); }
std::optional<float> parseFloat(std::string_view text) { return parseReal<float>(text, std::strtof); }

} // namespace tqbse::cli
