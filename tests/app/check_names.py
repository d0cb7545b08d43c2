#!/usr/bin/env python3
"""Checks the names of an upload set built for a client code page, with Python's codecs.

Usage: check_names.py UPLOAD_DIR CODEPAGE PATH...

CODEPAGE is a Windows code page number or utf-8; each PATH is a packed file's path below the
clean folder as the file system spells it (UTF-8, "/"-separated). Its manifest line must carry
the path encoded in the code page with "\\" separators; its archive (at the file system's name)
must pass `unzip -t` and hold one entry that Python's zipfile, told the code page, reads under the
bare name. General purpose bit 11 is set exactly for non-ASCII names in utf-8. Prints one line per
problem.
"""
import os
import shutil
import subprocess
import sys
import zipfile

upload, codepage, paths = sys.argv[1], sys.argv[2], sys.argv[3:]
encoding = "utf-8" if codepage == "utf-8" else "cp" + codepage
with open(os.path.join(upload, "updates.lst"), "rb") as f:
    manifest = f.read()
for path in paths:
    listed = path.replace("/", "\\").encode(encoding)
    if b"=" + listed + b"|" not in manifest:
        print(f"{path}: not listed as {listed!r}")
    archive = os.path.join(upload, path + ".zip")
    if shutil.which("unzip"):
        run = subprocess.run(["unzip", "-tqq", archive], capture_output=True)
        if run.returncode != 0:
            print(f"{path}: unzip -t: {run.stdout!r} {run.stderr!r}")
    options = {} if codepage == "utf-8" else {"metadata_encoding": encoding}
    with zipfile.ZipFile(archive, **options) as z:
        entries = z.infolist()
        bare = path.rsplit("/", 1)[-1]
        if [e.filename for e in entries] != [bare]:
            print(f"{path}: entries {[e.filename for e in entries]}")
            continue
        utf8 = codepage == "utf-8" and not bare.isascii()
        if bool(entries[0].flag_bits & 0x800) != utf8:
            print(f"{path}: flags {entries[0].flag_bits:#x}")
        if z.testzip() is not None:
            print(f"{path}: damaged data")
