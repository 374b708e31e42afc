#!/usr/bin/env bash
# Builds and runs the host program (host/) against an installed copy of the
# library, once through pkg-config and once through the CMake package:
#   check_host.sh WORKDIR PREFIX [SYSROOT]
# PREFIX is where the copy is on this machine (inside SYSROOT when given:
# a package unpacked into a scratch root, with PKG_CONFIG_SYSROOT_DIR set as
# a cross build would). Only that copy is visible to pkg-config and CMake;
# the flags must name its directories.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 prefix=$2 sysroot=${3:-}
mkdir -p "$work"
fail() { echo "FAIL ($prefix): $*" >&2; exit 1; }

pc=$(find "$prefix" -name tqBsePluginControlDll.pc -path '*/pkgconfig/*' | head -1)
[ -n "$pc" ] || fail "no pkg-config file"
lib=$(find "$prefix" -name libtqBsePluginControlDll.so | head -1)
[ -n "$lib" ] || fail "no libtqBsePluginControlDll.so link"
libdir=$(dirname "$lib")
export PKG_CONFIG_LIBDIR=$(dirname "$pc") PKG_CONFIG_PATH=
[ -z "$sysroot" ] || export PKG_CONFIG_SYSROOT_DIR=$sysroot
flags=$(pkg-config --cflags --libs tqBsePluginControlDll)
[ "$(pkg-config --modversion tqBsePluginControlDll)" = 6.0.0.0 ] || fail "pkg-config version"
# Every -I and -L names a directory of this copy (after resolving ../).
for flag in $flags; do
  case $flag in
    -I*) [ "$(realpath -m "${flag#-I}")" = "$(realpath "$prefix/include")" ] || fail "cflags: $flag" ;;
    -L*) [ "$(realpath -m "${flag#-L}")" = "$(realpath "$libdir")" ] || fail "libs: $flag" ;;
  esac
done
grep -q -- "-I" <<<"$flags" && grep -q -- "-L" <<<"$flags" || fail "flags without -I or -L: $flags"
# shellcheck disable=SC2086
cc "$here/host/host.c" $flags -o "$work/host-pkgconfig" || fail "pkg-config host does not build"
LD_LIBRARY_PATH=$libdir "$work/host-pkgconfig" >"$work/pkgconfig.out" || fail "pkg-config host: $(cat "$work/pkgconfig.out")"

cmake -S "$here/host" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 \
  || { cat "$work/cmake.log"; fail "CMake host: configure"; }
found=$(sed -n 's/^tqBsePluginControlDll_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
[ "$(realpath "$found")" = "$(realpath "$libdir/cmake/tqBsePluginControlDll")" ] || fail "CMake found $found"
cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "CMake host: build"; }
# CMake gives the program the run path of the library it linked.
"$work/cmake/host" >"$work/cmake.out" || fail "CMake host: $(cat "$work/cmake.out")"
echo "host builds and runs against $prefix (pkg-config and CMake)"
