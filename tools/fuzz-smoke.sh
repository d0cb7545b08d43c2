#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time on a copy of its committed corpus.
#
# Usage: tools/fuzz-smoke.sh FUZZ_BUILD_DIR [SECONDS] [PARALLEL]
#
# FUZZ_BUILD_DIR holds bin/fuzz_<target> (a clang build with -DVORNEL_FUZZ=ON). Each target runs
# SECONDS (default 60) on a scratch copy of fuzz/corpus/<target>, so the committed corpus never
# changes; PARALLEL targets (default 2) run at once. A crash, a timeout, a leak or a sanitizer
# report fails the run: the input that caused it is kept under the scratch folder and its path
# printed, to be committed to the corpus as a regression input. Prints, per target, the units
# executed and the outcome; exit status 0 when every target ran clean.
set -uo pipefail

build=${1:?usage: fuzz-smoke.sh FUZZ_BUILD_DIR [SECONDS] [PARALLEL]}
seconds=${2:-60}
parallel=${3:-2}
repo=$(cd "$(dirname "$0")/.." && pwd)
targets=(open ini verify roundtrip)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vornel-fuzz-smoke-XXXXXX")

max_len() {
  case $1 in
  verify) echo 8192 ;;
  *) echo 4096 ;;
  esac
}

run_target() {
  local target=$1
  local dir=$scratch/$target
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
  cp "$repo/fuzz/corpus/$target/"* "$dir/corpus/"
  # The targets' own scratch files go to a folder of their own.
  TMPDIR=$dir/tmp timeout -k 30 $((seconds + 300)) "$build/bin/fuzz_$target" \
    -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/log" 2>&1
  echo $? >"$dir/status"
}

for target in "${targets[@]}"; do
  if [ ! -x "$build/bin/fuzz_$target" ]; then
    echo "fuzz_$target is missing in $build/bin" >&2
    exit 1
  fi
done

running=0
for target in "${targets[@]}"; do
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for target in "${targets[@]}"; do
  dir=$scratch/$target
  status=$(cat "$dir/status")
  units=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$')
  if [ "$status" = 0 ] && [ -z "$(ls -A "$dir/artifacts")" ]; then
    echo "fuzz_$target: ${units:-?} inputs in ${seconds}s, no finding"
  else
    failed=$((failed + 1))
    echo "fuzz_$target: FAILED (exit $status) after ${units:-?} inputs"
    tail -n 40 "$dir/log"
    for artifact in "$dir/artifacts/"*; do
      [ -e "$artifact" ] && echo "  finding kept: $artifact"
    done
  fi
done

if [ "$failed" = 0 ]; then
  rm -rf "$scratch"
else
  echo "fuzz logs and findings: $scratch"
fi
exit "$failed"
