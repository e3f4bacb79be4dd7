#!/bin/sh
# Runs a Windows program under wine64: the cross-compiling emulator of the
# mingw-x64 build, so ctest and the tests' runners start .exe files through it.
#
# The wine prefix lives in a temporary folder (WINEPREFIX, when set, wins) and
# is created at the first run; creating it takes a few seconds, and a lock
# keeps tests that start at the same time from creating it twice.
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="${TMPDIR:-/tmp}/halvorn-wine-$(id -u)"
fi
export WINEPREFIX
export WINEDEBUG=-all
# No desktop integration, no mono or gecko installers at prefix creation.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe,mscoree,mshtml=}"

loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver)

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$loader" wineboot -i >/dev/null 2>&1
      "$server" -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# A wine server that stays up between programs keeps wine's own services
# running, so each program starts in a fraction of a second instead of
# several; it ends by itself a minute after the last program. When a server
# is already up for the prefix, this start gives up at once.
"$server" -p60 </dev/null >/dev/null 2>&1
exec "$loader" "$@"
