#!/usr/bin/env bash
# How long the last step of a build takes, the one in which what clients read changes: a set of
# CHANGED small files is built, every file is changed, and the second build runs under strace
# (only the calls of the last step are traced). Prints, for the exchange of folders: the time from
# the flush to the disk (syncfs) to the end of the exchange (renameat2), the exchange itself, and
# the removal of the old folder afterwards, while clients already read the new one. As root it
# also mounts a tmpfs on Upload/ (a mount point cannot be exchanged) and prints the window of the
# ordered renames: from the first archive renamed into place to updates.lst.
#
# Usage: bench/publish.sh [CHANGED]   (default 20000; needs strace and python3)
set -euo pipefail

changed=${1:-20000}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
bench_programs vornel
command -v strace >/dev/null || { echo "strace is missing" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-publish.XXXXXX")
cleanup() {
  mountpoint -q "$work/mounted/Upload" 2>/dev/null && umount "$work/mounted/Upload"
  rm -rf "$work"
}
trap cleanup EXIT

echo "making $((changed + 1)) small files ..." >&2
make_small_tree "$work/clean" $((changed + 1))
change_every_file() { find "$work/clean" -type f -name 'f*.txt' -exec sh -c 'for f; do printf x >>"$f"; done' _ {} +; }

# traced FOLDER: builds the changed tree in FOLDER under strace, the trace in FOLDER.trace.
traced() {
  (cd "$1" && strace -f --seccomp-bpf -ttt -T -o "$1.trace" \
    -e trace=syncfs,renameat2,rename,unlink,unlinkat,rmdir \
    "$bin/vornel" build --quiet "$work/clean" >/dev/null 2>"$1.err")
}

mkdir -p "$work/exchange"
(cd "$work/exchange" && "$bin/vornel" build --quiet "$work/clean" >/dev/null)
change_every_file
traced "$work/exchange"
python3 - "$work/exchange.trace" "$changed" <<'PY'
import re, sys
trace, changed = sys.argv[1], sys.argv[2]
lines = open(trace).read().splitlines()
def stamp(line):
    return float(line.split()[1])
def duration(line):
    return float(re.search(r'<([0-9.]+)>$', line).group(1))
sync = next(l for l in lines if 'syncfs(' in l)
exchange = next(l for l in lines if 'RENAME_EXCHANGE' in l)
record = next(l for l in lines if 'Upload.build' in l and 'rename' in l)
last_removal = [l for l in lines if ('unlinkat' in l or 'rmdir' in l) and stamp(l) < stamp(record)][-1]
start = stamp(sync)
end = stamp(exchange) + duration(exchange)
print(f"{changed} changed archives, folders exchanged:")
print(f"  last step (syncfs to the end of the exchange) {end - start:8.3f} s")
print(f"    of which syncfs                              {duration(sync):8.3f} s")
print(f"    the exchange itself (renameat2)              {duration(exchange) * 1e6:8.0f} us")
print(f"  old folder removed after the exchange          {stamp(last_removal) - end:8.3f} s")
print("  window in which an archive is newer than its line: none")
PY

if [ "$(id -u)" = 0 ]; then
  mkdir -p "$work/mounted/Upload"
  mount -t tmpfs -o size=1g tmpfs "$work/mounted/Upload"
  (cd "$work/mounted" && "$bin/vornel" build --quiet "$work/clean" >/dev/null 2>&1)
  change_every_file
  traced "$work/mounted"
  python3 - "$work/mounted.trace" "$changed" <<'PY'
import re, sys
trace, changed = sys.argv[1], sys.argv[2]
lines = [l for l in open(trace).read().splitlines() if 'rename(' in l and 'vornel-staging.' in l]
def stamp(line):
    return float(line.split()[1])
first = lines[0]
manifest = next(l for l in lines if l.split('"')[3].endswith('/updates.lst'))
print(f"{changed} changed archives, Upload/ a mount point (ordered renames):")
print(f"  {len(lines) - 1} archives renamed, then updates.lst")
print(f"  window from the first archive to updates.lst   {stamp(manifest) - stamp(first):8.3f} s")
PY
fi
