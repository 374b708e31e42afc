#!/usr/bin/env bash
# The generated man pages and bash completion of a build:
#   docs_test.sh BUILD_DIR
# Each man page renders without a groff or man warning and has the sections
# a reader looks for, with the options of the program's --help; the
# completion offers every call name the tool lists, the options, file names
# after --file, and nothing after a call name.
set -euo pipefail
build=$1
docs=$build/docs-generated
tool=$build/tools/tqbse
fail() { echo "FAIL: $*" >&2; exit 1; }

for page in tqbse tqbse-emulator; do
  text=$(MANWIDTH=100 man --warnings=all -l "$docs/man/$page.1.gz" 2>"$docs/$page.warnings") \
    || fail "$page(1) does not render"
  [ ! -s "$docs/$page.warnings" ] || fail "$page(1): $(cat "$docs/$page.warnings")"
  for heading in NAME SYNOPSIS DESCRIPTION "SEE ALSO" "-h, --help" --version; do
    grep -q -- "^ *$heading\b" <<<"$text" || fail "$page(1) has no '$heading'"
  done
done
grep -q -- "--server-version A.B.C.D" <<<"$(man -l "$docs/man/tqbse-emulator.1.gz" 2>/dev/null)" \
  || fail "tqbse-emulator(1) lacks --server-version"
grep -q -- "--max-request-memory BYTES" <<<"$(man -l "$docs/man/tqbse-emulator.1.gz" 2>/dev/null)" \
  || fail "tqbse-emulator(1) lacks --max-request-memory"

# complete WORD...: the candidates bash would offer for the last word.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tqbse; printf "%s\n" "${COMPREPLY[@]}"' \
    complete "$docs/completion/tqbse" tqbse "$@"
}
calls=$("$tool" list --json | sed -n 's/^{"call":"\([^"]*\)".*/\1/p' | sort)
exports=$(grep -c '^TQBSE_API ' "$(dirname "$0")/../../include/tqBsePluginControlDll.h")
[ "$(wc -l <<<"$calls")" -eq "$exports" ] || fail "tqbse list --json: $(wc -l <<<"$calls") calls"
offered=$(complete_words "" | sort)
[ "$(comm -23 <(echo "$calls") <(echo "$offered"))" = "" ] || fail "calls not offered: $(comm -23 <(echo "$calls") <(echo "$offered"))"
[ "$(comm -13 <(echo "$calls") <(echo "$offered") | tr '\n' ' ')" = "info list shell " ] \
  || fail "offered besides the calls: $(comm -13 <(echo "$calls") <(echo "$offered"))"
[ "$(complete_words --server 127.0.0.2 RX_CentreFrequency_G)" = RX_CentreFrequency_Get ] || fail "call after --server"
[ -z "$(complete_words RX_CentreFrequency_Get "")" ] || fail "something offered after a call name"
[ "$(complete_words --js)" = --json ] || fail "--js does not complete to --json"
[ "$(complete_words --ver)" = --version ] || fail "--ver does not complete to --version"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/scenario.xml"
[ "$(complete_words Scenario_Upload x --file "$scratch/sc")" = "$scratch/scenario.xml" ] || fail "--file PATH"
[ -z "$(complete_words --timeout "")" ] || fail "something offered for --timeout's value"
echo "man pages render; completion offers $(wc -l <<<"$calls") calls, options and files"
