#!/usr/bin/env python3
"""A web server that misbehaves the ways nginx will not, serving ROOT on 127.0.0.1:PORT.

/cut/PATH   an archive's headers (the true Content-Length) and half its body, then a close.
/busy/PATH  503 Service Unavailable at the first request of each archive, then the archive.
/lie/PATH   an archive's bytes, but the length declared in HEAD and GET alike is that of
            ROOT/lie-as/PATH (the archive the manifest lists), when there is one.
Anything else (and every manifest) is ROOT/PATH as it is. Every answer closes the connection.

Usage: faulty_server.py ROOT PORT
"""
import http.server
import os
import socketserver
import sys
import threading

root, port = sys.argv[1], int(sys.argv[2])
asked, asked_lock = set(), threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, with_body):
        mode, _, rest = self.path.lstrip("/").partition("/")
        if mode not in ("busy", "cut", "lie"):
            mode, rest = "", self.path.lstrip("/")
        if not rest.endswith(".zip"):
            mode = ""
        path = os.path.join(root, rest)
        with asked_lock:
            first = mode == "busy" and path not in asked
            asked.add(path)
        if first or not os.path.isfile(path):
            self.send_response(503 if first else 404)
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            return
        with open(path, "rb") as f:
            body = f.read()
        declared = len(body)
        if mode == "lie":
            claimed = os.path.join(root, "lie-as", rest)
            if os.path.isfile(claimed):
                declared = os.path.getsize(claimed)
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Content-Length", str(declared))
        self.send_header("Connection", "close")
        self.end_headers()
        if not with_body:
            return
        self.wfile.write(body[: len(body) // 2] if mode == "cut" else body)
        self.wfile.flush()
        self.close_connection = True

    def do_GET(self):
        self.answer(True)

    def do_HEAD(self):
        self.answer(False)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


Server(("127.0.0.1", port), Handler).serve_forever()
