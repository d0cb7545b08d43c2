#!/usr/bin/env bash
# Times a build against what it must beat, on a client-like tree made from this machine's own
# files, and prints the ratios and the peak memory of each run.
#
# Usage: bench/compare.sh [SIZE_MB] [BIG_FILE_MB]
#   SIZE_MB      size of the tree (default 60): shared libraries, executables, icons, locale and
#                documentation files, and four packs made by concatenating real binaries; no
#                file is more than a twentieth of the tree.
#   BIG_FILE_MB  when given, also builds a tree holding one file of this size (e.g. 1024) and
#                reports the build's peak memory.
# VORNEL_BENCH_ROUNDS (default 3) sets how often each run is repeated; the best time counts.
# Needs the build folder of README's commands (./build, or $VORNEL_BUILD_DIR) and zip, gzip and
# python3. With VORNEL_BENCH_KEEP set, the tree and every output stay in the temporary folder.
set -euo pipefail

size_mb=${1:-60}
big_mb=${2:-0}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${VORNEL_BUILD_DIR:-$here/../build}
# The runs below change folder, so a relative build folder is made absolute first.
if [ -d "$build_dir" ]; then build_dir=$(cd "$build_dir" && pwd); fi
bin=$build_dir/bin
for tool in vornel vornel_deflate_all vornel_measure vornel_bench; do
  if [ ! -x "$bin/$tool" ]; then
    echo "$bin/$tool is missing: build first (see README.md)" >&2
    exit 2
  fi
done
for tool in zip gzip od python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-bench.XXXXXX")
if [ -n "${VORNEL_BENCH_KEEP:-}" ]; then
  echo "keeping $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi
clean=$work/clean
mkdir -p "$clean"

# shellcheck source=client-tree.sh
. "$here/client-tree.sh"

echo "making a ${size_mb} MB client tree in $work ..." >&2
make_client_tree "$clean" "$size_mb"
files=$(find "$clean" -type f | wc -l)
tree_bytes=$(du -sb "$clean" | cut -f1)
largest=$(find "$clean" -type f -printf '%s\n' | sort -n | tail -n 1)

# The page cache holds the tree for every run alike.
find "$clean" -type f -exec cat {} + >/dev/null

