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
#include "protocol/framer.h"

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
    return depth <= 0 && whole ? Next::Done : shortLast || depth <= 0 ? Next::WaitQuiet : Next::Receive;
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

} // namespace tqbse::test
