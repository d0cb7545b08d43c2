# shellcheck shell=bash
# What the benchmark scripts share, sourced by each of them: where the built programs are, and the
# trees they run on, made from this machine's own files or generated. They need python3.

# bench_programs TOOL...: sets $bin to the build's bin folder (./build, or $VORNEL_BUILD_DIR,
# made absolute since the scripts change folder) and stops unless every TOOL is built there.
bench_programs() {
  local build_dir=${VORNEL_BUILD_DIR:-$here/../build}
  if [ -d "$build_dir" ]; then build_dir=$(cd "$build_dir" && pwd); fi
  bin=$build_dir/bin
  local tool
  for tool in "$@"; do
    if [ ! -x "$bin/$tool" ]; then
      echo "$bin/$tool is missing: build first (see README.md)" >&2
      exit 2
    fi
  done
}

# Copies files found under the given folders whose paths match PATTERN into $clean/CATEGORY
# (keeping their paths below PREFIX) until BYTES are taken: every k-th file of the sorted list,
# so the picks spread over all of it, then the rest in order if that fell short. Names the
# manifest cannot carry are skipped.
pick() {
  local category=$1 bytes=$2 prefix=$3 pattern=$4
  shift 4
  find "$@" -type f -readable -size +0 -printf '%s\t%p\n' 2>/dev/null |
    grep -E -e "$pattern" | grep -v -e '\\' -e ':' | LC_ALL=C sort -t $'\t' -k2 |
    awk -F '\t' -v budget="$bytes" -v cap="$cap" '
      $1 <= cap { size[n] = $1; path[n] = $2; total += $1; n++ }
      END {
        stride = int(total / budget); if (stride < 1) stride = 1
        for (i = 0; i < n && sum < budget; i += stride) { taken[i] = 1; sum += size[i]; print path[i] }
        for (i = 0; i < n && sum < budget; i++) if (!taken[i]) { sum += size[i]; print path[i] }
      }' |
    while IFS= read -r path; do
      local target=$clean/$category/${path#"$prefix"/}
      mkdir -p "$(dirname "$target")"
      cp -L "$path" "$target" 2>/dev/null || true
    done
}

# concat TARGET BYTES SKIP: real binaries (every SKIP-th from /usr/lib and /usr/bin, starting at
# a different one for each SKIP) concatenated, repeated if need be, to exactly BYTES.
concat() {
  python3 - "$@" <<'PY'
import os, sys
target, size, skip = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
sources = []
for top in ('/usr/lib', '/usr/bin'):
    for folder, folders, names in os.walk(top):
        folders.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path) and os.path.getsize(path) > 100000:
                sources.append(path)
sources = sources[skip % 4::4] or sources
os.makedirs(os.path.dirname(target), exist_ok=True)
written = 0
with open(target, 'wb') as out:
    while written < size:
        for path in sources:
            try:
                with open(path, 'rb') as f:
                    data = f.read(size - written)
            except OSError:
                continue
            out.write(data)
            written += len(data)
            if written >= size:
                break
PY
}

# make_client_tree CLEAN SIZE_MB fills the empty folder CLEAN with about SIZE_MB MB of shared
# libraries, executables, icons, locale and documentation files, and four packs made by
# concatenating real binaries; no file is more than a twentieth of the tree.
make_client_tree() {
  local clean=$1 size_mb=$2
  local budget=$((size_mb * 1024 * 1024))
  local cap=$((budget / 20))
  cp -L /usr/bin/bash "$clean/Teskor.exe"
  pick lib $((budget * 30 / 100)) /usr/lib '\.so' /usr/lib
  pick bin $((budget * 20 / 100)) /usr '.' /usr/bin /usr/sbin
  pick icons $((budget * 5 / 100)) /usr/share '\.(png|svg|xpm|ico|icon|theme)$' /usr/share/icons /usr/share/pixmaps
  pick locale $((budget * 7 / 100)) /usr/share/locale '\.mo$' /usr/share/locale
  pick doc $((budget * 10 / 100)) /usr/share/doc '.' /usr/share/doc
  for k in 0 1 2 3; do
    concat "$clean/data/pack$k.pak" $((budget * 7 / 100)) "$k"
  done
  mkdir -p "$clean/logs" # an empty folder
  : >"$clean/user.cfg"   # an empty file
}

# prepare_client_tree CLEAN SIZE_MB: make_client_tree into a new folder CLEAN, announced on
# stderr; sets files and tree_bytes to what it holds.
prepare_client_tree() {
  mkdir -p "$1"
  echo "making a $2 MB client tree in $(dirname "$1") ..." >&2
  make_client_tree "$1" "$2"
  files=$(find "$1" -type f | wc -l)
  tree_bytes=$(du -sb "$1" | cut -f1)
}

# make_big_tree CLEAN BIG_MB: the self file and one pack of exactly BIG_MB MiB.
make_big_tree() {
  mkdir -p "$1"
  cp -L /usr/bin/bash "$1/Teskor.exe"
  concat "$1/huge.pak" $(($2 * 1024 * 1024)) 0
}

# make_small_tree CLEAN COUNT: COUNT files of 700 to 1,300 bytes of text (words cut from one
# generated text at random places), the self file among them, 100 to a folder; 200,001 files
# take 2,001 folders.
make_small_tree() {
  python3 - "$@" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rnd = random.Random(1)
letters = 'abcdefghijklmnopqrstuvwxyz'
words = [''.join(rnd.choice(letters) for _ in range(rnd.randint(2, 9))) for _ in range(3000)]
text = ' '.join(rnd.choice(words) for _ in range(250000)).encode()
os.makedirs(root, exist_ok=True)
def piece():
    size = rnd.randint(700, 1300)
    start = rnd.randrange(len(text) - size)
    return text[start:start + size]
with open(os.path.join(root, 'Teskor.exe'), 'wb') as f:
    f.write(piece())
for i in range(count - 1):
    folder = os.path.join(root, 'd%04d' % (i // 100))
    if i % 100 == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'f%03d.txt' % (i % 100)), 'wb') as f:
        f.write(piece())
PY
}
