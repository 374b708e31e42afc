# Sourced by the Windows scripts: a Wine prefix of their own for one run.
# wine_start starts one persistent wineserver (wineserver -p), makes the
# prefix with it (wineboot -i, about 10 s), which leaves Wine's services
# running, and runs one program to settle them: each Windows program then
# starts in about 0.1 s instead of 2.7 s and the first one does not hang.
# wine_stop ends that wineserver with its processes and removes the prefix.
# Nothing is done when WINEPREFIX is already set by the caller.
wine_owned=
wine_start() {
  export WINEDEBUG=-all
  if [ -n "${WINEPREFIX:-}" ]; then
    return
  fi
  WINEPREFIX=$(mktemp -d /tmp/tqbse-wine.XXXXXX)
  # A 64-bit prefix runs both x86-64 and (with wine32 installed) i686 programs.
  WINEARCH=win64
  export WINEPREFIX WINEARCH
  wine_owned=1
  wineserver -p
  wineboot -i >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1 || true
}
wine_stop() {
  if [ -n "$wine_owned" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    unset WINEPREFIX
    wine_owned=
  fi
}
