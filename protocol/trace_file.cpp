// Reading a trace file line by line, with its rule for a cut-off last line.
#include "protocol/trace_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace tqbse {
namespace {

constexpr std::size_t kReadChunk = 256 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::string cutOffLineWarning(const std::string& path, int64_t number)
{
    return path + ':' + std::to_string(number) + ": the last line is cut off (the trace's writing stopped there); "
        + "it is skipped";
}

bool readTraceFile(const std::string& path,
                   const std::function<bool(int64_t number, TraceLineKind kind, const TraceLine& line)>& each,
                   std::string* error)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = "cannot read " + path + ": it is a folder, not a trace file";
        return false;
    }
    errno = 0;
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string pending; // the bytes after the last line end read so far
    int64_t number = 0;
    // One line, without its line end; false when `each` stops.
    auto deliver = [&](std::string_view text, bool ended) {
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        ++number;
        if (text.empty())
            return true;
        TraceLine line;
        const bool parsed = parseTraceLine(text, &line) && !line.event().empty();
        const TraceLineKind kind = parsed ? TraceLineKind::Line : ended ? TraceLineKind::Bad : TraceLineKind::CutOff;
        return each(number, kind, parsed ? line : TraceLine{});
    };
    std::string chunk(kReadChunk, '\0');
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (n == 0)
            break;
        pending.append(chunk, 0, n);
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            if (!deliver(std::string_view(pending).substr(start, end - start), true))
                return true;
        pending.erase(0, start);
    }
    if (std::ferror(file.get())) {
        *error = "cannot read " + path + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }
    if (!pending.empty())
        deliver(pending, false);
    return true;
}

} // namespace tqbse
