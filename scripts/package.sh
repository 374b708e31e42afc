#!/usr/bin/env bash
# Writes the packages a user downloads into out/ (scripts/package.sh):
#   out/tqBsePluginControlDll-<version>-win64.zip  the Windows DLL, its import
#       library and .def, the header, tqbse.exe, the example and a README
#   out/tqbse-plugin-control_<version>_amd64.deb  the Linux library, header,
#       CMake and pkg-config files, tqbse and the emulator (CPack)
# Builds what it needs: build-package/ (native, installed under /usr) and
# build-win64/ (scripts/windows-build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mkdir -p out

scripts/install-deps.sh
echo "building build-package"
cmake -S "$root" -B "$root/build-package" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_PROJECT_INCLUDE="$root/cmake/packaging.cmake" \
  -DTQBSE_BUILD_TESTS=OFF -DTQBSE_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-package" --parallel "$(nproc)" >/dev/null
(cd "$root/build-package" && cpack -B "$root/build-package/cpack" >/dev/null)
deb=$(ls "$root"/build-package/cpack/*.deb)
cp "$deb" out/
echo "wrote out/$(basename "$deb")"

TQBSE_NATIVE_EMULATOR=${TQBSE_NATIVE_EMULATOR:-$root/build-package/emulator/tqbse-emulator} \
  bash scripts/windows-build.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win64/CMakeCache.txt)
name=tqBsePluginControlDll-$version-win64
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
dir=$staging/$name
mkdir -p "$dir/bin" "$dir/lib" "$dir/include" "$dir/examples"
cp build-win64/bin/tqBsePluginControlDll.dll build-win64/bin/tqbse.exe build-win64/bin/tqbse_example.exe "$dir/bin/"
x86_64-w64-mingw32-strip --strip-debug "$dir"/bin/*
cp build-win64/lib/tqBsePluginControlDll.lib build-win64/tqBsePluginControlDll.def "$dir/lib/"
cp include/tqBsePluginControlDll.h "$dir/include/"
cp examples/host_example.c "$dir/examples/"
cp windows/README.md "$dir/README.md"
rm -f "out/$name.zip"
(cd "$staging" && zip -qr "$root/out/$name.zip" "$name")
echo "wrote out/$name.zip"
