// The two receive loops: replies into a ReplyReader, requests through a
// RequestFramer.
#include "client/receive.h"

#include <algorithm>

namespace tqbse {

ReplyEnd receiveReply(platform::SocketHandle socket, ReplyReader& reader, FunctionRef<bool()>* waitForBytes,
                      int maxReceives)
{
    for (int receives = 0; maxReceives <= 0 || receives < maxReceives; ++receives) {
        if (waitForBytes != nullptr && !(*waitForBytes)())
            return ReplyEnd::WaitEnded;
        std::size_t room = 0;
        char chunk[kReceiveChunkSize];
        char* const touched = reader.touchedSpace(&room);
        const int64_t n = touched ? platform::receiveSome(socket, touched, room)
                                  : platform::receiveSome(socket, chunk, sizeof chunk);
        if (n <= 0)
            return reader.wholeAtEndOfStream() ? ReplyEnd::Whole : ReplyEnd::Broken;
        const ReplyReader::Next next = touched ? reader.received(std::size_t(n), room)
                                               : reader.feed(std::string_view(chunk, std::size_t(n)));
        switch (next) {
        case ReplyReader::Next::Receive:
            break;
        case ReplyReader::Next::Done:
            return ReplyEnd::Whole;
        case ReplyReader::Next::OutOfMemory:
            return ReplyEnd::OutOfMemory;
        case ReplyReader::Next::TooLarge:
            return ReplyEnd::TooLarge;
        case ReplyReader::Next::WaitQuiet:
            // A server that keeps the contract sends the rest of a reply at
            // once, so it ends here only if nothing more arrives for a while.
            // Without the wait, a reply split after a token, or a large reply
            // read faster than it is sent, would be cut short.
            if (!platform::waitReadable(socket, kReplyQuietMs))
                return ReplyEnd::Whole;
            break;
        }
    }
    return ReplyEnd::TooManyReceives;
}

int64_t receiveRequestChunk(platform::SocketHandle socket, std::string& request, RequestFramer& framer)
{
    const std::size_t at = request.size();
    request.resize(at + kRequestChunkSize);
    const int64_t n = platform::receiveSome(socket, request.data() + at, kRequestChunkSize);
    request.resize(at + std::size_t(n > 0 ? n : 0));
    if (n > 0)
        framer.feed(request);
    return n;
}

RequestEnd receiveRequest(platform::SocketHandle socket, std::string& request, RequestFramer& framer,
                          const RequestLimits& limits, FunctionRef<bool(int idleMs)> keepWaiting,
                          FunctionRef<bool(std::size_t size)> makeRoom)
{
    for (int idleMs = 0;;) {
        if (framer.complete())
            return RequestEnd::Complete;
        if (!keepWaiting(idleMs))
            return RequestEnd::Stopped;
        // Nothing yet: wait in polls. Something: at most what is left of
        // the quiet period.
        const int waitMs = request.empty() ? limits.pollMs : std::min(limits.pollMs, kRequestQuietMs - idleMs);
        if (!platform::waitReadable(socket, waitMs)) {
            idleMs += waitMs;
            if (!request.empty() && idleMs >= kRequestQuietMs)
                return RequestEnd::Quiet;
            continue;
        }
        idleMs = 0;
        if (!makeRoom(request.size()))
            return RequestEnd::NoRoom;
        if (receiveRequestChunk(socket, request, framer) <= 0)
            return RequestEnd::Closed;
        if (request.size() > limits.maxBytes)
            return RequestEnd::TooLarge;
    }
}

} // namespace tqbse
