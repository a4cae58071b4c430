#!/usr/bin/env python3
"""Ctrl+C to exit of `downloader --silent`, in milliseconds.

Two moments, each RUNS times:
- silent: the info file's server (this script's own listener on 127.0.0.1)
  accepts the connection and never answers; SIGINT goes 300 ms later;
- check: a release of one big file (INFO_URL, served by bench/e2e's nginx);
  SIGINT goes as soon as the file in the destination has its full size, that
  is while its SHA-1 is being finished. The file must end verified and placed
  (the log says "verified") for the run to count.

Usage: bench/cancel_latency.py DOWNLOADER RUNS [INFO_URL SIZE_BYTES]
Prints one line per moment: median, min and max of signal-to-exit.
"""
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

program = sys.argv[1]
runs = int(sys.argv[2])
info_url = sys.argv[3] if len(sys.argv) > 3 else None
size = int(sys.argv[4]) if len(sys.argv) > 4 else 0


def settings(work, url):
    os.makedirs(work + "/config/Corvane", exist_ok=True)
    os.makedirs(work + "/runtime", mode=0o700, exist_ok=True)
    with open(work + "/config/Corvane/user.reg", "w", newline="") as out:
        out.write('Windows Registry Editor Version 5.00\r\n\r\n'
                  '[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\r\n"INIConfig"="%s"\r\n' % url)
    return dict(os.environ, XDG_CONFIG_HOME=work + "/config", XDG_RUNTIME_DIR=work + "/runtime")


def report(name, times):
    print("cancel %s: %.1f ms (median of %d; min %.1f, max %.1f)"
          % (name, statistics.median(times), len(times), min(times), max(times)))


def interrupt(process):
    start = time.monotonic()
    process.send_signal(signal.SIGINT)
    process.wait()
    return (time.monotonic() - start) * 1000


work = tempfile.mkdtemp(prefix="cancel-latency.")
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(16)
environment = settings(work + "/silent", "http://127.0.0.1:%d/info.ini" % listener.getsockname()[1])
times = []
for _ in range(runs):
    process = subprocess.Popen([program, "--silent", "--dest", work + "/dest"], env=environment,
                               stderr=subprocess.DEVNULL)
    connection, _ = listener.accept()  # the request comes and is never answered
    time.sleep(0.3)
    times.append(interrupt(process))
    connection.close()
report("on a silent connection", times)

if info_url:
    environment = settings(work + "/check", info_url)
    times = []
    attempts = 0
    while len(times) < runs and attempts < runs * 3:
        attempts += 1
        dest = work + "/dest-check"
        subprocess.run(["rm", "-rf", dest])
        log = open(work + "/check.log", "w")
        process = subprocess.Popen([program, "--silent", "--dest", dest], env=environment, stderr=log)
        deadline = time.monotonic() + 600
        while process.poll() is None and time.monotonic() < deadline:
            try:
                names = os.listdir(dest)
                if names and os.stat(os.path.join(dest, names[0])).st_size >= size:
                    break
            except FileNotFoundError:
                pass
            time.sleep(0.0005)
        if process.poll() is not None:
            continue  # ended before the signal could come: not a measurement
        elapsed = interrupt(process)
        log.close()
        if "verified" in open(work + "/check.log").read():
            times.append(elapsed)
    if times:
        report("while the last bytes of a %d MiB file are checked" % (size >> 20), times)
    subprocess.run(["rm", "-rf", work + "/dest-check"])
subprocess.run(["rm", "-rf", work])
