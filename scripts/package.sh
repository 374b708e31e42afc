#!/usr/bin/env bash
# Writes what a user downloads into out/: scripts/package.sh [--linux]
#   libtqbseplugincontroldll6_<v>_amd64.deb      the shared library
#   libtqbseplugincontroldll-dev_<v>_amd64.deb   header, pkg-config, CMake package
#   tqbse-tools_<v>_amd64.deb                    tqbse, tqbse-emulator, man pages, completion
#   tqbse-<v>-py3-none-manylinux_2_X_x86_64.whl  the Python package with the Linux library
#   tqBsePluginControlDll-<v>-reference.zip      the HTML reference (as the -dev package has it)
#   tqBsePluginControlDll-<v>-windows.zip        the Windows DLLs: x64/ and x86/ each
#       with the DLL, import library, .def, tqbse.exe and the example program;
#       the header, the example's source, README and LICENSE once
#   tqbse-<v>-py3-none-win_amd64.whl             the Python package with the x86-64 DLL
#   tqbse-<v>-py3-none-win32.whl                 the Python package with the i686 DLL
#   Tqbse.<v>.nupkg                              the .NET package: runtimes/linux-x64/native/ the
#       shared object, runtimes/win-x64/ and win-x86/native/ the DLLs (without
#       --linux); skipped, saying so, where the .NET SDK is not installed
# --linux: the first five and the .NET package with the Linux library alone (no cross build). One line per stage with its
# time; a stage's output is shown only when it fails. Builds are kept and
# reused: build-package/ (native, for /usr, Debian's hardening flags),
# build-win64/ and build-win32/ (scripts/windows-build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
linux_only=false
[ "${1:-}" = "--linux" ] && linux_only=true
out=$root/out
build=$root/build-package
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# stage TEXT COMMAND...: runs one stage, printing TEXT and its time.
stage() {
  local text=$1 started=$SECONDS log=$scratch/stage.log
  shift
  printf '%-52s' "$text" >&2
  if ! "$@" >"$log" 2>&1; then
    echo " FAILED" >&2
    cat "$log" >&2
    exit 1
  fi
  printf '%4ds\n' $((SECONDS - started)) >&2
}

# What the packages need besides the build's own dependencies.
dependencies() {
  scripts/install-deps.sh
  scripts/install-deps.sh dpkg-dev fakeroot lintian help2man zip python3-venv python3-wheel
}

native_build() {
  # Debian's hardening (fortify, stack protector, relro, bind now, PIE).
  local cppflags
  cppflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  CFLAGS="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CFLAGS) $cppflags" \
  CXXFLAGS="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) $cppflags" \
  LDFLAGS=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS) \
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_PROJECT_INCLUDE="$root/cmake/packaging.cmake" \
      -DTQBSE_BUILD_TESTS=OFF -DTQBSE_BUILD_BENCH=OFF
  cmake --build "$build" --parallel "$(nproc)"
}

