#!/usr/bin/env python3
"""Runs Linux programs for Windows tests under wine.

Wine starts a Linux program but gives a Windows program neither a handle to wait for nor the
pipes it asked for, so a Windows test cannot run the peers (python3, zip, unzip) itself. It
drops a request into the bridge's folder instead; the bridge runs the program and answers with
its exit code and output:

    peer-bridge.py FOLDER WINEPREFIX

A request ID.req holds fields, each written as its length in decimal, a line end and its bytes:
working folder, standard input, "1" when standard error joins standard output, time limit in
seconds (0: none), the number of environment changes, three fields per change (name, "1" to set
or "0" to remove, value), the number of arguments, the arguments. Windows paths (C:\\...) in the
folder, the arguments and the values become the Linux paths wine maps them to. The answer ID.res
holds the exit code (-1 when the program could not be started or was killed), "1" when the time
limit ended it, standard output and standard error. The bridge ends when its parent does.
"""

import errno
import os
import re
import subprocess
import sys
import threading
import time

WINDOWS_PATH = re.compile(r"^([A-Za-z]):[\\/]")


def fields(data):
    at = 0
    while at < len(data):
        end = data.index(b"\n", at)
        size = int(data[at:end])
        yield data[end + 1:end + 1 + size]
        at = end + 1 + size + 1


def field_bytes(values):
    return b"".join(str(len(v)).encode() + b"\n" + v + b"\n" for v in values)


class Bridge:
    def __init__(self, folder, prefix):
        self.folder = folder
        self.prefix = prefix

    def linux_path(self, text):
        match = WINDOWS_PATH.match(text)
        if not match:
            return text
        drive = os.path.realpath(
            os.path.join(self.prefix, "dosdevices", match.group(1).lower() + ":"))
        return os.path.join(drive, text[3:].replace("\\", "/"))

    def run(self, request):
        parts = [p.decode("utf-8", "surrogateescape") for p in fields(request)]
        workdir, stdin, err_to_out, limit, env_count = parts[:5]
        env = dict(os.environ)
        at = 5
        for _ in range(int(env_count)):
            name, has_value, value = parts[at:at + 3]
            at += 3
            if has_value == "1":
                env[name] = self.linux_path(value)
            else:
                env.pop(name, None)
        args = [self.linux_path(a) for a in parts[at + 1:at + 1 + int(parts[at])]]
        for attempt in range(5):
            try:
                return self.start(args, stdin, err_to_out, workdir, env, limit)
            except OSError as error:
                # A fork refused under load is worth another try; a missing program is not.
                if error.errno not in (errno.EAGAIN, errno.ENOMEM) or attempt == 4:
                    return [b"-1", b"0", b"", ("bridge: %s" % error).encode()]
                time.sleep(0.1 * (attempt + 1))

    def start(self, args, stdin, err_to_out, workdir, env, limit):
        try:
            done = subprocess.run(
                args, input=stdin.encode("utf-8", "surrogateescape"),
                stdout=subprocess.PIPE,
                stderr=subprocess.STDOUT if err_to_out == "1" else subprocess.PIPE,
                cwd=self.linux_path(workdir) or None, env=env,
                timeout=int(limit) or None)
            return [str(done.returncode).encode(), b"0", done.stdout, done.stderr or b""]
        except subprocess.TimeoutExpired as expired:
            return [b"-1", b"1", expired.stdout or b"", expired.stderr or b""]

    def answer(self, name):
        path = os.path.join(self.folder, name)
        with open(path, "rb") as request:
            data = request.read()
        os.remove(path)
        try:
            reply = field_bytes(self.run(data))
        except Exception as error:  # a reply in any case: the test waits for one
            reply = field_bytes([b"-1", b"0", b"", ("bridge: %r" % error).encode()])
        stem = name[:-len(".req")]
        with open(os.path.join(self.folder, stem + ".part"), "wb") as out:
            out.write(reply)
        os.rename(os.path.join(self.folder, stem + ".part"),
                  os.path.join(self.folder, stem + ".res"))

    def serve(self):
        parent = os.getppid()
        taken = set()
        while os.getppid() == parent:
            for name in os.listdir(self.folder):
                if name.endswith(".req") and name not in taken:
                    taken.add(name)
                    threading.Thread(target=self.answer, args=(name,), daemon=True).start()
            time.sleep(0.005)


if __name__ == "__main__":
    Bridge(sys.argv[1], sys.argv[2]).serve()
