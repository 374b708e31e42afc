// Fuzzes the emulator's request handling without sockets: the input is a
// run of requests separated by line feeds, handled in order by one fresh
// model (so state carries from request to request, as on a connection).
// Whatever the bytes, every request gets one well-formed reply that carries
// its name and a result code, a failure carries nothing else, and a
// complete request is seen as complete whether its bytes come at once or in
// pieces.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "emulator/model.h"
#include "emulator/request_handler.h"
#include "protocol/call_table.h"
#include "protocol/codec.h"
#include "protocol/request_framer.h"

namespace {

[[noreturn]] void fail(std::string_view request, const std::string& reply, const char* what)
{
    std::fprintf(stderr, "%s\nrequest: %.200s\nreply: %.200s\n", what, std::string(request).c_str(), reply.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace tqbse;
    static const emu::Config config = emu::defaultConfig();
    emu::Model model(config);

    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (int r = 0; r < 64; ++r) {
        const std::size_t end = input.find('\n');
        const std::string_view request = input.substr(0, end);
        const std::string reply = emu::handleRequest(model, request);

        const std::string_view name = emu::messageName(request);
        if (!reply.starts_with(std::string(name) + '='))
            fail(request, reply, "reply does not carry the request's name");
        const codec::SplitMessage split = codec::splitMessage(std::string_view(reply).substr(name.size()));
        int32_t result = 0;
        if (split.params.empty() || codec::decodeInt(split.params[0], &result) != 0)
            fail(request, reply, "reply without a result code");
        // A failure carries its reason, one text token, and no outputs.
        if (result < 0 && (split.params.size() != 2 || !split.params[1].starts_with("(s=")))
            fail(request, reply, "failure reply without its reason, or with outputs");
        if (reply.back() != ')')
            fail(request, reply, "reply does not end in )");

        // Framer: whole buffer at once against growing pieces of it.
        RequestFramer whole;
        const bool wholeComplete = whole.feed(request);
        RequestFramer pieces;
        std::string buffer;
        bool piecesComplete = false;
        const std::size_t step = 1 + std::size_t(r * 7) % 13;
        for (std::size_t at = 0; at < request.size(); at += step) {
            buffer.append(request.substr(at, step));
            piecesComplete = pieces.feed(buffer);
            if (piecesComplete)
                break;
        }
        if (request.empty())
            piecesComplete = pieces.feed(buffer);
        // A request of a known call with inputs that is complete as a whole
        // is complete however its bytes were cut (in pieces it may be taken
        // earlier: at its last token, before bytes that follow it).
        const CallDesc* call = findCall(name);
        if (call != nullptr && call->inputCount > 0 && wholeComplete && !piecesComplete)
            fail(request, reply, "complete request not seen as complete when it came in pieces");
        if (wholeComplete != isRequestComplete(request))
            fail(request, reply, "framer and isRequestComplete disagree");

        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    return 0;
}
