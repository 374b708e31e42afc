// Child processes for the tests: the reference emulator on a loopback
// address and a port of its own, and programs run to completion with their
// output captured. Process control (fork, exec, waitpid, signals) lives here
// and nowhere else in the tests. Every wait is bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
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

#include "support/sockets.h"

namespace tqbse::test {

// Waits for a child without blocking for ever: true with `status` once it ended.
inline bool waitChild(pid_t pid, int timeoutMs, int* status)
{
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (::waitpid(pid, status, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// SIGKILL and reap, for a child that has to go now.
inline void killChild(pid_t pid)
{
    int status = 0;
    ::kill(pid, SIGKILL);
    waitChild(pid, 5000, &status);
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh empty file under /tmp, named after `stem`.
inline std::string temporaryFile(const char* stem)
{
    std::string path = std::string("/tmp/tqbse-test-") + stem + "-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd >= 0)
        ::close(fd);
    return path;
}

// Runs `path args...` with standard output in `outPath` and standard error
// in `errPath` (or `outPath` too when empty); the pid, or -1.
inline pid_t spawn(const std::string& path, const std::vector<std::string>& args, const std::string& outPath,
                   const std::string& errPath = {})
{
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = errPath.empty() ? out : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(path.c_str(), argv.data());
    _exit(127);
}

struct ProgramRun {
    int exitCode = -1; // -1 when it did not end by itself in time
    std::string out;
    std::string err;
};

// Runs a program to its end, killing it after `timeoutMs`.
inline ProgramRun runProgram(const std::string& path, const std::vector<std::string>& args, int timeoutMs = 30000)
{
    const std::string outPath = temporaryFile("out"), errPath = temporaryFile("err");
    ProgramRun r;
    const pid_t pid = spawn(path, args, outPath, errPath);
    int status = 0;
    if (pid > 0 && waitChild(pid, timeoutMs, &status))
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    else if (pid > 0)
        killChild(pid);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return r;
}

// tqbse-emulator as a child process: --bind `address` --port `port` (a free
// one when 0) and --callback-port at the library's listener port. Once it
// listens, the library's server port is moved to it. Output goes to a
// temporary file; the destructor kills it (nothing is checked after a test).
class EmulatorProcess {
public:
    explicit EmulatorProcess(const char* address = "127.0.0.10", uint16_t port = 0)
        : address_(address), port_(port)
    {
    }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;
    ~EmulatorProcess()
    {
        if (pid_ > 0)
            killChild(pid_);
        ::unlink(logPath_.c_str());
        if (!errorPath_.empty())
            ::unlink(errorPath_.c_str());
    }

    // False with the output so far in `error` when it does not come up
    // within 10 s. With `separateErrors`, standard error goes to a file of
    // its own (errorLog()) instead of the log.
    bool start(const std::vector<std::string>& args, std::string* error, bool separateErrors = false)
    {
        if (separateErrors)
            errorPath_ = temporaryFile("emulator-err");
        if (port_ == 0)
            port_ = freePort(address_.c_str());
        logPath_ = temporaryFile("emulator");
        std::vector<std::string> all{"--bind", address_, "--port", std::to_string(port_), "--callback-port",
                                     std::to_string(listenerPort())};
        all.insert(all.end(), args.begin(), args.end());
        pid_ = spawn(TQBSE_EMULATOR, all, logPath_, errorPath_);
        for (int i = 0; i < 200 && pid_ > 0; ++i) {
            if (log().find("listening on") != std::string::npos) {
                setPortsForTesting(port_, 0);
                return true;
            }
            int status = 0;
            if (waitChild(pid_, 50, &status))
                pid_ = -1; // it ended without listening
        }
        *error = "emulator did not start: " + log();
        return false;
    }

    std::string log() const { return readFile(logPath_); }
    std::string errorLog() const { return errorPath_.empty() ? log() : readFile(errorPath_); }

private:
    std::string address_;
    uint16_t port_;
    pid_t pid_ = -1;
    std::string logPath_;
    std::string errorPath_;
};

} // namespace tqbse::test
