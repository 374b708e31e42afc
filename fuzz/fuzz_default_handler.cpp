// Fuzzes the callback listener's default handler with arbitrary messages:
// whatever arrives, the answer is the message's name (the text before its
// first "="), "=" and the integer token of -8.
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "callback/listener.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray message(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray reply = tqbse::callback::defaultMessageHandler(message);
    const qsizetype eq = message.indexOf('=');
    const QByteArray expected = (eq >= 0 ? message.left(eq) : message) + "=(n=f8ffffff)";
    if (reply != expected) {
        std::fprintf(stderr, "default handler answered %zu bytes, expected %zu\n",
                     std::size_t(reply.size()), std::size_t(expected.size()));
        std::abort();
    }
    return 0;
}
