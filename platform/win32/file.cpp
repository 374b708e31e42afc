// Appended files on Windows: the C runtime's _open and _write. Opening a
// named pipe that no program serves fails at once on Windows, so nothing
// here can wait for a reader; a write never raises a signal.
#include "platform/host.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tqbse::platform {
namespace {

constexpr unsigned kMaxWrite = 1u << 30;

} // namespace

int openAppendFile(const char* path, AppendFile* file, std::string* why)
{
    if (std::strcmp(path, "-") == 0) {
        *file = AppendFile{_fileno(stderr), false};
        return 0;
    }
    const int fd = ::_open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        const int error = errno;
        *why = fileErrorText(error);
        return error;
    }
    *file = AppendFile{fd, true};
    return 0;
}

int appendToFile(const AppendFile& file, const char* data, std::size_t size)
{
    while (size > 0) {
        const int n = ::_write(int(file.handle), data, unsigned(size < kMaxWrite ? size : kMaxWrite));
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= std::size_t(n);
    }
    return 0;
}

void closeAppendFile(AppendFile* file)
{
    if (file->owned && file->handle >= 0)
        ::_close(int(file->handle));
    *file = AppendFile{};
}

int64_t regularFileSize(const char* path)
{
    struct _stat64 st {};
    return ::_stat64(path, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG ? int64_t(st.st_size) : -1;
}

int lastByteOfFile(const char* path)
{
    const int64_t size = regularFileSize(path);
    if (size <= 0)
        return -1;
    const int fd = ::_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        return -1;
    unsigned char last = 0;
    const bool read = ::_lseeki64(fd, size - 1, SEEK_SET) == size - 1 && ::_read(fd, &last, 1) == 1;
    ::_close(fd);
    return read ? int(last) : -1;
}

std::string fileErrorText(int error) { return std::strerror(error); }

} // namespace tqbse::platform
