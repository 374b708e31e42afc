#!/usr/bin/env bash
# The generated man pages and bash completion of a build:
#   docs_test.sh BUILD_DIR
# Each man page renders without a groff or man warning and has the sections
# a reader looks for, with the options of the program's --help; tqbse(1)
# has every usage line under SYNOPSIS, trace's options, the shell's commands,
# the library's environment variables and the history file. The completion
# offers every call name the tool lists, the options, file names after
# --file, nothing after a call name, and after trace its own options.
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
# man_section PAGE HEADING: the rendered lines from HEADING to the next heading.
man_section() {
  MANWIDTH=200 man -l "$docs/man/$1.1.gz" 2>/dev/null | awk -v h="$2" '/^[A-Z]/ { on = ($0 == h) } on'
}
synopsis=$(man_section tqbse SYNOPSIS)
while IFS= read -r usage; do
  usage=${usage#Usage: }
  usage=${usage#  or:  }
  grep -qF -- "$usage" <<<"$synopsis" || fail "tqbse(1) SYNOPSIS lacks '$usage'"
done < <("$tool" --help | sed -n '/^Usage:/,/^$/p' | sed '/^$/d')
[[ $(man_section tqbse DESCRIPTION | sed -n 2p) == *"CALL is an export's name"* ]] \
  || fail "tqbse(1) DESCRIPTION does not begin with the description"
options=$(man_section tqbse OPTIONS)
for part in "--summary" "--plot FILE.svg" "--name PATTERN" "Initialise A B C D" "quit"; do
  grep -qF -- "$part" <<<"$options" || fail "tqbse(1) lacks '$part'"
done
for variable in TQBSE_TRACE TQBSE_REPLY_TIMEOUT_MS TQBSE_DIAGNOSTICS TQBSE_INTERRUPT_FD; do
  grep -q "^ *$variable$" <<<"$(man_section tqbse ENVIRONMENT)" || fail "tqbse(1) ENVIRONMENT lacks $variable"
done
grep -q "tqbse/history" <<<"$(man_section tqbse FILES)" || fail "tqbse(1) FILES lacks the history"
grep -q "examples/example-config.json" <<<"$(man_section tqbse-emulator FILES)" \
  || fail "tqbse-emulator(1) does not name the installed example config"
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
[ "$(comm -13 <(echo "$calls") <(echo "$offered") | tr '\n' ' ')" = "describe events info list shell trace " ] \
  || fail "offered besides the calls: $(comm -13 <(echo "$calls") <(echo "$offered"))"
[ "$(complete_words --server 127.0.0.2 RX_CentreFrequency_G)" = RX_CentreFrequency_Get ] || fail "call after --server"
[ -z "$(complete_words RX_CentreFrequency_Get "")" ] || fail "something offered after a call name"
[ "$(complete_words describe RX_CentreFrequency_G)" = RX_CentreFrequency_Get ] || fail "describe's call"
[ -z "$(complete_words describe RX_CentreFrequency_Get "")" ] || fail "something offered after describe's call"
[ "$(complete_words --js)" = --json ] || fail "--js does not complete to --json"
[ "$(complete_words --ver)" = --version ] || fail "--ver does not complete to --version"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/scenario.xml"
[ "$(complete_words Scenario_Upload x --file "$scratch/sc")" = "$scratch/scenario.xml" ] || fail "--file PATH"
[ -z "$(complete_words --timeout "")" ] || fail "something offered for --timeout's value"
# trace: its own options, file names for FILE and for --plot's value.
[ "$(complete_words --s)" = --server ] || fail "--s does not complete to --server"
[ "$(complete_words trace "$scratch/sc" --s)" = --summary ] || fail "trace's --s does not complete to --summary"
[ "$(complete_words trace --e)" = --errors ] || fail "trace's --e does not complete to --errors"
[ "$(complete_words trace "$scratch/sc")" = "$scratch/scenario.xml" ] || fail "trace's FILE"
[ "$(complete_words trace x --plot "$scratch/sc")" = "$scratch/scenario.xml" ] || fail "trace's --plot FILE.svg"
[ -z "$(complete_words trace x --name "")" ] || fail "something offered for trace's --name value"
echo "man pages render; completion offers $(wc -l <<<"$calls") calls, options and files"
