#!/usr/bin/env python3
"""Writes the seed corpora of the ini, verify and round-trip fuzz targets.

Usage: make-fuzz-seeds.py VORNEL_EXE [REPO]

The verify seeds come from a real build of examples/clean, framed as the target reads them
(updates.lst, then "\\n@@ path\\n" and the archive's bytes for every archive), plus a few damaged
variants. Seeds are only added or replaced, never removed: findings stay in the corpus.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

MARKER = b"\n@@ "


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def ini_seeds(folder, repo):
    with open(os.path.join(repo, "examples", "settings.ini"), "rb") as sample:
        write(folder, "sample", sample.read())
    write(folder, "crlf-quotes",
          b"[main]\r\nCustomName = \"Teskor.exe\"\r\nServer='10.0.0.1'\r\nModHost=1\r\n")
    write(folder, "bom-blanks", b"\xef\xbb\xbf  [ Main ]\t\n server \t= a b \n;ModHost=2\n")
    write(folder, "two-sections", b"[main]\nServer=first\n[other]\nServer=x\n[main]\nServer=2nd\n")
    write(folder, "no-section-nul", b"Server=loose\n[main\nServer=a\x00b\nModHost=\"\n")
    write(folder, "long-value", b"[main]\nServer=" + b"v" * 3000 + b"\n")
    write(folder, "empty", b"")


def frame(upload):
    with open(os.path.join(upload, "updates.lst"), "rb") as manifest:
        data = manifest.read()
    for base, _, files in sorted(os.walk(upload)):
        for name in sorted(files):
            path = os.path.join(base, name)
            relative = os.path.relpath(path, upload)
            if relative == "updates.lst":
                continue
            with open(path, "rb") as archive:
                data += MARKER + relative.encode() + b"\n" + archive.read()
    return data


def build_varied(exe):
    """An upload set with an empty file, blanks and a bar in names, and deep folders."""
    work = tempfile.mkdtemp(prefix="vornel-seeds-")
    try:
        files = {
            "Teskor.exe": b"self",
            "empty.txt": b"",
            "a b/c d.txt": b"text with blanks\r\n" * 20,
            "deep/er/est/x.bin": bytes((i * 7919) % 251 for i in range(3000)),
            "bar|name.txt": b"|",
        }
        for name, data in files.items():
            path = os.path.join(work, "clean", name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(data)
        subprocess.run([exe, "build", "-q", os.path.join(work, "clean")], cwd=work, check=True,
                       stdout=subprocess.DEVNULL)
        return frame(os.path.join(work, "Upload"))
    finally:
        shutil.rmtree(work)


def verify_seeds(folder, repo, exe):
    work = tempfile.mkdtemp(prefix="vornel-seeds-")
    try:
        shutil.copy(os.path.join(repo, "examples", "settings.ini"), work)
        subprocess.run([exe, "build", "-q", os.path.join(repo, "examples", "clean")], cwd=work,
                       check=True, stdout=subprocess.DEVNULL)
        good = frame(os.path.join(work, "Upload"))
    finally:
        shutil.rmtree(work)
    write(folder, "sample-build", good)
    write(folder, "varied-build", build_varied(exe))
    # The first archive's bytes with its data damaged, a manifest cut short, an archive that is
    # a folder, and an empty set.
    first = good.index(MARKER)
    data_at = good.index(b"PK\x03\x04", first) + 40
    damaged = bytearray(good)
    damaged[data_at] ^= 0xFF
    write(folder, "damaged-data", bytes(damaged))
    write(folder, "manifest-cut", good[: first // 2] + good[first:])
    self_name = good.split(b"\r\n")[1][4:].split(b"|")[0]
    write(folder, "archive-is-folder", good[:first] + MARKER + self_name + b".zip/\n")
    write(folder, "nothing", b"")


def roundtrip_seeds(folder):
    def op(kind, name, data):
        return bytes([kind, len(name)]) + name + struct.pack("<H", len(data)) + data

    text = b"The quick brown fox jumps over the lazy dog. " * 20
    # options: bit0 rebuild, bit1 temp files, bit2 relative, bit3 folders, bit4 file, 5-7 level
    write(folder, "fast-memory", bytes([0]) + op(0, b"a.txt", text) + op(0, b"empty", b""))
    write(folder, "rebuild-temp-file",
          bytes([1 | 2 | 16]) + op(1, b"dir\\b.bin", bytes(range(256))) + op(0, b"DIR\\B.BIN", b"x"))
    write(folder, "folders-relative",
          bytes([4 | 8 | (4 << 5)]) + op(0, b"a\\b\\c.txt", text) + op(3, b"a\\d.txt", text))
    write(folder, "replace-remove",
          bytes([1 | 4]) + op(0, b"x", b"1") + op(0, b"X", b"22") + op(2 | (1 << 3), b"", b""))
    write(folder, "large-levels",
          bytes([(2 << 5)]) + op(4, b"big", bytes(range(200))) + op(0, b"c:\\abs\\name", text))
    write(folder, "refused-names",
          bytes([4]) + op(0, b"..\\up", b"no") + op(0, b"", b"no") + op(0, b"ok", b"yes"))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    exe = os.path.abspath(sys.argv[1])
    repo = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), ".."))
    corpus = os.path.join(repo, "fuzz", "corpus")
    ini_seeds(os.path.join(corpus, "ini"), repo)
    verify_seeds(os.path.join(corpus, "verify"), repo, exe)
    roundtrip_seeds(os.path.join(corpus, "roundtrip"))


if __name__ == "__main__":
    main()
