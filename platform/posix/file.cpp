// Appended files on POSIX: open(2) with O_NONBLOCK so that a FIFO without a
// reader is refused (ENXIO) instead of blocking the caller, and writes with
// SIGPIPE held back so that a reader that went away is an error, not the
// end of the host program.
#include "platform/host.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace tqbse::platform {
namespace {

constexpr int kMaxInterruptedWrites = 100;

// Runs `write` with SIGPIPE blocked on this thread; a SIGPIPE it raised is
// taken back before the mask is restored.
template <typename Write>
ssize_t withoutSigpipe(Write write)
{
    sigset_t pipe, old, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigemptyset(&pending);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &old);
    ::sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    const ssize_t n = write();
    const int error = errno;
    if (n < 0 && error == EPIPE && !alreadyPending) {
        const timespec none{0, 0};
        ::sigtimedwait(&pipe, nullptr, &none);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

} // namespace

int openAppendFile(const char* path, AppendFile* file, std::string* why)
{
    if (std::strcmp(path, "-") == 0) {
        *file = AppendFile{STDERR_FILENO, false};
        return 0;
    }
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        *why = error == ENXIO && ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode) ? "a FIFO that no program reads"
                                                                               : fileErrorText(error);
        return error;
    }
    // Pipes and sockets stay non-blocking (a reader never holds up a call);
    // anything else (a terminal, a device) is written as usual.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *file = AppendFile{fd, true};
    return 0;
}

int appendToFile(const AppendFile& file, const char* data, std::size_t size)
{
    int interrupted = 0;
    while (size > 0) {
        const ssize_t n = withoutSigpipe([&] { return ::write(int(file.handle), data, size); });
        if (n < 0 && errno == EINTR && ++interrupted < kMaxInterruptedWrites)
            continue;
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
        ::close(int(file->handle));
    *file = AppendFile{};
}

int64_t regularFileSize(const char* path)
{
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode) ? int64_t(st.st_size) : -1;
}

int lastByteOfFile(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    unsigned char last = 0;
    struct stat st {};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
        && ::pread(fd, &last, 1, st.st_size - 1) == 1;
    ::close(fd);
    return read ? int(last) : -1;
}

std::string fileErrorText(int error) { return socketErrorText(error); }

} // namespace tqbse::platform
