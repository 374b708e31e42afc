// Facts about this host: listening ports from the kernel's tables, and the
// file a loaded module came from.
#include "platform/host.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace tqbse::platform {

namespace {

// The socket inodes listening on the TCP port, from the kernel's tables.
std::set<std::string> listeningInodes(uint16_t port)
{
    std::set<std::string> inodes;
    char hexPort[8];
    std::snprintf(hexPort, sizeof hexPort, ":%04X", unsigned(port));
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // header
        for (int n = 0; n < 100000 && std::getline(in, line); ++n) {
            // "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ..."; st 0A is LISTEN.
            char local[64] = {}, remote[64] = {}, state[8] = {}, inode[32] = {};
            if (std::sscanf(line.c_str(), "%*s %63s %63s %7s %*s %*s %*s %*s %*s %31s", local, remote, state, inode)
                != 4)
                continue;
            const std::string l(local);
            if (l.size() > 5 && l.ends_with(hexPort) && std::string(state) == "0A")
                inodes.insert(inode);
        }
    }
    return inodes;
}

} // namespace

bool isListening(uint16_t port) { return !listeningInodes(port).empty(); }

bool isListeningHere(uint16_t port)
{
    const std::set<std::string> inodes = listeningInodes(port);
    if (inodes.empty())
        return false;
    // A descriptor of this process that is one of those sockets.
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr)
        return false;
    bool found = false;
    for (int n = 0; n < 100000 && !found; ++n) {
        const dirent* entry = ::readdir(fds);
        if (entry == nullptr)
            break;
        char target[64] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
        const std::string text(target, length > 0 ? std::size_t(length) : 0);
        if (text.starts_with("socket:[") && text.ends_with("]"))
            found = inodes.count(text.substr(8, text.size() - 9)) > 0;
    }
    ::closedir(fds);
    return found;
}

std::string modulePath(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return "?";
    char resolved[PATH_MAX];
    return ::realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

int setEnvironment(const char* name, const char* value) { return ::setenv(name, value, 1) == 0 ? 0 : errno; }

} // namespace tqbse::platform
