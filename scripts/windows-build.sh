#!/usr/bin/env bash
# Cross-builds the Windows DLL with MinGW-w64: scripts/windows-build.sh
# [--install-only]
#   build-win64/  x86-64: the DLL, tqbse.exe, the example, the Windows tests
#   build-win32/  i686: the same, run by 32-bit Wine (built, not run, where
#                 32-bit programs cannot run: build-win32/wine32 says which)
# Installs the cross compilers and Wine (64-bit and 32-bit) when missing
# (root, apt-get), and cross-builds GoogleTest from /usr/src/googletest once
# per architecture into build-win64-gtest/ and build-win32-gtest/. The
# Windows tests start the natively built emulator:
# build/emulator/tqbse-emulator, or the program TQBSE_NATIVE_EMULATOR names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Only the posix thread model's packages: the unsuffixed g++-mingw-w64-*
# packages switch the default cross compiler to the win32 model.
packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine cmake ninja-build libgtest-dev zip)
"$root/scripts/install-deps.sh" "${packages[@]}"
# 32-bit Wine (wine32:i386, Debian's multiarch) runs the i686 programs in
# the same win64 prefix as the x86-64 ones. It has to be installed before
# any prefix is made: a prefix in use while it is installed can no longer
# load kernel32.dll. It needs a kernel that runs 32-bit Linux programs
# (ia32 emulation, off on some virtual machines), which a 95-byte i386
# program that exits with status 42 shows; where that fails, or the
# install is refused, build-win32 is built and checked but not run, and
# wine32 is not installed (with it, Debian's wine would start its 32-bit
# loader for every program, 64-bit ones too).
kernel_runs_32bit() {
  local probe status=0
  probe=$(mktemp)
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5f\x00\x00\x00\x5f\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb3\x2a\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}
wine32_installed() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"
}
wine32=false
wine32_note=
if ! kernel_runs_32bit; then
  wine32_note="this kernel does not run 32-bit programs (ia32 emulation off)"
elif wine32_installed; then
  wine32=true
elif [ "$(id -u)" -ne 0 ]; then
  wine32_note="wine32:i386 is not installed (and not root to install it)"
else
  echo "installing: wine32:i386 (multiarch)"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  if { apt-get update -qq && apt-get install -y -qq --no-install-recommends wine32:i386; } >/dev/null 2>&1 \
     && wine32_installed; then
    wine32=true
  else
    wine32_note="installing wine32:i386 failed"
  fi
fi
# What the stage reads: whether build-win32 runs under Wine, and if not why.
mkdir -p "$root/build-win32"
if $wine32; then
  echo "run" >"$root/build-win32/wine32"
else
  echo "not run: $wine32_note" >"$root/build-win32/wine32"
fi
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
# cross_gtest TOOLCHAIN DIR: GoogleTest from /usr/src/googletest, cross-built
# once into DIR/install.
cross_gtest() {
  local toolchain=$1 dir=$2
  if [ ! -f "$dir/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "cross-building GoogleTest into ${dir#"$root"/}"
    quiet cmake -S /usr/src/googletest -B "$dir/build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
      -DCMAKE_INSTALL_PREFIX="$dir/install"
    quiet cmake --build "$dir/build" --parallel "$jobs"
    quiet cmake --install "$dir/build"
  fi
}
cross_gtest mingw-w64-x86_64.cmake "$root/build-win64-gtest"
cross_gtest mingw-w64-i686.cmake "$root/build-win32-gtest"

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

# build_tree DIR TOOLCHAIN GTEST [cmake options...]: the DLL, tqbse.exe, the
# example and the Windows tests for one architecture.
build_tree() {
  local dir=$1 toolchain=$2 gtest=$3
  shift 3
  echo "building ${dir#"$root"/}"
  quiet cmake -S "$root" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DTQBSE_BUILD_TESTS=ON -DTQBSE_BUILD_TOOLS=ON -DTQBSE_BUILD_BENCH=OFF \
    -DGTest_DIR="$gtest/install/lib/cmake/GTest" \
    -DTQBSE_WINDOWS_NATIVE_EMULATOR="$emulator" "$@"
  quiet cmake --build "$dir" --parallel "$jobs"
  test -f "$dir/bin/tqBsePluginControlDll.dll"
}
build_tree "$root/build-win64" mingw-w64-x86_64.cmake "$root/build-win64-gtest"
# The i686 tree lists its tests when ctest runs rather than when it is
# built: so it builds whole (and the compiler sees every test's 32-bit
# sizes and formats) also where 32-bit Wine cannot run.
build_tree "$root/build-win32" mingw-w64-i686.cmake "$root/build-win32-gtest" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
