#!/bin/sh
# Runs a Windows program under wine with a prefix of its own (never ~/.wine):
#   tools/wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
# CMake uses it as the emulator of a Windows cross-build, so ctest and test discovery run the
# tests through it. The first start makes the prefix, which takes seconds; tests started side by
# side wait for that one start instead of racing to make the prefix twice. The wine server and
# wine's own background processes then stay up for a while, shared by the tests that follow, so
# each start stays cheap; they are started with no terminal or pipe of the caller's, since ctest
# waits for every holder of a test's output to exit.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
# No installer prompts for wine's .NET and HTML engines, which nothing here uses.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# WINE_RUN_LINGER=0 gives the program a server of its own that ends with it, for a program whose
# wine must not be shared (a window on a display that goes away with the program).
linger=${WINE_RUN_LINGER:-30}
mkdir -p "$prefix"
(
  flock 9
  fresh=false
  # Succeeds only when no server for this prefix ran yet.
  if [ "$linger" -gt 0 ] && wineserver -p"$linger" </dev/null >/dev/null 2>&1 9>&-; then
    fresh=true
  fi
  if [ ! -f "$prefix/.made" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
    touch "$prefix/.made"
  elif $fresh; then
    wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix/.lock"
if [ "$linger" -gt 0 ]; then
  exec wine "$@"
fi
status=0
wine "$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit $status
