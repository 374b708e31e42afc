// Facts about this host: listening ports from the kernel's tables, and the
// file a loaded module came from.
#include "platform/platform.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tqbse::platform {

bool isListening(uint16_t port)
{
    char hexPort[8];
    std::snprintf(hexPort, sizeof hexPort, ":%04X", unsigned(port));
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // header
        for (int n = 0; n < 100000 && std::getline(in, line); ++n) {
            // "sl local_address rem_address st ..."; st 0A is LISTEN.
            char local[64] = {}, remote[64] = {}, state[8] = {};
            if (std::sscanf(line.c_str(), "%*s %63s %63s %7s", local, remote, state) != 3)
                continue;
            const std::string l(local);
            if (l.size() > 5 && l.ends_with(hexPort) && std::string(state) == "0A")
                return true;
        }
    }
    return false;
}

std::string modulePath(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return "?";
    char resolved[PATH_MAX];
    return ::realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

void setEnvironment(const char* name, const char* value) { ::setenv(name, value, 1); }

} // namespace tqbse::platform
