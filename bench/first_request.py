#!/usr/bin/env python3
"""Time from the start of `downloader --silent` to its first request (the info
file) and to the request of the release's one file.

A small HTTP server on 127.0.0.1 (this script's own) serves a one-file
release; the program is started N times and the time from just before the
start to the arrival of the first request line is taken. Prints the median,
minimum and maximum in milliseconds.

Usage: bench/first_request.py PATH_TO_DOWNLOADER [RUNS]
"""
import hashlib
import http.server
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

program = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
body = b"x" * 4096
digest = hashlib.sha1(body).hexdigest().upper()
first_request = []
file_request = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        if not first_request:
            first_request.append(time.monotonic())
        base = "http://127.0.0.1:%d" % self.server.server_port
        if self.path == "/info.ini":
            data = ("[General]\r\nVersion=0\r\n[Downloads]\r\nPath=%s\r\nFile1=a.bin\r\n"
                    "[Checksum]\r\nFile1=%s\r\n" % (base, digest)).encode()
        elif self.path == "/a.bin":
            file_request.append(time.monotonic())
            data = body
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
work = tempfile.mkdtemp(prefix="first-request.")
os.makedirs(work + "/config/Corvane")
os.makedirs(work + "/runtime", mode=0o700)
with open(work + "/config/Corvane/user.reg", "w", newline="") as settings:
    settings.write('Windows Registry Editor Version 5.00\r\n\r\n'
                   '[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\r\n'
                   '"INIConfig"="http://127.0.0.1:%d/info.ini"\r\n' % server.server_port)
environment = dict(os.environ, XDG_CONFIG_HOME=work + "/config", XDG_RUNTIME_DIR=work + "/runtime")
times = []
file_times = []
for run in range(runs + 1):
    first_request.clear()
    file_request.clear()
    start = time.monotonic()
    result = subprocess.run([program, "--silent", "--dest", work + "/dest"], env=environment,
                            stderr=subprocess.DEVNULL)
    if result.returncode != 0 or not first_request:
        sys.exit("first_request: the run failed with exit code %d" % result.returncode)
    if run > 0:  # the first run only warms the caches
        times.append((first_request[0] - start) * 1000)
        file_times.append((file_request[0] - start) * 1000)
server.shutdown()
subprocess.run(["rm", "-rf", work])
print("first request after %.1f ms, the file's after %.1f ms (medians of %d; min %.1f / %.1f, max %.1f / %.1f)"
      % (statistics.median(times), statistics.median(file_times), len(times), min(times), min(file_times),
         max(times), max(file_times)))
