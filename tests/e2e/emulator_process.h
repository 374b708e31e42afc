// Runs tqbse-emulator as a child process on 127.0.0.10:6002 for a test:
// waits (bounded) until it prints that it listens, collects its output in a
// temporary file, and stops it with SIGTERM (SIGKILL after a bounded wait).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tqbse::e2e {

inline constexpr const char* kEmulatorAddress = "127.0.0.10";
inline constexpr int kOctets[4] = {127, 0, 0, 10};

// Waits for a child without blocking forever: true with `status` once it ended.
inline bool waitChild(pid_t pid, int timeoutMs, int* status)
{
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (::waitpid(pid, status, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Runs `path args...` with its output in `logPath`; the pid, or -1.
inline pid_t spawn(const std::string& path, const std::vector<std::string>& args, const std::string& logPath)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    _exit(127);
}

class EmulatorProcess {
public:
    EmulatorProcess() = default;
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;
    ~EmulatorProcess() { stop(); }

    // Starts the emulator with `args` (after --bind 127.0.0.10); false with
    // the output so far in `error` when it does not come up within 10 s.
    bool start(const std::vector<std::string>& args, std::string* error)
    {
        char path[] = "/tmp/tqbse-e2e-emulator-XXXXXX";
        const int fd = ::mkstemp(path);
        ::close(fd);
        logPath_ = path;
        std::vector<std::string> all{"--bind", kEmulatorAddress};
        all.insert(all.end(), args.begin(), args.end());
        pid_ = spawn(TQBSE_EMULATOR, all, logPath_);
        for (int i = 0; i < 200; ++i) {
            if (log().find("listening on") != std::string::npos)
                return true;
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        *error = "emulator did not start: " + log();
        return false;
    }

    // SIGTERM, then SIGKILL if it has not ended within 5 s. The exit status.
    int stop()
    {
        int status = -1;
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (!waitChild(pid_, 5000, &status)) {
                ::kill(pid_, SIGKILL);
                waitChild(pid_, 5000, &status);
            }
            pid_ = -1;
        }
        if (!logPath_.empty()) {
            lastLog_ = log();
            ::unlink(logPath_.c_str());
            logPath_.clear();
        }
        return status;
    }

    bool running() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }

    std::string log() const
    {
        if (logPath_.empty())
            return lastLog_;
        std::ifstream in(logPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool waitForLog(const std::string& needle, int timeoutMs) const
    {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            if (log().find(needle) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    pid_t pid_ = -1;
    std::string logPath_;
    std::string lastLog_;
};

// A raw client connection to the emulator, with a receive timeout.
class RawClient {
public:
    RawClient()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{3, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(6002);
        ::inet_pton(AF_INET, kEmulatorAddress, &a.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    bool send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }
    // Reads until the text ends in ")" with nothing more within 100 ms, the
    // peer closes, or 3 s pass. Empty when nothing arrived.
    std::string receive()
    {
        std::string out;
        char chunk[65536];
        for (int reads = 0; reads < 10000; ++reads) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, out.empty() || out.back() != ')' ? 3000 : 100) <= 0)
                break;
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            out.append(chunk, std::size_t(n));
        }
        return out;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

} // namespace tqbse::e2e
