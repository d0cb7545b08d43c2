#!/bin/sh
# Runs a Windows program under wine with a prefix of its own (never ~/.wine):
#   tools/wine-run.sh [--report-exit] PREFIX PROGRAM.exe [ARGUMENTS...]
# CMake uses it as the emulator of a Windows cross-build, so ctest and test discovery run the
# tests through it. The first start makes the prefix, which takes seconds; tests started side by
# side wait for that one start instead of racing to make the prefix twice. The wine server and
# wine's own background processes then stay up for a while, shared by the tests that follow, so
# each start stays cheap; they are started with no terminal or pipe of the caller's, since ctest
# waits for every holder of a test's output to exit.
set -eu
# --report-exit (for test programs): say on standard error when the program ends with another
# exit code than 0. A test's own failure says why; a program that wine could not start or that
# died says nothing, and would leave a failed test without a word.
report=false
if [ "$1" = --report-exit ]; then
  report=true
  shift
fi
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
  # A failed wineboot is said, not silently the test's failure: the program may still run.
  if [ ! -f "$prefix/.made" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&- || echo "wine-run.sh: wineboot -i failed ($?)" >&2
    touch "$prefix/.made"
  elif $fresh; then
    wineboot </dev/null >/dev/null 2>&1 9>&- || echo "wine-run.sh: wineboot failed ($?)" >&2
  fi
) 9>"$prefix/.lock"
# The tests' peers (python3, zip, unzip) are Linux programs, which a Windows program under wine
# cannot wait for: tools/peer-bridge.py runs them on the tests' behalf (VORNEL_PEER_BRIDGE is
# its folder as Windows sees it, VORNEL_PEER_PATH where it finds programs).
bridge=
if command -v python3 >/dev/null 2>&1; then
  bridge_folder=$(mktemp -d "${TMPDIR:-/tmp}/vornel-peers.XXXXXX")
  python3 "$(dirname "$0")/peer-bridge.py" "$bridge_folder" "$prefix" </dev/null >/dev/null 2>&1 &
  bridge=$!
  export VORNEL_PEER_BRIDGE="Z:$bridge_folder" VORNEL_PEER_PATH="$PATH"
fi
status=0
if $report; then
  # Now and then wine fails to start a program: it ends at once with code 1, having written
  # nothing, not even the test framework's first line (seen in full test runs, 0.13 s where a
  # start takes half a second). A test program writes before anything else can fail, so such a
  # run is started again, and said so; a program that wrote anything keeps its result.
  out=$(mktemp "${TMPDIR:-/tmp}/vornel-wine-out.XXXXXX")
  for attempt in 1 2 3; do
    status=0
    wine "$@" >"$out" || status=$?
    if [ "$status" -eq 0 ] || [ -s "$out" ] || [ "$attempt" -eq 3 ]; then
      break
    fi
    echo "wine-run.sh: $(basename "$1") ended with exit code $status before writing anything; started again" >&2
  done
  cat "$out"
  rm -f "$out"
  if [ "$status" -ne 0 ]; then
    echo "wine-run.sh: $(basename "$1") ended with exit code $status" >&2
  fi
else
  wine "$@" || status=$?
fi
if [ -n "$bridge" ]; then
  kill "$bridge" 2>/dev/null || true
  rm -rf "$bridge_folder"
fi
if [ "$linger" -eq 0 ]; then
  wineserver -k >/dev/null 2>&1 || true
fi
exit $status
