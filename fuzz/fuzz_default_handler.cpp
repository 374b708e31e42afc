// Fuzzes the callback listener's default handler with arbitrary messages:
// whatever arrives, the answer is the message's name (the text before its
// first "="), "=" and the integer token of -8.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "listener/listener.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string message(reinterpret_cast<const char*>(data), size);
    const std::string reply = tqbse::listener::defaultMessageHandler(message);
    const std::string expected = message.substr(0, message.find('=')) + "=(n=f8ffffff)";
    if (reply != expected) {
        std::fprintf(stderr, "default handler answered %zu bytes, expected %zu\n", reply.size(), expected.size());
        std::abort();
    }
    return 0;
}
