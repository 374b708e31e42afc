// The status with which a Windows test program ends after an unhandled
// exception (windows/crash_guard.cpp). Not 3, which abort() gives.
#pragma once

namespace tqbse::test {
inline constexpr unsigned kCrashStatus = 71;
}
