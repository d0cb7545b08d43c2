#!/usr/bin/env python3
"""Checks an upload set against its clean tree with tools independent of vornel.

Usage: check_upload.py CLEAN_DIR UPLOAD_DIR [CUSTOM_NAME [SKIP_DIR]]

Every archive that updates.lst lists must pass `unzip -t` (when unzip is installed), hold one
entry named by the file's bare name that Python's zipfile extracts to exactly the source's bytes,
and have the listed size; every listed CRC must equal zlib.crc32 of the source. The F lines must
cover every file of the tree except those named like the self file. Prints one line per problem;
exit status 0 when there are none.
"""
import os
import shutil
import subprocess
import sys
import zipfile
import zlib

problems = []


def problem(text):
    problems.append(text)


def check_archive(zip_path, source_path, listed_crc, listed_size):
    name = os.path.basename(source_path)
    with open(source_path, "rb") as f:
        source = f.read()
    if zlib.crc32(source) != listed_crc:
        problem(f"{zip_path}: listed CRC {listed_crc}, zlib.crc32 says {zlib.crc32(source)}")
    if not os.path.isfile(zip_path):
        problem(f"{zip_path}: missing")
        return
    if os.path.getsize(zip_path) != listed_size:
        problem(f"{zip_path}: {os.path.getsize(zip_path)} bytes, listed {listed_size}")
    try:
        with zipfile.ZipFile(zip_path) as z:
            if z.namelist() != [name]:
                problem(f"{zip_path}: entries {z.namelist()}, expected [{name!r}]")
            elif z.read(name) != source:
                problem(f"{zip_path}: extracts to other bytes than {source_path}")
            if z.testzip() is not None:
                problem(f"{zip_path}: zipfile.testzip failed")
    except zipfile.BadZipFile as e:
        problem(f"{zip_path}: zipfile cannot read it ({e})")
    if shutil.which("unzip"):
        r = subprocess.run(["unzip", "-tqq", zip_path], capture_output=True)
        if r.returncode != 0:
            problem(f"{zip_path}: unzip -t failed: {r.stdout!r} {r.stderr!r}")


def tree_files(clean, skip):
    found = []
    skip = os.path.realpath(skip) if skip else None
    # A built tree's links to folders were all accepted, and are walked like the folders.
    for top, dirs, files in os.walk(clean, followlinks=True):
        dirs[:] = [d for d in dirs if os.path.realpath(os.path.join(top, d)) != skip]
        for f in files:
            found.append(os.path.relpath(os.path.join(top, f), clean))
    return found


def main():
    clean, upload = sys.argv[1], sys.argv[2]
    custom = sys.argv[3] if len(sys.argv) > 3 else "Teskor.exe"
    skip = sys.argv[4] if len(sys.argv) > 4 else None
    with open(os.path.join(upload, "updates.lst"), "rb") as f:
        text = f.read().decode("latin-1")
    if not text.endswith("\r\n"):
        problem("updates.lst: does not end with CR LF")
    lines = text[:-2].split("\r\n") if text.endswith("\r\n") else text.split("\r\n")
    head = lines[:7]
    if len(head) < 7 or head[0] != "[self]" or head[2] != "[misc]" or head[5] != "[files]" \
            or not head[3].startswith("Server=") or not head[4].startswith("ModifyHost="):
        problem(f"updates.lst: bad head {head!r}")
        return
    name, crc, size = head[1][len("IAM="):].rsplit("|", 2)
    if name != custom:
        problem(f"IAM names {name!r}, expected {custom!r}")
    check_archive(os.path.join(upload, name + ".zip"), os.path.join(clean, name), int(crc),
                  int(size))
    files = tree_files(clean, skip)
    if head[6] != f"fcount={len(files) - 1}":
        problem(f"{head[6]!r}, the tree holds {len(files)} files")
    listed = []
    for number, line in enumerate(lines[7:], start=1):
        key, rest = line.split("=", 1)
        if key != f"F{number}":
            problem(f"{line!r}: expected F{number}")
        path, crc, size, suffix = rest.rsplit("|", 3)
        if suffix != "n":
            problem(f"{line!r}: no |n suffix")
        relative = path.replace("\\", "/")
        listed.append(relative)
        check_archive(os.path.join(upload, relative + ".zip"), os.path.join(clean, relative),
                      int(crc), int(size))
    expected = sorted(f for f in files if os.path.basename(f) != custom)
    if sorted(listed) != expected:
        problem(f"F lines list {sorted(listed)}, the tree holds {expected}")


if __name__ == "__main__":
    main()
    for p in problems:
        print(p)
    sys.exit(1 if problems else 0)
