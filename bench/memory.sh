#!/usr/bin/env bash
# Peak memory of a build against the number of files it packs. For each count, makes a tree of
# that many small files (bench/common.sh), builds it into an empty folder, builds it again over
# that Upload/ (stale check and record of a full Upload/), then once more with --reuse; prints
# each peak and the bytes per file between the first and the last count.
#
# Usage: bench/memory.sh [FILES...]   (default: 20001 200001)
# Needs the build folder of README's commands (./build, or $VORNEL_BUILD_DIR) and python3. Each
# tree and its output are deleted before the next tree is made.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
bench_programs vornel vornel_measure

counts=("$@")
if [ ${#counts[@]} -eq 0 ]; then counts=(20001 200001); fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

declare -A peak
runs=(build rebuild reuse)
printf '%-10s %10s %12s %12s   (peak MiB)\n' files build rebuild --reuse
for count in "${counts[@]}"; do
  echo "making a tree of $count small files ..." >&2
  make_small_tree "$work/clean" "$count"
  mkdir -p "$work/out"
  for run in "${runs[@]}"; do
    options=(--quiet)
    if [ "$run" = reuse ]; then options+=(--reuse); fi
    if ! (cd "$work/out" && "$bin/vornel_measure" "$work/$run.m" "$bin/vornel" build "${options[@]}" \
      "$work/clean" >/dev/null 2>"$work/$run.err"); then
      cat "$work/$run.err" >&2
      exit 1
    fi
    peak[$count.$run]=$(cut -d ' ' -f2 "$work/$run.m")
  done
  printf '%-10s %10.1f %12.1f %12.1f\n' "$count" "$(awk -v k="${peak[$count.build]}" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="${peak[$count.rebuild]}" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="${peak[$count.reuse]}" 'BEGIN { print k / 1024 }')"
  rm -rf "$work/clean" "$work/out"
done

first=${counts[0]}
last=${counts[${#counts[@]} - 1]}
if [ "$last" -gt "$first" ]; then
  echo "bytes per file, (peak($last) - peak($first)) / $((last - first))  [goal < 200]:"
  for run in "${runs[@]}"; do
    awk -v a="${peak[$first.$run]}" -v b="${peak[$last.$run]}" -v n="$((last - first))" -v r="$run" \
      'BEGIN { printf "  %-8s %6.0f\n", r, (b - a) * 1024 / n }'
  done
fi
echo "peak of the largest build against 16 MiB + 200 bytes per file: $(awk -v k="${peak[$last.build]}" \
  -v n="$last" 'BEGIN { printf "%.1f MiB of %.1f", k / 1024, 16 + 200 * n / 1048576 }')"
