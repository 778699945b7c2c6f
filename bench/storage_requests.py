#!/usr/bin/env python3
"""Times the storage requests on a desktop storage file of 1,000 templates.

For "getStatus" and for a "setColors" that writes the same 1,000 templates
of 12 colours back: the one-shot round trip (process start to exit) and the
round trip of one request inside a running host, with the host's peak
resident memory. Prints numbers; decides nothing.

    bench/storage_requests.py HOST [TASKLIST] [--wine] [--runs N]

TASKLIST is a program that lists the desktop application, placed beside the
host for the running-host figures (bench/running_tasklist.c builds one).
"""
import argparse
import json
import os
import shutil
import statistics
import struct
import subprocess
import tempfile
import time

TEMPLATES = 1000
COLORS = 12


def record(t):
    colors = [{"hex": "#%06x" % ((t * 7919 + c * 104729) % 0xFFFFFF), "id": "color-%d-%d" % (t, c),
               "isAutoNamed": c % 3 == 0, "isLocked": False, "name": "Colour %d of template %d" % (c, t)}
              for c in range(COLORS)]
    return {"colors": colors, "contentHash": "0" * 64, "createdAt": 1733600000000.0,
            "createdBy": "desk", "deleted": t % 50 == 0, "deletedAt": None, "deletedBy": None,
            "id": "template-%04d" % t, "isLocked": False, "lastModified": 1733600000000.0,
            "modifiedBy": "desk", "name": "Template %d" % t, "revision": 3}


def frame(message):
    payload = json.dumps(message, separators=(",", ":")).encode()
    return struct.pack("<I", len(payload)) + payload


def read_frame(stream):
    header = stream.read(4)
    if len(header) < 4:
        return None
    return stream.read(struct.unpack("<I", header)[0])


def wine_appdata():
    text = subprocess.run(["wine", "cmd", "/c", "echo", "%APPDATA%"], capture_output=True,
                          text=True, check=True).stdout.strip()
    return subprocess.run(["winepath", "-u", text], capture_output=True, text=True,
                          check=True).stdout.strip()


class Setup:
    def __init__(self, host, tasklist, wine):
        self.wine = wine
        self.dir = tempfile.mkdtemp(prefix="tolvanik-bench-")
        self.host = os.path.join(self.dir, os.path.basename(host))
        shutil.copy(host, self.host)
        self.tasklist_source = tasklist
        appdata = wine_appdata() if wine else os.path.join(self.dir, "appdata")
        self.env = dict(os.environ, APPDATA=appdata)
        self.storage_dir = os.path.join(appdata, "io.tolvanik.desktop")
        os.makedirs(self.storage_dir, exist_ok=True)
        self.document = {"tolvanik_active_template": "template-0001",
                         "tolvanik_last_modified": 1733600000000.0,
                         "tolvanik_sync_config": {"deviceId": "desk"},
                         "tolvanik_templates": [record(t) for t in range(TEMPLATES)],
                         "window": {"height": 600, "width": 800}}

    def reset_storage(self):
        for name in os.listdir(self.storage_dir):
            os.remove(os.path.join(self.storage_dir, name))
        with open(os.path.join(self.storage_dir, "storage.json"), "w") as out:
            json.dump(self.document, out, indent=2, sort_keys=True)

    def set_running(self, running):
        target = os.path.join(self.dir, os.path.basename(self.tasklist_source or "tasklist"))
        if running:
            shutil.copy(self.tasklist_source, target)
        elif os.path.exists(target):
            os.remove(target)

    def command(self):
        return (["wine"] if self.wine else []) + [self.host]


def one_shot(setup, request, runs):
    times, peaks = [], []
    setup.set_running(False)
    for _ in range(runs):
        start = time.perf_counter()
        child = subprocess.Popen(setup.command(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 env=setup.env, cwd=setup.dir)
        child.stdin.write(frame(request))
        child.stdin.close()
        reply = read_frame(child.stdout)
        _, _, usage = os.wait4(child.pid, 0)
        times.append(time.perf_counter() - start)
        peaks.append(usage.ru_maxrss)
        assert reply, "no reply"
    return times, max(peaks)


def in_loop(setup, request, runs):
    setup.set_running(True)
    child = subprocess.Popen(setup.command(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             env=setup.env, cwd=setup.dir)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        child.stdin.write(frame(request))
        child.stdin.flush()
        while True:
            reply = read_frame(child.stdout)
            assert reply, "no reply"
            if b'"type":"colors"' not in reply:
                break
        times.append(time.perf_counter() - start)
    child.stdin.close()
    _, _, usage = os.wait4(child.pid, 0)
    return times, usage.ru_maxrss


def report(label, times, peak_kib):
    ms = [t * 1000 for t in times]
    print("%-44s median %8.1f ms  worst %8.1f ms  peak RSS %7.1f MiB" %
          (label, statistics.median(ms), max(ms), peak_kib / 1024))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("host")
    parser.add_argument("tasklist", nargs="?")
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    setup = Setup(args.host, args.tasklist, args.wine)
    set_colors = {"type": "setColors", "activeTemplateId": "template-0001",
                  "lastModified": 1733600000000.0,
                  "templates": [{k: r[k] for k in ("colors", "id", "isLocked", "name")}
                                for r in setup.document["tolvanik_templates"]]}
    setup.reset_storage()
    size = os.path.getsize(os.path.join(setup.storage_dir, "storage.json"))
    where = "wine" if args.wine else "native"
    print("storage file: %d templates, %.2f MB (%s)" % (TEMPLATES, size / 1e6, where))
    report("getStatus, one-shot process", *one_shot(setup, {"type": "getStatus"}, args.runs))
    report("setColors of 1,000 templates, one-shot", *one_shot(setup, set_colors, args.runs))
    if args.tasklist:
        setup.reset_storage()
        report("getStatus, running host", *in_loop(setup, {"type": "getStatus"}, args.runs))
        report("setColors of 1,000 templates, running host", *in_loop(setup, set_colors, args.runs))
    shutil.rmtree(setup.dir)


if __name__ == "__main__":
    main()
