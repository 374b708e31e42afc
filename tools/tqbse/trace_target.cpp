#include "trace_target.h"

#include "platform/host.h"
#include "platform/platform.h"

namespace tqbse::cli {

TraceTarget& traceTarget()
{
    static TraceTarget target;
    return target;
}

bool TraceTarget::check(const std::string& path, std::string* error)
{
    path_ = path;
    if (path == "-")
        return true;
    platform::AppendFile file;
    std::string why;
    if (platform::openAppendFile(path.c_str(), &file, &why) != 0) {
        *error = "cannot write the trace to " + path + ": " + why;
        return false;
    }
    sizeBefore_ = platform::regularFileSize(path.c_str());
    const int written = sizeBefore_ < 0 ? platform::appendToFile(file, "\n", 1) : 0;
    platform::closeAppendFile(&file);
    if (written != 0) {
        *error = "cannot write the trace to " + path + ": " + platform::fileErrorText(written);
        return false;
    }
    return true;
}

bool TraceTarget::verify(std::string* error) const
{
    if (sizeBefore_ < 0)
        return true;
    const int64_t sizeAfter = platform::regularFileSize(path_.c_str());
    const bool grew = sizeAfter > sizeBefore_;
    if ((initialised_ && !grew) || (grew && platform::lastByteOfFile(path_.c_str()) != '\n')) {
        *error = "the trace " + path_ + " was not written whole (the library's message above says why)";
        return false;
    }
    return true;
}

} // namespace tqbse::cli
