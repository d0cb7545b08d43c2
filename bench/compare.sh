#!/usr/bin/env bash
# Times a build against what it must beat, on a client-like tree made from this machine's own
# files and on a tree of many small files, and prints the ratios and the peak memory of each run.
#
# Usage: bench/compare.sh [SIZE_MB] [BIG_FILE_MB] [SMALL_FILES] [COMPRESSOR_MB]
#   SIZE_MB      size of the client-like tree (default 60; 0 leaves it out): shared libraries,
#                executables, icons, locale and documentation files, and four packs made by
#                concatenating real binaries; no file is more than a twentieth of the tree.
#   BIG_FILE_MB  when given, also builds a tree holding one file of this size (e.g. 1024) and
#                reports the build's peak memory.
#   SMALL_FILES  number of files of about 1 KB of text, 100 to a folder, in the small-file tree
#                (default 20001; 0 leaves it out; e.g. 200001). A build of it is compared, in
#                the same rounds, with a plain program doing the same file work on every core
#                (each file read, deflated at level 9 by one reused zlib state per worker and
#                written to its own new file in a mirrored folder), and with the floor of cp -r
#                plus the plain zlib loop divided by the jobs; with strace installed, a --jobs 1
#                build is counted for system calls per file.
#   COMPRESSOR_MB size of the client-like tree on which bench/compressors.sh then compares zlib 9,
#                libdeflate 9 and 12 and zopfli (default 10; 0 leaves it out, as does a build
#                without the optional compressors).
# VORNEL_BENCH_ROUNDS (default 3) sets how often each run is repeated; the best time counts.
# Needs the build folder of README's commands (./build, or $VORNEL_BUILD_DIR) and zip, gzip and
# python3. With VORNEL_BENCH_KEEP set, the tree and every output stay in the temporary folder.
set -euo pipefail

size_mb=${1:-60}
big_mb=${2:-0}
small_files=${3:-20001}
compressor_mb=${4:-10}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
bench_programs vornel vornel_deflate_all vornel_measure
if [ "$size_mb" -gt 0 ]; then bench_programs vornel_bench; fi
for tool in zip gzip od python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-bench.XXXXXX")
if [ -n "${VORNEL_BENCH_KEEP:-}" ]; then
  echo "keeping $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi
