// The end-of-reply rule judged the slow way, byte by byte over the whole
// reply: the net parentheses, the tokens completed at the top level after
// the "=", and whether the first of them is a negative result. The framer
// test and the framer fuzz target hold the ReplyReader to it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/codec.h"
#include "protocol/reply_reader.h"

namespace tqbse::test {

// The verdict for `reply` whose last chunk ended in ")" and was short
// (`shortLast`) or a whole receive, for an export whose successful reply has
// `expected` tokens.
inline ReplyReader::Next referenceVerdict(std::string_view reply, bool shortLast, int expected)
{
    using Next = ReplyReader::Next;
    int64_t depth = 0;
    int tokens = 0;
    bool failed = false, named = false, inToken = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        const char c = reply[i];
        if (!named) {
            named = c == '=';
            depth += (c == '(') - (c == ')');
            continue;
        }
        if (c == '(' && depth++ == 0) {
            start = i;
            inToken = true;
        } else if (c == ')' && --depth == 0 && inToken) {
            inToken = false;
            int32_t result = 0;
            if (++tokens == 1)
                failed = codec::decodeInt(reply.substr(start, i + 1 - start), &result) == 0 && result < 0;
        }
    }
    const bool whole = failed || tokens >= expected;
    // A full chunk may have more behind it: it never ends a reply by itself.
    return depth <= 0 && whole && shortLast ? Next::Done
           : shortLast || depth <= 0        ? Next::WaitQuiet
                                            : Next::Receive;
}

// Whether `split`, the reader's cut of the whole `reply`, holds the name and
// the first `expected` tokens (or all there are) as codec::splitMessage cuts
// them.
inline bool cutsAsSplitMessage(std::string_view reply, const codec::SplitMessage& split, int expected)
{
    const codec::SplitMessage reference = codec::splitMessage(reply);
    const std::size_t needed = std::min(reference.params.size(), std::size_t(expected));
    if (split.name != reference.name || split.params.size() < needed || split.params.size() > reference.params.size())
        return false;
    return std::equal(split.params.begin(), split.params.end(), reference.params.begin());
}

// How many whole elements, 16 hex digits (either case) and a comma each,
// begin `list`, byte by byte: what codec::countCommaElements counts and the
// reader may claim as checked (ReplyFramer::checkedElements).
inline std::size_t referenceCommaElements(std::string_view list)
{
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    std::size_t good = 0;
    for (; 17 * good + 17 <= list.size(); ++good) {
        const std::string_view e = list.substr(17 * good, 17);
        if (!std::all_of(e.begin(), e.begin() + 16, hex) || e[16] != ',')
            break;
    }
    return good;
}

// The same for the list of an array token: after its first "[", when the
// token starts "(da="; 0 for any other.
inline std::size_t referenceCommaElementsOfToken(std::string_view token)
{
    const std::size_t open = token.find('[');
    return token.starts_with("(da=") && open != std::string_view::npos ? referenceCommaElements(token.substr(open + 1))
                                                                        : 0;
}

} // namespace tqbse::test
