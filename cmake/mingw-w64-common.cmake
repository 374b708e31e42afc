# What both MinGW-w64 toolchain files share; TQBSE_MINGW_TRIPLET names the
# target. Every program and library is linked without the toolchain's own
# DLLs (libstdc++, libgcc, winpthread), so that it runs on a bare Windows or
# under Wine with nothing beside it.
set(CMAKE_C_COMPILER ${TQBSE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQBSE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TQBSE_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TQBSE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Built programs (test discovery, ctest) run through Wine: 64-bit Wine for
# x86-64, 32-bit Wine (wine32) for i686, both in one win64 prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
