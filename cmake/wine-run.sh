#!/usr/bin/env bash
# Runs a Windows program of this build under Wine in the build's own prefix.
# The prefix is created on first use (serialised, since parallel first use races).
set -euo pipefail
# Debian's wine64 package (without the recommended wine package) has neither
# /usr/bin/wine nor /usr/bin/wineserver: use the library paths.
WINE64=${WINE64:-/usr/lib/wine/wine64}
[ -x "$WINE64" ] || WINE64=$(command -v wine64)
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=${QV_WINEPREFIX:-${TMPDIR:-/tmp}/quorvane-wineprefix-$(id -u)}
fi
if [ ! -f "$WINEPREFIX/.ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER" -w
    touch "$WINEPREFIX/.ready"
  fi
  exec 9>&-
fi
exec "$WINE64" "$@"