# measure NAME FOLDER COMMAND...: runs the command in FOLDER; its time and peak memory go to
# $work/NAME.m, its output to $work/NAME.out and NAME.err.
measure() {
  local name=$1 folder=$2
  shift 2
  mkdir -p "$folder"
  if ! (cd "$folder" && "$bin/vornel_measure" "$work/$name.m" "$@" >"$work/$name.out" 2>"$work/$name.err"); then
    echo "$name failed:" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
}
seconds() { cut -d ' ' -f1 "$work/$1.m"; }
cpu_seconds() { cut -d ' ' -f4 "$work/$1.m"; }
peak_mib() { awk '{ printf "%.1f", $2 / 1024 }' "$work/$1.m"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# What an operator would otherwise write: zip per file and a CRC per file (gzip's trailer holds
# the CRC-32 of its input), and the same in one Python process.
cat >"$work/zip-loop.sh" <<'LOOP'
#!/usr/bin/env bash
set -euo pipefail
clean=$1 out=$2
cd "$clean"
n=0
find . -type f | LC_ALL=C sort | while IFS= read -r f; do
  mkdir -p "$out/$(dirname "$f")"
  zip -9 -X -j -q "$out/$f.zip" "$f"
  crc=$(gzip -1 -c "$f" | tail -c 8 | od -An -tu4 -N4 | tr -d ' ')
  n=$((n + 1))
  printf 'F%d=%s|%s|%s|n\r\n' "$n" "${f#./}" "$crc" "$(stat -c %s "$out/$f.zip")" >>"$out/updates.lst"
done
LOOP
cat >"$work/pack.py" <<'PY'
import os, sys, zipfile, zlib
clean, out = sys.argv[1], sys.argv[2]
lines = []
for folder, folders, names in os.walk(clean):
    folders.sort()
    relative_folder = os.path.relpath(folder, clean)
    os.makedirs(os.path.join(out, relative_folder), exist_ok=True)
    for name in sorted(names):
        source = os.path.join(folder, name)
        relative = os.path.normpath(os.path.join(relative_folder, name))
        crc = 0
        with open(source, 'rb') as f:
            for block in iter(lambda: f.read(65536), b''):
                crc = zlib.crc32(block, crc)
        target = os.path.join(out, relative + '.zip')
        with zipfile.ZipFile(target, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
            archive.write(source, name)
        lines.append('F%d=%s|%d|%d|n\r\n' % (len(lines) + 1, relative.replace('/', '\\'), crc,
                                              os.path.getsize(target)))
with open(os.path.join(out, 'updates.lst'), 'w', newline='') as manifest:
    manifest.writelines(lines)
PY

# keep_best NAME RUN: NAME.m keeps the shortest wall time seen (with that run's CPU time) and
# the highest peak memory of all runs.
keep_best() {
  if [ ! -f "$work/$1.m" ]; then
    cp "$work/$2.m" "$work/$1.m"
    return
  fi
  awk 'NR == FNR { split($0, b, " "); next }
       { split($0, c, " "); peak = b[2] > c[2] ? b[2] : c[2]
         if (c[1] < b[1]) print c[1], peak, c[3], c[4]; else print b[1], peak, b[3], b[4] }' \
    "$work/$1.m" "$work/$2.m" >"$work/$1.m.new"
  mv "$work/$1.m.new" "$work/$1.m"
}

# Each run is repeated and its best time kept, the rounds interleaved so that other load on the
# machine falls on all of them alike; the zip loop, by far the slowest, runs once.
rounds=${VORNEL_BENCH_ROUNDS:-3}
# An untimed warm-up first: on file systems mounted with online discard, creating files soon
# after many were deleted (an earlier run's clean-up) costs seconds of kernel time, which would
# otherwise fall on whichever run comes first.
echo "warming up ..." >&2
measure warmup.build "$work/warmup" "$bin/vornel" build --quiet --jobs 1 "$clean"
measure warmup.zlib "$work" "$bin/vornel_deflate_all" "$clean" "$work/deflated.warmup"
echo "timing ($rounds rounds) ..." >&2
for round in $(seq 1 "$rounds"); do
  measure "jobs1.$round" "$work/serial.$round" "$bin/vornel" build --quiet --jobs 1 "$clean"
  keep_best jobs1 "jobs1.$round"
  measure "default.$round" "$work/parallel.$round" "$bin/vornel" build --quiet "$clean"
  keep_best default "default.$round"
  measure "zlib.$round" "$work" "$bin/vornel_deflate_all" "$clean" "$work/deflated.$round"
  keep_best zlib "zlib.$round"
  measure "python.$round" "$work" python3 "$work/pack.py" "$clean" "$work/python.$round"
  keep_best python "python.$round"
done
last=$work/parallel.$rounds
cp "$last/Upload/updates.lst" "$work/full.lst"
for round in $(seq 1 "$rounds"); do
  measure "reuse.$round" "$last" "$bin/vornel" build --quiet --reuse "$clean"
  keep_best reuse "reuse.$round"
done
measure ziploop "$work" bash "$work/zip-loop.sh" "$clean" "$work/ziploop"
"$bin/vornel_bench" --benchmark_filter='BM_Crc(Zlib|Ours)/8388608$' --benchmark_min_time=0.5 \
  --benchmark_format=json >"$work/crc.json" 2>/dev/null
crc_ratio=$(python3 -c '
import json, sys
rates = {b["name"].split("/")[0]: b["bytes_per_second"] for b in json.load(open(sys.argv[1]))["benchmarks"]}
print("%.2f %.2f %.2f" % (rates["BM_CrcOurs"] / rates["BM_CrcZlib"], rates["BM_CrcOurs"] / 1e9, rates["BM_CrcZlib"] / 1e9))
' "$work/crc.json")

identical=no
if diff -r "$work/serial.1/Upload" "$work/parallel.1/Upload" >/dev/null &&
  diff -r "$work/serial.1/Upload" "$last/Upload" >/dev/null &&
  cmp -s "$work/full.lst" "$last/Upload/updates.lst"; then
  identical=yes
fi

echo
echo "machine: $(nproc) cores (nproc), $(getconf _NPROCESSORS_ONLN) online; default jobs = hardware threads"
echo "tree: $files files, $((tree_bytes / 1024 / 1024)) MiB, largest file $((largest / 1024 / 1024)) MiB"
echo
echo "best of $rounds rounds (the zip loop: one run)"
printf '%-34s %9s %9s %10s\n' run seconds 'CPU s' 'peak MiB'
for run in "jobs1:vornel build --jobs 1" "default:vornel build (default jobs)" \
  "reuse:vornel build --reuse (unchanged)" "zlib:plain zlib -9 loop (1 core)" \
  "python:python3 zipfile -9 + crc32" "ziploop:zip -9 -X -j + gzip CRC loop"; do
  printf '%-34s %9.2f %9.2f %10s\n' "${run#*:}" "$(seconds "${run%%:*}")" \
    "$(cpu_seconds "${run%%:*}")" "$(peak_mib "${run%%:*}")"
done
echo
echo "ratios (goal in brackets):"
echo "  default jobs faster than --jobs 1:        $(ratio "$(seconds jobs1)" "$(seconds default)")x  [>= 1.8]"
echo "  --jobs 1 time / plain zlib -9 loop time:  $(ratio "$(seconds jobs1)" "$(seconds zlib)")  [<= 1.05]" \
  "(CPU time: $(ratio "$(cpu_seconds jobs1)" "$(cpu_seconds zlib)"))"
echo "  --reuse faster than a full build:         $(ratio "$(seconds default)" "$(seconds reuse)")x  [>= 10]"
echo "  default jobs faster than Python script:   $(ratio "$(seconds python)" "$(seconds default)")x  [>= 1.8]"
echo "  default jobs faster than zip shell loop:  $(ratio "$(seconds ziploop)" "$(seconds default)")x  [>= 10]"
read -r crc_x ours_gb zlib_gb <<<"$crc_ratio"
echo "  checksum throughput / zlib crc32():       ${crc_x}x (${ours_gb} vs ${zlib_gb} GB/s, 8 MiB)  [>= 1.0]"
echo "  peak memory of a build (default jobs):    $(peak_mib default) MiB  [< 64]"
echo "  --reuse: $(cat "$work/reuse.$rounds.err")"
echo "  Upload/ identical (--jobs 1, default jobs, --reuse): $identical"

if [ "$big_mb" -gt 0 ]; then
  echo >&2
  echo "building a tree with one ${big_mb} MB file ..." >&2
  big=$work/big/clean
  mkdir -p "$big"
  cp -L /usr/bin/bash "$big/Teskor.exe"
  concat "$big/huge.pak" $((big_mb * 1024 * 1024)) 0
  measure big "$work/big" "$bin/vornel" build --quiet "$big"
  echo
  echo "one ${big_mb} MiB file: build $(seconds big) s, peak memory $(peak_mib big) MiB  [< 64]"
fi
