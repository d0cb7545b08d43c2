#!/usr/bin/env bash
# Times vornel verify against what it must beat, on the client-like tree of bench/compare.sh:
# --jobs 1 against every core, --jobs 1 against a plain inflate-and-CRC loop over the same
# archives, and verify --url --deep against nginx on 127.0.0.1 serving the set, and prints the
# ratios. Two --jobs 1 runs side by side show what the machine's cores give at the moment (a
# virtual machine's second core is not always a whole one), and nginx's own CPU time shows what
# serving costs the cores the served run shares with it.
#
# Usage: bench/verify.sh [SIZE_MB]   (default 60)
# VORNEL_BENCH_ROUNDS (default 3) sets how often each run is repeated; the best time counts.
# Needs the build folder of README's commands (./build, or $VORNEL_BUILD_DIR), python3, and
# nginx (Debian's nginx-light) for the served run, which is left out without it or with
# VORNEL_BENCH_URL=0.
set -euo pipefail

size_mb=${1:-60}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
bench_programs vornel vornel_inflate_all vornel_measure vornel_fetch_all
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] && [ "${VORNEL_BENCH_URL:-1}" != 0 ] || nginx=

work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-verify-bench.XXXXXX")
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
rounds=${VORNEL_BENCH_ROUNDS:-3}

measure() {
  local name=$1
  shift
  if ! (cd "$work" && "$bin/vornel_measure" "$work/$name.m" "$@" >"$work/$name.out" 2>"$work/$name.err"); then
    echo "$name failed:" >&2
    cat "$work/$name.out" "$work/$name.err" >&2
    exit 1
  fi
}
keep_best() {
  if [ ! -f "$work/$1.m" ] || [ "$(cut -d ' ' -f1 "$work/$2.m" | awk -v b="$(cut -d ' ' -f1 "$work/$1.m")" '{ print ($1 < b) }')" = 1 ]; then
    cp "$work/$2.m" "$work/$1.m"
  fi
}
seconds() { cut -d ' ' -f1 "$work/$1.m"; }
cpu_seconds() { cut -d ' ' -f4 "$work/$1.m"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "machine: $(nproc) cores (nproc); load $(cut -d ' ' -f1-3 /proc/loadavg)"
clean=$work/clean
prepare_client_tree "$clean" "$size_mb"
(cd "$work" && "$bin/vornel" build --quiet "$clean")
archives=$(find "$work/Upload" -name '*.zip' | wc -l)
upload_bytes=$(du -sb "$work/Upload" | cut -f1)

served=no
if [ -n "$nginx" ]; then
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$work/nginx/logs"
  # One process as the invoking user: it reads the private temporary folder, and one kill ends it.
  cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    location /set/ { alias $work/Upload/; }
  }
}
CONF
  "$nginx" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 1 50); do
    if python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null; then
      served=yes
      break
    fi
    sleep 0.1
  done
fi

# The page cache holds the set for every run alike; an untimed warm-up of each run first.
find "$work/Upload" -type f -exec cat {} + >/dev/null
measure warmup "$bin/vornel" verify --quiet --jobs 1 Upload
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
nginx_ticks=0
echo "timing ($rounds rounds) ..." >&2
for round in $(seq 1 "$rounds"); do
  measure "jobs1.$round" "$bin/vornel" verify --quiet --jobs 1 Upload
  keep_best jobs1 "jobs1.$round"
  measure "default.$round" "$bin/vornel" verify --quiet Upload
  keep_best default "default.$round"
  measure "inflate.$round" "$bin/vornel_inflate_all" Upload
  keep_best inflate "inflate.$round"
  # The same work as --jobs 1, twice at once in two processes: the best any parallel run can do.
  start=$(date +%s.%N)
  measure "pair-a.$round" "$bin/vornel" verify --quiet --jobs 1 Upload &
  pair_a=$!
  measure "pair-b.$round" "$bin/vornel" verify --quiet --jobs 1 Upload
  wait "$pair_a"
  awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.6f 0 0 0\n", e - s }' >"$work/pair.$round.m"
  keep_best pair "pair.$round"
  if [ "$served" = yes ]; then
    (cd "$work" && "$bin/vornel_inflate_all" --in-memory Upload) >"$work/memory.$round.out"
    awk '{ print $4, 0, 0, $4 }' "$work/memory.$round.out" >"$work/memory.$round.m"
    keep_best memory "memory.$round"
    measure "fetch.$round" "$bin/vornel_fetch_all" "http://127.0.0.1:$port/set/" Upload
    keep_best fetch "fetch.$round"
    before=$(cpu_ticks "$nginx_pid")
    measure "url.$round" "$bin/vornel" verify --quiet --url "http://127.0.0.1:$port/set/" --deep
    nginx_ticks=$((nginx_ticks + $(cpu_ticks "$nginx_pid") - before))
    keep_best url "url.$round"
  fi
