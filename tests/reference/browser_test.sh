#!/usr/bin/env bash
# The built reference in headless Chromium: the search page, as the search
# box on every page opens it, finds an export by words of its summary and by
# its name, and finds a result code; a screenshot of a family page is kept
# for a look. Usage: browser_test.sh OUT SCREENSHOT.png
set -euo pipefail
out=$(cd "$1" && pwd)
shot=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
browser() {
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile" "$@" 2>/dev/null
}
# search QUERY: the search page's DOM after its script ran.
search() { browser --virtual-time-budget=5000 --dump-dom "file://$out/search.html?q=$1"; }

dom=$(search 'centre%20frequency')
[[ $dom == *'<p id="summary">4 found for'* ]] || fail "'centre frequency' does not find the four centre-frequency exports"
[[ $dom == *'href="family-rf-settings.html#RX_CentreFrequency_Set"'* ]] || fail "RX_CentreFrequency_Set not found"
dom=$(search 'scenario_upload')
[[ $dom == *'href="family-scenarios.html#Scenario_Upload">Scenario_Upload</a>'* ]] \
  || fail "the export's name in another letter case does not find it"
dom=$(search 'TQBSE_NO_RESPONSE')
[[ $dom == *'href="code-m14.html"'* ]] || fail "a result code's constant does not find its page"
dom=$(search 'no-such-thing-at-all')
[[ $dom == *'<p id="summary">0 found for'* ]] || fail "a search for nothing finds something"

browser --screenshot="$shot" --window-size=1280,900 "file://$out/family-rf-settings.html"
[ -s "$shot" ] || fail "no screenshot"
echo "browser test passed"
