// Runs the test program itself again as a child with other arguments (a
// gtest filter selecting a disabled child test) and returns how it ended.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace tqbse::test {

// The child's exit status; -1 when it could not be started or did not end
// within `limitMs` (it is then terminated).
inline long runSelf(const std::string& arguments, DWORD limitMs)
{
    char path[MAX_PATH] = {};
    if (::GetModuleFileNameA(nullptr, path, MAX_PATH) == 0)
        return -1;
    std::string command = std::string("\"") + path + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD status = DWORD(-1);
    if (::WaitForSingleObject(process.hProcess, limitMs) != WAIT_OBJECT_0)
        ::TerminateProcess(process.hProcess, 1);
    else
        ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return long(status);
}

} // namespace tqbse::test
