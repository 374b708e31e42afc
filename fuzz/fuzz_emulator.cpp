// Fuzzes the emulator's request handling without sockets: the input is a
// run of requests separated by line feeds, handled in order by one fresh
// model (so state carries from request to request, as on a connection).
// Whatever the bytes, every request gets one well-formed reply that carries
// its name and a result code, a failure carries nothing else, and a
// complete request is seen as complete whether its bytes come at once or in
// pieces.
#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "api/call_table.h"
#include "core/codec.h"
#include "emulator/model.h"
#include "emulator/request_handler.h"

namespace {

[[noreturn]] void fail(const QByteArray& request, const QByteArray& reply, const char* what)
{
    std::fprintf(stderr, "%s\nrequest: %.200s\nreply: %.200s\n", what, request.constData(), reply.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace tqbse;
    static const emu::Config config = emu::defaultConfig();
    emu::Model model(config);

    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<QByteArray> requests = input.split('\n');
    for (int r = 0; r < requests.size() && r < 64; ++r) {
        const QByteArray& request = requests[r];
        const QByteArray reply = emu::handleRequest(model, request);

        const QByteArray name = emu::messageName(request).toByteArray();
        if (!reply.startsWith(name + '='))
            fail(request, reply, "reply does not carry the request's name");
        const codec::SplitMessage split = codec::splitMessage(QByteArrayView(reply).sliced(name.size()));
        int32_t result = 0;
        if (split.params.empty() || codec::decodeInt(split.params[0], &result) != 0)
            fail(request, reply, "reply without a result code");
        if (result < 0 && split.params.size() != 1)
            fail(request, reply, "failure reply carries outputs");
        if (reply.back() != ')')
            fail(request, reply, "reply does not end in )");

        // Scanner: whole buffer at once against growing pieces of it.
        emu::RequestScanner whole;
        const bool wholeComplete = whole.feed(request);
        emu::RequestScanner pieces;
        QByteArray buffer;
        bool piecesComplete = false;
        const qsizetype step = 1 + (r * 7) % 13;
        for (qsizetype at = 0; at < request.size(); at += step) {
            buffer.append(request.mid(at, step));
            piecesComplete = pieces.feed(buffer);
            if (piecesComplete)
                break;
        }
        if (request.isEmpty())
            piecesComplete = pieces.feed(buffer);
        // A request of a known call with inputs that is complete as a whole
        // is complete however its bytes were cut (in pieces it may be taken
        // earlier: at its last token, before bytes that follow it).
        const CallDesc* call = findCall(std::string_view(name.constData(), std::size_t(name.size())));
        if (call != nullptr && call->inputCount > 0 && wholeComplete && !piecesComplete)
            fail(request, reply, "complete request not seen as complete when it came in pieces");
        if (wholeComplete != emu::isRequestComplete(request))
            fail(request, reply, "scanner and isRequestComplete disagree");
    }
    return 0;
}
