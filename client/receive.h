// The receive loops, one each way: receiveReply reads one reply or callback
// answer into a ReplyReader, with the quiet wait a reply that could end
// needs; receiveRequest reads one request for a server, with the quiet wait
// after which a request that never completes is taken as it is. The
// library's call path and the emulator's callback use the first; the
// emulator, the tests' fake server and the bench server the second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "client/function_ref.h"
#include "platform/platform.h"
#include "protocol/reply_reader.h"
#include "protocol/request_framer.h"

namespace tqbse {

enum class ReplyEnd : uint8_t {
    Whole,       // the reply is whole (also at the end of a stream it could end at)
    Broken,      // the stream ended or failed before the reply could end
    WaitEnded,   // waitForBytes said no (its own reason: deadline, interrupt)
    TooLarge,    // larger than the reader's bound
    OutOfMemory, // no room for the bytes
    TooManyReceives,
};

// Reads the reply `reader` has begun. Before each receive `waitForBytes`,
// when given, waits for the socket and says whether to receive. Bytes go
// straight into pages an earlier reply touched (ReplyReader::touchedSpace),
// as many as the kernel has up to the reader's bulk receive size, so they
// are still in cache when the reader scans them; otherwise into a chunk
// that stays in cache, then copied: a bulk reply received straight into
// fresh memory takes its page faults inside the receive, which costs more.
// At most `maxReceives` receives (0 for no bound).
ReplyEnd receiveReply(platform::SocketHandle socket, ReplyReader& reader, FunctionRef<bool()>* waitForBytes = nullptr,
                      int maxReceives = 0);

// Requests are received this many bytes at a time.
inline constexpr std::size_t kRequestChunkSize = 64 * 1024;

enum class RequestEnd : uint8_t {
    Complete, // the framer found the request's end
    Quiet,    // bytes arrived, then nothing for kRequestQuietMs: taken as they are
    Closed,   // the peer closed or the receive failed
    Stopped,  // keepWaiting said no
    TooLarge, // the request grew past maxBytes
    NoRoom,   // makeRoom refused the next chunk
};

struct RequestLimits {
    int pollMs = 100;                 // how often keepWaiting is asked while nothing arrives
    std::size_t maxBytes = SIZE_MAX;  // a request past this ends with TooLarge
};

// Appends what one receive brings (up to kRequestChunkSize bytes) to
// `request` and feeds it to `framer`: receiveSome's count.
int64_t receiveRequestChunk(platform::SocketHandle socket, std::string& request, RequestFramer& framer);

// Reads one request into `request` (empty, with `framer` reset, for a new
// one). `keepWaiting(idleMs)` is asked before every wait; `makeRoom(size)`
// before every receive, which appends up to kRequestChunkSize bytes to a
// request of `size` bytes.
RequestEnd receiveRequest(platform::SocketHandle socket, std::string& request, RequestFramer& framer,
                          const RequestLimits& limits, FunctionRef<bool(int idleMs)> keepWaiting,
                          FunctionRef<bool(std::size_t size)> makeRoom);

} // namespace tqbse
