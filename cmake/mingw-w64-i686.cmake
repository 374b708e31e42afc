# Cross-building the Windows DLL for i686 (32-bit) with MinGW-w64 on Debian:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# posix thread model (g++-mingw-w64-i686-posix). The test programs run under
# 32-bit Wine (wine32:i386, which scripts/windows-build.sh installs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TQBSE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