done

echo
echo "set: $archives archives, $((upload_bytes / 1024 / 1024)) MiB"
echo "best of $rounds rounds"
printf '%-44s %9s %9s\n' run seconds 'CPU s'
for run in "jobs1:vornel verify --jobs 1" "default:vornel verify (default jobs)" \
  "inflate:plain inflate-and-CRC loop (1 core)" "url:vornel verify --url --deep (nginx)" \
  "fetch:fetch only, libcurl multi (nginx)"; do
  name=${run%%:*}
  [ -f "$work/$name.m" ] || continue
  printf '%-44s %9s %9s\n' "${run#*:}" "$(seconds "$name")" "$(cpu_seconds "$name")"
done
echo
echo "default jobs $(ratio "$(seconds jobs1)" "$(seconds default)")x faster than --jobs 1 (goal at least 1.8 on 2 cores)"
echo "  two --jobs 1 runs at once did $(ratio "$(awk -v a="$(seconds jobs1)" 'BEGIN { print 2 * a }')" "$(seconds pair)")x the work of one in the same time: what these cores give now"
echo "--jobs 1 against the plain loop: $(ratio "$(seconds jobs1)" "$(seconds inflate)") (goal at most 1.1)"
echo "the same in CPU seconds, which other load on the machine changes less: $(ratio "$(cpu_seconds jobs1)" "$(cpu_seconds inflate)")"
if [ "$served" = yes ]; then
  echo "verify --url --deep against local verify: $(ratio "$(seconds url)" "$(seconds default)") (goal at most 1.3)"
  nginx_cpu=$(awk -v t="$nginx_ticks" -v r="$rounds" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", t / r / hz }')
  echo "  nginx used $nginx_cpu CPU s per served run, on the same $(nproc) cores; unpacking the"
  echo "  archives alone, already in memory, took $(seconds memory) s (vornel_inflate_all --in-memory)"
  awk -v goal="$(seconds default)" -v k="$(nproc)" -v n="$nginx_cpu" -v m="$(seconds memory)" \
    -v c="$(cpu_seconds url)" -v a="$archives" 'BEGIN {
      printf "  the goal leaves the client %.0f us of CPU a request; it used %.0f\n",
        (1.3 * goal * k - m - n) / a * 1e6, (c - m) / a * 1e6 }'
  # What no served check can go below: fetching with libcurl's cheapest loop, the unpacking and
  # nginx's serving, spread perfectly over every core.
  awk -v goal="$(seconds default)" -v k="$(nproc)" -v n="$nginx_cpu" -v m="$(seconds memory)" \
    -v f="$(cpu_seconds fetch)" -v fs="$(seconds fetch)" 'BEGIN {
      floor = (f + m + n) / k
      printf "  fetching alone (vornel_fetch_all) took %.3f s and %.3f CPU s; with the unpacking and\n", fs, f
      printf "  nginx on %d cores no served check can take less than %.3f s: %.2fx local verify\n",
        k, floor, floor / goal }'
fi
tail -n 1 "$work/default.1.out"