debian_packages() {
  rm -rf "$build/cpack"
  (cd "$build" && cpack -B "$build/cpack")
  rm -f "$out"/*.deb
  local deb dir
  for deb in "$build"/cpack/*.deb; do
    # A library package runs ldconfig through its trigger alone: the
    # ldconfig calls CPack writes into postinst and postrm go.
    dir=$scratch/$(basename "$deb" .deb)
    dpkg-deb -R "$deb" "$dir"
    rm -f "$dir/DEBIAN/postinst" "$dir/DEBIAN/postrm"
    dpkg-deb --root-owner-group -Zxz -b "$dir" "$out/$(basename "$deb")"
  done
}

# Errors, warnings and pedantic remarks fail (none is accepted).
lintian_clean() {
  lintian --pedantic --fail-on error,warning,pedantic "$out"/*.deb
}

# wheel PLATFORM LIBRARY: the Python package with LIBRARY bundled, into out/
# (a Linux one is tagged manylinux_2_X_<machine> after the library's needs).
wheel() {
  local venv=$build/wheel-venv pattern=$1
  [[ $1 == linux_* ]] && pattern="*linux*${1#linux}"
  [ -x "$venv/bin/pip" ] || /usr/bin/python3 -m venv --system-site-packages "$venv"
  rm -f "$out"/tqbse-*-py3-none-$pattern.whl
  TQBSE_TOOL=$build/tools/tqbse TQBSE_HEADER=$root/include/tqBsePluginControlDll.h TQBSE_BUNDLE_LIBRARY=$2 \
    "$venv/bin/pip" wheel --no-deps --no-index --no-build-isolation -w "$out" "$root/python"
  /usr/bin/python3 scripts/check-wheel.py "$out"/tqbse-*-py3-none-$pattern.whl "$1" "$2"
}

reference_zip() {
  local name=tqBsePluginControlDll-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")-reference
  rm -rf "${scratch:?}/$name" "$out/$name.zip"
  cp -r "$build/reference" "$scratch/$name"
  (cd "$scratch" && zip -qr "$out/$name.zip" "$name")
}

windows_build() {
  TQBSE_NATIVE_EMULATOR=${TQBSE_NATIVE_EMULATOR:-$build/emulator/tqbse-emulator} bash scripts/windows-build.sh
}

windows_zip() {
  local version name dir arch tree triplet
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win64/CMakeCache.txt)
  name=tqBsePluginControlDll-$version-windows
  dir=$scratch/$name
  rm -f "$out"/tqBsePluginControlDll-*-win64.zip "$out"/tqBsePluginControlDll-*-windows.zip
  mkdir -p "$dir/include" "$dir/examples"
  for arch in x64 x86; do
    case $arch in
      x64) tree=build-win64 triplet=x86_64-w64-mingw32 ;;
      x86) tree=build-win32 triplet=i686-w64-mingw32 ;;
    esac
    mkdir -p "$dir/$arch"
    cp "$tree"/bin/tqBsePluginControlDll.dll "$tree"/bin/tqbse.exe "$tree"/bin/tqbse_example.exe "$dir/$arch/"
    "$triplet-strip" --strip-debug "$dir/$arch"/*.dll "$dir/$arch"/*.exe
    cp "$tree"/lib/tqBsePluginControlDll.lib "$tree"/tqBsePluginControlDll.def "$dir/$arch/"
  done
  cp include/tqBsePluginControlDll.h "$dir/include/"
  cp examples/host_example.c "$dir/examples/"
  cp windows/README.md "$dir/README.md"
  cp LICENSE "$dir/LICENSE"
  (cd "$scratch" && zip -qr "$out/$name.zip" "$name")
}

# nuget [DLL64 DLL32]: the .NET package with build-package's shared object and the given DLLs, into out/.
nuget() {
  local props=(-c Release -p:TqbseTool="$build/tools/tqbse"
               -p:TqbseLinuxLibrary="$build/libtqBsePluginControlDll.so")
  [ $# -eq 2 ] && props+=(-p:TqbseWin64Library="$1" -p:TqbseWin32Library="$2")
  rm -f "$out"/Tqbse.*.nupkg
  export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1
  source "$root/scripts/dotnet-restore.sh"
  dotnet_restore "$root/dotnet/Tqbse.csproj"
  dotnet pack "$root/dotnet/Tqbse.csproj" --no-restore "${props[@]}" "${dotnet_props[@]}" -o "$out"
}

stage "dependencies" dependencies
stage "building build-package (Release, for /usr)" native_build
stage "Debian packages (cpack)" debian_packages
stage "lintian" lintian_clean
stage "reference zip" reference_zip
stage "Linux wheel" wheel linux_x86_64 "$(realpath "$build/libtqBsePluginControlDll.so")"
if ! $linux_only; then
  stage "building build-win64 and build-win32 (MinGW-w64)" windows_build
  stage "Windows zip" windows_zip
  stage "Windows wheel (x86-64)" wheel win_amd64 "$root/build-win64/bin/tqBsePluginControlDll.dll"
  stage "Windows wheel (i686)" wheel win32 "$root/build-win32/bin/tqBsePluginControlDll.dll"
fi
if ! command -v dotnet >/dev/null 2>&1; then
  echo ".NET package skipped: the .NET SDK (dotnet) is not installed" >&2
elif $linux_only; then
  stage ".NET package (Linux library)" nuget
else
  stage ".NET package (Linux library and both DLLs)" nuget \
    "$root/build-win64/bin/tqBsePluginControlDll.dll" "$root/build-win32/bin/tqBsePluginControlDll.dll"
fi
for file in "$out"/*.deb "$out"/*.whl "$out"/*.zip "$out"/*.nupkg; do
  [ -e "$file" ] && echo "wrote ${file#"$root"/}"
done
true