rounds=${VORNEL_BENCH_ROUNDS:-3}

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
peak_kib() { cut -d ' ' -f2 "$work/$1.m"; }
peak_mib() { awk '{ printf "%.1f", $2 / 1024 }' "$work/$1.m"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

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

echo "machine: $(nproc) cores (nproc), $(getconf _NPROCESSORS_ONLN) online; default jobs = hardware threads; load $(cut -d ' ' -f1-3 /proc/loadavg)"

client_tree_section() {
  clean=$work/clean
  prepare_client_tree "$clean" "$size_mb"
  largest=$(find "$clean" -type f -printf '%s\n' | sort -n | tail -n 1)

  # The page cache holds the tree for every run alike.
  find "$clean" -type f -exec cat {} + >/dev/null

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

  # Each run is repeated and its best time kept, the rounds interleaved so that other load on the
  # machine falls on all of them alike; the zip loop, by far the slowest, runs once.
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
}

big_file_section() {
  echo >&2
  echo "building a tree with one ${big_mb} MB file ..." >&2
  make_big_tree "$work/big/clean" "$big_mb"
  measure big "$work/big" "$bin/vornel" build --quiet "$work/big/clean"
  echo
  echo "one ${big_mb} MiB file: build $(seconds big) s, peak memory $(peak_mib big) MiB  [< 64]"
  rm -rf "$work/big"
}

small_files_section() {
  local small=$work/small tree=$work/small/clean
  local jobs round
  jobs=$(nproc)
  if [ "$jobs" -gt 64 ]; then jobs=64; fi
  echo >&2
  echo "making a tree of $small_files small files ..." >&2
  make_small_tree "$tree" "$small_files"
  local files folders bytes
  files=$(find "$tree" -type f | wc -l)
  folders=$(find "$tree" -mindepth 1 -type d | wc -l)
  bytes=$(find "$tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
  find "$tree" -type f -exec cat {} + >/dev/null
  # The untimed warm-up build is kept to compare with the one counted under strace.
  echo "warming up ..." >&2
  measure small.warmup "$small/warm" "$bin/vornel" build --quiet "$tree"
  local floor per_file calls="" identical=""
  if command -v strace >/dev/null; then
    echo "counting system calls of a --jobs 1 build ..." >&2
    mkdir -p "$small/traced"
    (cd "$small/traced" && strace -f -c -o "$work/small.strace" "$bin/vornel" build --quiet --jobs 1 "$tree" \
      >/dev/null 2>"$work/small.strace.err")
    calls=$(awk '$NF == "total" { print $4 }' "$work/small.strace")
    identical=no
    if diff -r "$small/warm/Upload" "$small/traced/Upload" >/dev/null; then identical=yes; fi
  fi
  rm -rf "$small/warm" "$small/traced"
  sync
  # Creating files soon after many were deleted costs extra kernel time on some file systems, so
  # each round starts with another run, and a round's outputs are deleted only when it ends.
  echo "timing ($rounds rounds) ..." >&2
  local runs=(cp zlib build plain) name
  for round in $(seq 1 "$rounds"); do
    for k in 0 1 2 3; do
      name=${runs[$(((k + round - 1) % 4))]}
      case $name in
      cp) measure "small.cp.$round" "$small" cp -r "$tree" "$small/out.cp" ;;
      plain) measure "small.plain.$round" "$small" "$bin/vornel_deflate_all" "$tree" "$small/out.plain" "$jobs" ;;
      zlib) measure "small.zlib.$round" "$small" "$bin/vornel_deflate_all" "$tree" "$small/out.zlib" ;;
      build) measure "small.build.$round" "$small/out.build" "$bin/vornel" build --quiet "$tree" ;;
      esac
      keep_best "small.$name" "small.$name.$round"
    done
    if [ "$round" -lt "$rounds" ]; then
      rm -rf "$small"/out.*
      sync
    fi
  done
  floor=$(awk -v c="$(seconds small.cp)" -v z="$(seconds small.zlib)" -v j="$jobs" \
    'BEGIN { printf "%.2f", c + z / j }')
  echo
  echo "small-file tree: $files files of $((bytes / files)) bytes on average in $folders folders; default jobs = $jobs"
  echo "best of $rounds rounds; load average at the end $(cut -d ' ' -f1-3 /proc/loadavg)"
  printf '%-34s %9s %9s %10s\n' run seconds 'CPU s' 'peak MiB'
  for run in "small.build:vornel build (default jobs)" "small.cp:cp -r of the tree" \
    "small.zlib:plain zlib -9 loop (1 core)" "small.plain:plain program ($jobs workers)"; do
    printf '%-34s %9.2f %9.2f %10s\n' "${run#*:}" "$(seconds "${run%%:*}")" \
      "$(cpu_seconds "${run%%:*}")" "$(peak_mib "${run%%:*}")"
  done
  per_file=$(awk -v k="$(peak_kib small.build)" -v n="$files" \
    'BEGIN { printf "%.0f", (k * 1024 - 16 * 1048576) / n }')
  echo "ratios (goal in brackets):"
  echo "  build / plain program ($jobs workers):                $(ratio "$(seconds small.build)" "$(seconds small.plain)")  [<= 1.3]"
  echo "  build / floor (cp -r + zlib loop / $jobs = $floor s):  $(ratio "$(seconds small.build)" "$floor")  [<= 1.25]"
  if [ -n "$calls" ]; then
    echo "  system calls per file, --jobs 1 (strace -c -f):   $(ratio "$calls" "$files")  [<= 15]  ($calls calls)"
    echo "  Upload/ identical (--jobs 1, default jobs): $identical"
  else
    echo "  system calls per file: strace is not installed"
  fi
  if [ "$per_file" -lt 0 ]; then per_file=0; fi
  echo "  peak memory: $(peak_mib small.build) MiB = 16 MiB + $per_file bytes per file  [<= 16 MiB + 200 bytes per file]"
  rm -rf "$small"
}

if [ "$size_mb" -gt 0 ]; then client_tree_section; fi
if [ "$big_mb" -gt 0 ]; then big_file_section; fi
if [ "$small_files" -gt 0 ]; then small_files_section; fi
if [ "$compressor_mb" -gt 0 ]; then
  if "$bin/vornel" build --help | grep -q 'built in here: .*libdeflate.*zopfli'; then
    echo
    echo "compressors on a ${compressor_mb} MB client-like tree (bench/compressors.sh):"
    "$here/compressors.sh" "$compressor_mb"
  else
    echo "compressors: libdeflate and zopfli are not both built in; bench/compressors.sh left out"
  fi
fi
