// Writing and reading the JSON lines of the call trace.
#include "protocol/trace_line.h"

#include <charconv>

namespace tqbse {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// A small reader over one line; every step returns false on bad input.
struct Reader {
    std::string_view s;
    std::size_t at = 0;

    void skipBlanks()
    {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r'))
            ++at;
    }
    bool take(char c)
    {
        skipBlanks();
        if (at >= s.size() || s[at] != c)
            return false;
        ++at;
        return true;
    }
    bool hexValue(std::size_t count, unsigned* value)
    {
        if (s.size() - at < count)
            return false;
        const auto [end, error] = std::from_chars(s.data() + at, s.data() + at + count, *value, 16);
        if (error != std::errc() || end != s.data() + at + count)
            return false;
        at += count;
        return true;
    }
    bool string(std::string* out)
    {
        if (!take('"'))
            return false;
        while (at < s.size()) {
            const char c = s[at++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (at >= s.size())
                return false;
            const char e = s[at++];
            unsigned code = 0;
            switch (e) {
            case '"': case '\\': case '/': out->push_back(e); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'n': out->push_back('\n'); break;
            case 'r': out->push_back('\r'); break;
            case 't': out->push_back('\t'); break;
            case 'u':
                if (!hexValue(4, &code) || code > 0xff)
                    return false;
                out->push_back(char(code));
                break;
            default:
                return false;
            }
        }
        return false;
    }
    bool integer(int64_t* value)
    {
        skipBlanks();
        const auto [end, error] = std::from_chars(s.data() + at, s.data() + s.size(), *value, 10);
        if (error != std::errc())
            return false;
        at = std::size_t(end - s.data());
        return true;
    }
};

} // namespace

void appendTraceString(std::string& out, std::string_view bytes)
{
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += c;
        } else if (b >= 0x20 && b < 0x7f) {
            out += c;
        } else {
            out += "\\u00";
            out += kHexDigits[b >> 4];
            out += kHexDigits[b & 0x0f];
        }
    }
}

int64_t TraceLine::number(std::string_view key, int64_t otherwise) const
{
    const auto it = numbers.find(key);
    return it == numbers.end() ? otherwise : it->second;
}

std::string_view TraceLine::text(std::string_view key) const
{
    const auto it = strings.find(key);
    return it == strings.end() ? std::string_view() : std::string_view(it->second);
}

bool parseTraceLine(std::string_view line, TraceLine* out)
{
    Reader r{line};
    if (!r.take('{'))
        return false;
    if (r.take('}'))
        return true;
    do {
        std::string key;
        if (!r.string(&key) || !r.take(':'))
            return false;
        r.skipBlanks();
        if (r.at < line.size() && line[r.at] == '"') {
            std::string value;
            if (!r.string(&value))
                return false;
            out->strings[key] = std::move(value);
        } else if (int64_t value = 0; r.integer(&value)) {
            out->numbers[key] = value;
        } else {
            return false;
        }
    } while (r.take(','));
    if (!r.take('}'))
        return false;
    r.skipBlanks();
    return r.at == line.size() || (r.at + 1 == line.size() && line[r.at] == '\n');
}

} // namespace tqbse
