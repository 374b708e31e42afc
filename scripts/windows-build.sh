#!/usr/bin/env bash
# Cross-builds the Windows DLL with MinGW-w64: scripts/windows-build.sh
# [--install-only]
#   build-win64/  x86-64: the DLL, tqbse.exe, the example, the Windows tests
#   build-win32/  i686: the DLL alone (it cannot be run here)
# Installs the cross compilers and Wine when missing (root, apt-get), and
# cross-builds GoogleTest from /usr/src/googletest once into
# build-win64-gtest/. The Windows tests start the natively built emulator:
# build/emulator/tqbse-emulator, or the program TQBSE_NATIVE_EMULATOR names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Only the posix thread model's packages: the unsuffixed g++-mingw-w64-*
# packages switch the default cross compiler to the win32 model.
packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine cmake ninja-build libgtest-dev zip)
"$root/scripts/install-deps.sh" "${packages[@]}"
# --install-only: just the packages (the stage needs Wine before it builds).
if [ "${1:-}" = "--install-only" ]; then
  exit 0
fi

# Runs a command with its output in a log that is shown only on failure.
quiet() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    echo "FAILED: $*" >&2
    return 1
  fi
  rm -f "$log"
}

# The build runs the test programs through Wine to list their tests.
. "$root/scripts/wine-env.sh"
trap wine_stop EXIT
wine_start

jobs=$(nproc)
gtest=$root/build-win64-gtest
if [ ! -f "$gtest/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "cross-building GoogleTest"
  quiet cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$gtest/install"
  quiet cmake --build "$gtest/build" --parallel "$jobs"
  quiet cmake --install "$gtest/build"
fi

# The emulator the Windows tests start: TQBSE_NATIVE_EMULATOR as given, or
# the native build's in build/, brought up to date there. In CI,
# run-tests.sh has just built build/ whole, so that costs nothing; only
# without a native build is build/ configured, and just the emulator built.
if [ -n "${TQBSE_NATIVE_EMULATOR:-}" ]; then
  emulator=$TQBSE_NATIVE_EMULATOR
  if [ ! -x "$emulator" ]; then
    echo "TQBSE_NATIVE_EMULATOR=$emulator: no such program" >&2
    exit 1
  fi
else
  emulator=$root/build/emulator/tqbse-emulator
  if [ ! -f "$root/build/CMakeCache.txt" ]; then
    echo "no native build in build/: configuring it for the emulator"
    quiet cmake -S "$root" -B "$root/build" -G Ninja
  fi
  quiet cmake --build "$root/build" --target tqbse-emulator --parallel "$jobs"
fi

echo "building build-win64"
quiet cmake -S "$root" -B "$root/build-win64" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DTQBSE_BUILD_BENCH=OFF -DGTest_DIR="$gtest/install/lib/cmake/GTest" \
  -DTQBSE_WINDOWS_NATIVE_EMULATOR="$emulator"
quiet cmake --build "$root/build-win64" --parallel "$jobs"
test -f "$root/build-win64/bin/tqBsePluginControlDll.dll"

echo "building build-win32 (the DLL)"
quiet cmake -S "$root" -B "$root/build-win32" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DTQBSE_BUILD_TESTS=OFF -DTQBSE_BUILD_TOOLS=OFF -DTQBSE_BUILD_BENCH=OFF
quiet cmake --build "$root/build-win32" --target tqBsePluginControlDll --parallel "$jobs"
test -f "$root/build-win32/bin/tqBsePluginControlDll.dll"
