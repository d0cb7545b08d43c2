#!/usr/bin/env bash
# Compares two builds of vornel on the same trees, run for run, in interleaved rounds so that
# other load on the machine falls on both alike: a full build of the client-like tree (default
# jobs) into an empty folder and over an earlier set, a --reuse build over an unchanged set, and
# the same for the small-file tree. Prints the best wall time of each and the ratio B / A. Used
# to show what a change costs in time.
#
# Usage: bench/ab.sh VORNEL_A VORNEL_B [SIZE_MB] [SMALL_FILES]
#   VORNEL_A, VORNEL_B  the two vornel programs (e.g. an earlier build's and this one's)
#   SIZE_MB             size of the client-like tree (default 60; 0 leaves it out)
#   SMALL_FILES         files of about 1 KB in the small-file tree (default 20001; 0 leaves it out)
# VORNEL_BENCH_ROUNDS (default 3) sets the rounds; needs python3 and the build folder's
# vornel_measure (./build, or $VORNEL_BUILD_DIR).
set -euo pipefail

program_a=$(realpath "$1")
program_b=$(realpath "$2")
size_mb=${3:-60}
small_files=${4:-20001}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
bench_programs vornel_measure
rounds=${VORNEL_BENCH_ROUNDS:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-ab.XXXXXX")
trap 'rm -rf "$work"' EXIT

# run NAME FOLDER PROGRAM ARGS...: the wall time of one run in FOLDER, kept if it is NAME's best.
run() {
  local name=$1 folder=$2
  shift 2
  mkdir -p "$folder"
  (cd "$folder" && "$bin/vornel_measure" "$work/last.m" "$@" >/dev/null 2>"$work/last.err") ||
    { cat "$work/last.err" >&2; exit 1; }
  local seconds
  seconds=$(cut -d ' ' -f1 "$work/last.m")
  if [ ! -f "$work/$name.best" ] || awk -v a="$seconds" -v b="$(cat "$work/$name.best")" \
    'BEGIN { exit !(a < b) }'; then
    echo "$seconds" >"$work/$name.best"
  fi
}

# compare LABEL WHERE CLEAN [OPTIONS...]: both programs build CLEAN, round by round, into a fresh
# folder (WHERE "fresh") or over a set each first makes there (WHERE "over").
compare() {
  local label=$1 where=$2 clean=$3
  shift 3
  echo "timing $label ($rounds rounds) ..." >&2
  local round side program
  for round in $(seq 1 "$rounds"); do
    for side in a b; do
      program=$program_a
      [ "$side" = b ] && program=$program_b
      local out=$work/out.$side.$round
      if [ "$where" = over ]; then
        (cd "$work" && mkdir -p "$out" && cd "$out" && "$program" build --quiet "$clean" >/dev/null)
      fi
      # A build that makes its set durable writes back whatever is dirty on the file system:
      # the other side's files, just written or removed, must not count against it.
      sync
      run "$label.$side" "$out" "$program" build --quiet "$@" "$clean"
      rm -rf "$out"
    done
  done
  local a b
  a=$(cat "$work/$label.a.best")
  b=$(cat "$work/$label.b.best")
  printf '%-28s A %8.2f s   B %8.2f s   B/A %.3f\n' "$label" "$a" "$b" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN { print b / a }')"
}

echo "machine: $(nproc) cores; load $(cut -d ' ' -f1-3 /proc/loadavg)"
if [ "$size_mb" -gt 0 ]; then
  prepare_client_tree "$work/client" "$size_mb"
  compare "client tree, full build" fresh "$work/client"
  compare "client tree, over a set" over "$work/client"
  compare "client tree, --reuse" over "$work/client" --reuse
fi
if [ "$small_files" -gt 0 ]; then
  echo "making $small_files small files ..." >&2
  make_small_tree "$work/small" "$small_files"
  compare "small files, full build" fresh "$work/small"
  compare "small files, --reuse" over "$work/small" --reuse
fi
echo "load at the end $(cut -d ' ' -f1-3 /proc/loadavg)"
