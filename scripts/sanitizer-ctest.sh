# Sourced by the sanitizer stages: run_sanitized_ctest NAME BUILD_DIR REPORTS_DIR [ctest args...]
# Runs ctest in BUILD_DIR and fails on a failing test or on any report file
# that a sanitized process (the tests or a program they start) wrote into
# REPORTS_DIR; the callers point the sanitizers' log_path there.
run_sanitized_ctest() {
  local name=$1 build=$2 reports=$3
  shift 3
  local status=0
  (cd "$build" && ctest --output-on-failure "$@") || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "$name: sanitizer reports:" >&2
    local f
    for f in "$reports"/*; do
      echo "---- $f" >&2
      head -80 "$f" >&2
    done
    status=1
  fi
  if ((status != 0)); then
    echo "$name: FAILED" >&2
    exit "$status"
  fi
}
