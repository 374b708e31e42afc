#!/usr/bin/env bash
# Installs a build into two scratch places and checks each copy:
#   install_test.sh BUILD_DIR
#   usr/local  `cmake --install --prefix ROOT/usr/local`
#   staging    `DESTDIR=ROOT cmake --install --prefix /opt/tqbse`: the files
#              end up elsewhere than the prefix they were installed for
# In each: the tools run with no LD_LIBRARY_PATH and load the library of
# that copy (relative run path), man pages, completion, licence, the
# emulator's documentation and example config are in place, and a host program builds with pkg-config and with CMake.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL ($prefix): $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/local/usr/local" >/dev/null
DESTDIR=$scratch/staging cmake --install "$build" --prefix /opt/tqbse >/dev/null
for prefix in "$scratch/local/usr/local" "$scratch/staging/opt/tqbse"; do
  version=$(env -u LD_LIBRARY_PATH "$prefix/bin/tqbse" --version) || fail "tqbse --version"
  [[ $version == *"loaded from $prefix/lib/libtqBsePluginControlDll.so.6.0.0.0"* ]] || fail "tqbse: $version"
  [[ $("$prefix/bin/tqbse-emulator" --version) == "tqbse-emulator 6.0.0.0 ("* ]] || fail "tqbse-emulator --version"
  for file in share/man/man1/tqbse.1.gz share/man/man1/tqbse-emulator.1.gz \
              share/bash-completion/completions/tqbse share/doc/tqBsePluginControlDll/LICENSE \
              share/doc/tqBsePluginControlDll/EMULATOR.md share/doc/tqBsePluginControlDll/examples/example-config.json; do
    [ -s "$prefix/$file" ] || fail "missing $file"
  done
  "$here/check_host.sh" "$scratch/host-$(basename "$prefix")" "$prefix"
done
