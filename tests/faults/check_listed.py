#!/usr/bin/env python3
"""Checks that everything updates.lst lists is whole, with tools independent of vornel.

Usage: check_listed.py UPLOAD_DIR [CLEAN_DIR] [--no-strays]

The manifest must consist of whole CR LF lines. Every archive it lists (the IAM line and every F
line) must exist with the listed size, pass `unzip -t` (when unzip is installed) and hold exactly
one entry, named by the file's bare name, whose data Python's zipfile extracts with the listed
CRC-32; with CLEAN_DIR, the data must also equal the source file's bytes. With --no-strays, no
archive may lie in UPLOAD_DIR that the manifest does not list. Prints one line per problem and
the number of archives listed; exit status 0 when there are no problems.
"""
import os
import shutil
import subprocess
import sys
import zipfile
import zlib

problems = []


def check_archive(upload, clean, relative, crc, size):
    path = os.path.join(upload, *relative.split("\\")) + ".zip"
    name = relative.split("\\")[-1]
    if not os.path.isfile(path):
        problems.append(f"{relative}: archive missing")
        return path
    if os.path.getsize(path) != size:
        problems.append(f"{relative}: archive is {os.path.getsize(path)} bytes, listed {size}")
    if shutil.which("unzip"):
        run = subprocess.run(["unzip", "-tqq", path], capture_output=True)
        if run.returncode != 0:
            problems.append(f"{relative}: unzip -t fails: {run.stdout!r} {run.stderr!r}")
    try:
        with zipfile.ZipFile(path) as archive:
            if archive.namelist() != [name]:
                problems.append(f"{relative}: entries {archive.namelist()}")
                return path
            data = archive.read(name)
    except Exception as error:  # any failure to read is a problem to report
        problems.append(f"{relative}: zipfile cannot read it: {error}")
        return path
    if zlib.crc32(data) != crc:
        problems.append(f"{relative}: data CRC {zlib.crc32(data)}, listed {crc}")
    if clean is not None:
        source = os.path.join(clean, *relative.split("\\"))
        with open(source, "rb") as f:
            if f.read() != data:
                problems.append(f"{relative}: data differ from the source")
    return path


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    no_strays = "--no-strays" in sys.argv
    if not args:
        sys.exit(__doc__)
    upload = args[0]
    clean = args[1] if len(args) > 1 else None
    with open(os.path.join(upload, "updates.lst"), "rb") as f:
        text = f.read()
    if text and not text.endswith(b"\r\n"):
        problems.append("updates.lst: the last line is not whole")
    listed = []
    for number, raw in enumerate(text.split(b"\r\n")[:-1], start=1):
        line = raw.decode("latin-1")
        if line.startswith("IAM="):
            fields = line[4:].rsplit("|", 2)
        elif line.startswith("F") and "=" in line:
            fields = line.split("=", 1)[1].rsplit("|", 3)
            if len(fields) != 4 or fields[3] != "n":
                problems.append(f"updates.lst line {number}: not a whole F line: {line!r}")
                continue
            fields = fields[:3]
        else:
            continue
        if len(fields) != 3 or not fields[1].isdigit() or not fields[2].lstrip("-").isdigit():
            problems.append(f"updates.lst line {number}: malformed: {line!r}")
            continue
        listed.append(check_archive(upload, clean, fields[0], int(fields[1]), int(fields[2])))
    if no_strays:
        listed_set = {os.path.normpath(p) for p in listed}
        for base, _, files in os.walk(upload):
            for name in files:
                path = os.path.normpath(os.path.join(base, name))
                if name.endswith(".zip") and path not in listed_set:
                    problems.append(f"{os.path.relpath(path, upload)}: not listed")
    for problem in problems:
        print(problem)
    print(f"{len(listed)} listed")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
