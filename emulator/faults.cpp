// Fault injection on reply texts.
#include "emulator/faults.h"

#include <algorithm>

#include "protocol/call_description.h"
#include "protocol/codec.h"

namespace tqbse::emu {

bool FaultOptions::any() const
{
    return delayMs > 0 || pieceSize > 0 || closeAfter >= 0 || closeMidReply || stallAfter >= 0 || wrongName
        || missingOutputs || badHex || tokenPauseMs >= 0 || sendTwice || endlessText;
}

bool FaultOptions::appliesTo(std::string_view requestName) const
{
    if (call.empty())
        return true;
    if (requestName == call)
        return true;
    return requestName.starts_with(kExportPrefix) && requestName.substr(kExportPrefix.size()) == call;
}

std::string applyReplyFaults(const FaultOptions& faults, std::string reply)
{
    constexpr std::size_t npos = std::string::npos;
    const std::size_t eq = reply.find('=');
    if (eq == npos)
        return reply;
    if (faults.missingOutputs) {
        const codec::TokenBounds first = codec::findTokenEnd(std::string_view(reply).substr(eq + 1));
        if (first.end > 0)
            reply.resize(eq + 1 + std::size_t(first.end));
    }
    if (faults.badHex) {
        const codec::TokenBounds first = codec::findTokenEnd(std::string_view(reply).substr(eq + 1));
        const std::size_t afterResult = first.end > 0 ? eq + 1 + std::size_t(first.end) : eq + 1;
        std::size_t at = npos;
        for (const char* tag : {"(n=", "(f=", "(d=", "(da="})
            at = std::min(at, reply.find(tag, afterResult));
        if (at == npos)
            at = reply.find("(n=", eq);
        if (at != npos) {
            std::size_t digit = reply.find('=', at) + 1; // the tag has one
            if (reply[at + 1] == 'd' && reply[at + 2] == 'a') {
                const std::size_t bracket = reply.find('[', at);
                digit = bracket == npos ? 0 : bracket + 1;
            }
            if (digit > 0 && digit + 1 < reply.size()) {
                reply[digit] = 'z';
                reply[digit + 1] = 'z';
            }
        }
    }
    if (faults.wrongName)
        reply.insert(eq, "_Wrong");
    return reply;
}

std::vector<std::size_t> pieceEnds(std::string_view reply, int pieceSize)
{
    std::vector<std::size_t> ends;
    const std::size_t size = reply.size();
    const std::size_t step = std::size_t(std::max(1, pieceSize));
    std::size_t end = 0;
    while (end < size) {
        end = std::min(size, end + step);
        while (end < size && reply[end - 1] == ')')
            ++end;
        ends.push_back(end);
    }
    return ends;
}

std::vector<std::size_t> tokenEnds(std::string_view reply)
{
    std::vector<std::size_t> ends;
    const std::size_t eq = reply.find('=');
    std::size_t at = eq == std::string_view::npos ? reply.size() : eq + 1;
    while (at < reply.size()) {
        const codec::TokenBounds token = codec::findTokenEnd(reply.substr(at));
        if (token.end <= 0)
            break;
        at += std::size_t(token.end);
        ends.push_back(at);
    }
    if (ends.empty() || ends.back() < reply.size())
        ends.push_back(reply.size());
    return ends;
}

std::size_t midReplyCut(std::string_view reply)
{
    const int64_t size = int64_t(reply.size());
    int64_t cut = size / 2;
    while (cut > 0 && reply[std::size_t(cut - 1)] == ')')
        --cut;
    return std::size_t(std::max<int64_t>(cut, std::min<int64_t>(1, size - 1)));
}

} // namespace tqbse::emu
