#!/usr/bin/env bash
# Compares the compressors a build can use on the same client-like tree as bench/compare.sh:
# compressed bytes, time and peak memory of one build with each, every output checked with
# vornel verify.
#
# Usage: bench/compressors.sh [SIZE_MB] [BIG_FILE_MB]
#   SIZE_MB      size of the tree (default 10; zopfli takes many seconds per megabyte)
#   BIG_FILE_MB  when given, also builds a tree holding one file of this size with --jobs 1 and
#                each compressor but zopfli, and reports the peak memory of each
# VORNEL_BENCH_ZOPFLI (default 15) sets zopfli's iterations. Needs the build folder of README's
# commands (./build, or $VORNEL_BUILD_DIR), built with libdeflate and zopfli, and python3.
set -euo pipefail

size_mb=${1:-10}
big_mb=${2:-0}
zopfli=${VORNEL_BENCH_ZOPFLI:-15}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
bench_programs vornel vornel_measure
built_in=$("$bin/vornel" build --help | grep -o 'built in here: [a-z, ]*')
for name in libdeflate zopfli; do
  case $built_in in
  *"$name"*) ;;
  *) echo "$name is not built into $bin/vornel: install libdeflate-dev libzopfli-dev and build again" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-compressors.XXXXXX")
trap 'rm -rf "$work"' EXIT
clean=$work/clean
prepare_client_tree "$clean" "$size_mb"
find "$clean" -type f -exec cat {} + >/dev/null

# build NAME TREE ARGUMENTS...: one build in $work/NAME; time and memory in $work/NAME.m, the
# bytes of every archive in $work/NAME.bytes; the output must pass vornel verify.
build() {
  local name=$1 tree=$2
  shift 2
  mkdir -p "$work/$name"
  (cd "$work/$name" && "$bin/vornel_measure" "$work/$name.m" "$bin/vornel" build --quiet "$@" "$tree" \
    >/dev/null 2>"$work/$name.err") || { echo "$name failed:" >&2; cat "$work/$name.err" >&2; exit 1; }
  "$bin/vornel" verify --quiet "$work/$name/Upload" >"$work/$name.verify" ||
    { echo "$name: verify found problems:" >&2; cat "$work/$name.verify" >&2; exit 1; }
  find "$work/$name/Upload" -name '*.zip' -printf '%s\n' | awk '{ s += $1 } END { print s }' >"$work/$name.bytes"
  rm -rf "$work/$name"
}
field() { cut -d ' ' -f"$2" "$work/$1.m"; }

runs=("zlib9:zlib 9:--compressor zlib --level 9"
  "libdeflate9:libdeflate 9:--compressor libdeflate --level 9"
  "libdeflate12:libdeflate 12:--compressor libdeflate --level 12"
  "zopfli:zopfli $zopfli iterations:--compressor zopfli --level $zopfli")
for run in "${runs[@]}"; do
  IFS=: read -r name label options <<<"$run"
  echo "building with $label ..." >&2
  # shellcheck disable=SC2086 # the options are words
  build "$name" "$clean" $options
done

echo
echo "tree: $files files, $((tree_bytes / 1024 / 1024)) MiB ($tree_bytes bytes); $(nproc) cores, default jobs"
printf '%-22s %12s %8s %9s %9s %9s %9s\n' compressor 'zip bytes' 'vs zlib' seconds 'CPU s' 'CPU x' 'peak MiB'
base_bytes=$(cat "$work/zlib9.bytes")
base_cpu=$(field zlib9 4)
for run in "${runs[@]}"; do
  IFS=: read -r name label _ <<<"$run"
  awk -v label="$label" -v bytes="$(cat "$work/$name.bytes")" -v base="$base_bytes" \
    -v wall="$(field "$name" 1)" -v cpu="$(field "$name" 4)" -v base_cpu="$base_cpu" \
    -v peak="$(field "$name" 2)" 'BEGIN {
      printf "%-22s %12d %+7.2f%% %9.2f %9.2f %9.2f %9.1f\n", label, bytes,
        (bytes - base) * 100 / base, wall, cpu, cpu / base_cpu, peak / 1024 }'
done
echo "every output passed vornel verify"

if [ "$big_mb" -gt 0 ]; then
  echo >&2
  echo "building a tree with one ${big_mb} MB file ..." >&2
  big=$work/big
  make_big_tree "$big" "$big_mb"
  echo
  echo "one ${big_mb} MiB file, --jobs 1:"
  for run in "${runs[@]:0:3}"; do
    IFS=: read -r name label options <<<"$run"
    # shellcheck disable=SC2086
    build "big-$name" "$big" --jobs 1 $options
    printf '  %-16s %8.2f s, peak memory %7.1f MiB\n' "$label" "$(field "big-$name" 1)" \
      "$(awk '{ print $2 / 1024 }' "$work/big-$name.m")"
  done
fi
