#include "server_reason.h"

#include "platform/host.h"
#include "protocol/call_description.h"
#include "protocol/codec.h"
#include "protocol/scanner.h"
#include "protocol/trace_line.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tqbse::cli {
namespace {

// A failed call's line is short: the end of the trace holds it whole.
constexpr std::streamoff kTailBytes = 64 * 1024;

} // namespace

ServerReasons& serverReasons()
{
    static ServerReasons reasons;
    return reasons;
}

ServerReasons::~ServerReasons()
{
    if (private_)
        ::unlink(path_.c_str());
}

void ServerReasons::setUp(const std::string& userTrace)
{
    const char* environment = std::getenv("TQBSE_TRACE");
    const std::string user = !userTrace.empty() ? userTrace : environment ? environment : "";
    if (!user.empty()) {
        if (user != "-")
            path_ = user;
        return;
    }
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder && *folder ? folder : "/tmp") + "/tqbse-reasons-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return;
    ::close(fd);
    path_ = name;
    private_ = true;
    platform::setEnvironment("TQBSE_TRACE", path_.c_str());
}

std::string ServerReasons::last(std::string_view shortName) const
{
    // Only a regular file can be read back without taking lines from
    // another reader (a FIFO).
    if (path_.empty() || platform::regularFileSize(path_.c_str()) < 0)
        return {};
    std::ifstream file(path_, std::ios::binary | std::ios::ate);
    if (!file)
        return {};
    const std::streamoff size = file.tellg();
    const std::streamoff from = size > kTailBytes ? size - kTailBytes : 0;
    std::string tail(std::size_t(size - from), '\0');
    file.seekg(from);
    file.read(tail.data(), std::streamsize(tail.size()));
    // The last call line that is whole (a partial first line does not parse).
    std::size_t end = tail.size();
    while (end > 0) {
        const std::size_t start = tail.rfind('\n', end - 1);
        const std::size_t begin = start == std::string::npos ? 0 : start + 1;
        TraceLine line;
        if (begin < end && parseTraceLine(std::string_view(tail).substr(begin, end - begin), &line)
            && line.event() == "call") {
            if (line.text("name") != std::string(kExportPrefix) + std::string(shortName) || line.number("result") >= 0)
                return {};
            return reasonOfReply(line.text("reply"));
        }
        if (start == std::string::npos)
            break;
        end = start;
    }
    return {};
}

std::string reasonOfReply(std::string_view reply)
{
    const codec::SplitMessage message = codec::splitMessage(reply);
    int32_t result = 0;
    if (message.params.size() < 2 || codec::decodeInt(message.params[0], &result) != 0 || result >= 0)
        return {};
    const std::string_view token = message.params[1];
    if (!token.starts_with("(s=") || !token.ends_with(")"))
        return {};
    return std::string(token.substr(3, token.size() - 4));
}

} // namespace tqbse::cli
