#!/usr/bin/env bash
# Test stage: the Debian packages and the Linux wheel as scripts/package.sh
# --linux makes them (lintian-clean, the wheel checked), then each package
# unpacked into a scratch root, never the real /usr:
#   - dependencies: the library needs the C/C++ runtimes only, the
#     development package the exact library, the tools Qt and readline
#   - library + development package: a host program builds against the
#     root's /usr with pkg-config (PKG_CONFIG_SYSROOT_DIR) and with CMake
#   - library + tools: both programs run and show the version, their man
#     pages render, the completion is in bash-completion's directory, the
#     emulator's documentation and example config are where its page says
#   - every package has its copyright file; the development package has
#     README, docs/ and the HTML reference
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/package.sh --linux
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-package/CMakeCache.txt)
runtime=out/libtqbseplugincontroldll6_${version}_amd64.deb
dev=out/libtqbseplugincontroldll-dev_${version}_amd64.deb
tools=out/tqbse-tools_${version}_amd64.deb

depends() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort | tr '\n' ' '; }
[ "$(depends "$runtime")" = "libc6 libgcc-s1 libstdc++6 " ] || fail "library depends on $(depends "$runtime")"
[ "$(dpkg-deb -f "$dev" Depends)" = "libtqbseplugincontroldll6 (= $version)" ] || fail "dev depends on $(dpkg-deb -f "$dev" Depends)"
for needed in libtqbseplugincontroldll6 libqt6core6 libreadline8; do
  [[ " $(depends "$tools")" == *" $needed "* ]] || fail "tqbse-tools does not depend on $needed"
done
for deb in "$runtime" "$dev" "$tools"; do
  package=$(dpkg-deb -f "$deb" Package)
  # The listing is read whole first: grep -q leaving early would end
  # dpkg-deb with a broken pipe, which pipefail reports as a failure.
  contents=$(dpkg-deb -c "$deb")
  grep -q " ./usr/share/doc/$package/copyright$" <<<"$contents" || fail "$package has no copyright file"
  [[ $(dpkg-deb -f "$deb" Maintainer) == *"<"*@*">" ]] || fail "$package: maintainer without an address"
done

host=$scratch/host-root
dpkg -x "$runtime" "$host" && dpkg -x "$dev" "$host"
# The development package carries the documentation and the HTML reference.
docdir=$host/usr/share/doc/libtqbseplugincontroldll-dev
for doc in README.md docs/CLI.md reference/index.html reference/family-rf-settings.html reference/code-m14.html; do
  [ -s "$docdir/$doc" ] || fail "the development package lacks $doc"
done
bash tests/packaging/check_host.sh "$scratch/host" "$host/usr" "$host"

run=$scratch/tools-root
dpkg -x "$runtime" "$run" && dpkg -x "$tools" "$run"
libdir=$run/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
[[ $(LD_LIBRARY_PATH=$libdir "$run/usr/bin/tqbse" --version) == *"loaded from $libdir/libtqBsePluginControlDll.so.$version" ]] \
  || fail "the packaged tqbse does not load the packaged library"
[[ $("$run/usr/bin/tqbse-emulator" --version) == "tqbse-emulator $version ("* ]] || fail "tqbse-emulator --version"
for page in tqbse tqbse-emulator; do
  warnings=$(MANWIDTH=80 man --warnings=all -l "$run/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1): $warnings"
done
[ -s "$run/usr/share/bash-completion/completions/tqbse" ] || fail "no completion"
# The emulator's man page names its documentation and example config where the package puts them.
emulator_page=$(MANWIDTH=200 man -l "$run/usr/share/man/man1/tqbse-emulator.1.gz" 2>/dev/null)
for file in EMULATOR.md examples/example-config.json; do
  [ -s "$run/usr/share/doc/tqbse-tools/$file" ] || fail "tqbse-tools has no /usr/share/doc/tqbse-tools/$file"
  grep -qF "/usr/share/doc/tqbse-tools/$file" <<<"$emulator_page" || fail "tqbse-emulator(1) does not name /usr/share/doc/tqbse-tools/$file"
done
echo "packaging stage passed"
