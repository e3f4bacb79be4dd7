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

# The prefix, and a wine server that stays up between programs, are set up
# under a lock, so that programs starting at the same time wait for them.
#
# A server that stays up keeps wine's own services (services.exe and the
# device and plug-and-play hosts) running, so each program starts in a
# fraction of a second instead of several; it ends by itself a minute after
# the last program. The services are started by the first wine process after
# the server; they must not be the tested program's, or they would inherit its
# standard streams and keep the test's pipes open until they end, so a quiet
# wineboot starts them first.
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$loader" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    "$server" -w 9>&-
  fi
  # Exit code 0: this call started the server (2: one was running already).
  if "$server" -p60 </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock"
exec "$loader" "$@"
