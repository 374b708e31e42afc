// A small JSON reader for checking the tool's --json output: objects,
// arrays, strings with their escapes, numbers, true, false and null. Text
// that is not one well-formed JSON value reads as an invalid value, and so
// does a missing member or item.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tqbse::test {

struct Json {
    enum class Type { Invalid, Null, Bool, Number, String, Array, Object };
    Type type = Type::Invalid;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    bool valid() const { return type != Type::Invalid; }
    const Json& operator[](std::string_view key) const
    {
        for (const auto& [name, value] : members)
            if (name == key)
                return value;
        return invalid();
    }
    const Json& operator[](std::size_t i) const { return i < items.size() ? items[i] : invalid(); }

    static Json parse(std::string_view text)
    {
        Reader r{text};
        Json v = r.value(0);
        r.space();
        return r.at == text.size() ? v : Json{};
    }

private:
    static const Json& invalid()
    {
        static const Json none;
        return none;
    }

    struct Reader {
        std::string_view s;
        std::size_t at = 0;

        void space()
        {
            while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r' || s[at] == '\t'))
                ++at;
        }
        bool eat(char c)
        {
            space();
            if (at < s.size() && s[at] == c) {
                ++at;
                return true;
            }
            return false;
        }
        bool literal(std::string_view word)
        {
            if (s.substr(at, word.size()) != word)
                return false;
            at += word.size();
            return true;
        }
        bool string(std::string* out)
        {
            if (!eat('"'))
                return false;
            while (at < s.size() && s[at] != '"') {
                char c = s[at++];
                if (c == '\\') {
                    if (at >= s.size())
                        return false;
                    const char e = s[at++];
                    const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
                    if (const std::size_t k = simple.find(e); k != std::string_view::npos) {
                        c = meaning[k];
                    } else if (e == 'u' && at + 4 <= s.size()) {
                        const unsigned long u = std::strtoul(std::string(s.substr(at, 4)).c_str(), nullptr, 16);
                        at += 4;
                        c = u < 0x100 ? char(u) : '?'; // the tool escapes single bytes only
                    } else {
                        return false;
                    }
                }
                out->push_back(c);
            }
            return eat('"');
        }
        Json value(int depth)
        {
            Json v;
            space();
            if (at >= s.size() || depth > 32)
                return v;
            if (s[at] == '{') {
                ++at;
                for (bool first = true; !eat('}'); first = false) {
                    std::string name;
                    if ((!first && !eat(',')) || !string(&name) || !eat(':'))
                        return Json{};
                    Json member = value(depth + 1);
                    if (!member.valid())
                        return Json{};
                    v.members.emplace_back(std::move(name), std::move(member));
                }
                v.type = Type::Object;
            } else if (s[at] == '[') {
                ++at;
                for (bool first = true; !eat(']'); first = false) {
                    if (!first && !eat(','))
                        return Json{};
                    Json item = value(depth + 1);
                    if (!item.valid())
                        return Json{};
                    v.items.push_back(std::move(item));
                }
                v.type = Type::Array;
            } else if (s[at] == '"') {
                if (string(&v.text))
                    v.type = Type::String;
            } else if (literal("true") || literal("false")) {
                v.type = Type::Bool;
                v.boolean = s[at - 1] == 'e' && s[at - 2] == 'u';
            } else if (literal("null")) {
                v.type = Type::Null;
            } else {
                const std::string rest(s.substr(at, 64));
                char* end = nullptr;
                v.number = std::strtod(rest.c_str(), &end);
                if (end != rest.c_str() && (rest[0] == '-' || (rest[0] >= '0' && rest[0] <= '9'))) {
                    at += std::size_t(end - rest.c_str());
                    v.type = Type::Number;
                }
            }
            return v;
        }
    };
};

} // namespace tqbse::test
