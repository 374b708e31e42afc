#include "emulator/faults.h"

#include <algorithm>
#include <string_view>

#include "core/call_description.h"
#include "core/codec.h"

namespace tqbse::emu {

bool FaultOptions::appliesTo(QByteArrayView requestName) const
{
    if (call.isEmpty())
        return true;
    if (requestName == call)
        return true;
    const QByteArrayView prefix(kExportPrefix.data(), qsizetype(kExportPrefix.size()));
    return requestName.startsWith(prefix) && requestName.sliced(prefix.size()) == call;
}

QByteArray applyReplyFaults(const FaultOptions& faults, QByteArray reply)
{
    const qsizetype eq = reply.indexOf('=');
    if (eq < 0)
        return reply;
    if (faults.missingOutputs) {
        const codec::TokenBounds first = codec::findTokenEnd(QByteArrayView(reply).sliced(eq + 1));
        if (first.end > 0)
            reply.truncate(eq + 1 + first.end);
    }
    if (faults.badHex) {
        const codec::TokenBounds first = codec::findTokenEnd(QByteArrayView(reply).sliced(eq + 1));
        const qsizetype afterResult = first.end > 0 ? eq + 1 + first.end : eq + 1;
        qsizetype at = -1;
        for (const char* tag : {"(n=", "(f=", "(d=", "(da="}) {
            const qsizetype p = reply.indexOf(tag, afterResult);
            if (p >= 0 && (at < 0 || p < at))
                at = p;
        }
        if (at < 0)
            at = reply.indexOf("(n=", eq);
        if (at >= 0) {
            qsizetype digit = reply.indexOf('=', at) + 1;
            if (reply.at(at + 1) == 'd' && reply.at(at + 2) == 'a')
                digit = reply.indexOf('[', at) + 1;
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

std::vector<qsizetype> pieceEnds(QByteArrayView reply, int pieceSize)
{
    std::vector<qsizetype> ends;
    const qsizetype size = reply.size();
    const qsizetype step = std::max(1, pieceSize);
    qsizetype end = 0;
    while (end < size) {
        end = std::min(size, end + step);
        while (end < size && reply[end - 1] == ')')
            ++end;
        ends.push_back(end);
    }
    return ends;
}

qsizetype midReplyCut(QByteArrayView reply)
{
    qsizetype cut = reply.size() / 2;
    while (cut > 0 && reply[cut - 1] == ')')
        --cut;
    return std::max<qsizetype>(cut, std::min<qsizetype>(1, reply.size() - 1));
}

} // namespace tqbse::emu
