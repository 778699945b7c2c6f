#!/usr/bin/env python3
"""Drives the host through real browsers: Debian's chromium and firefox-esr,
headless, each with the same test extension code and the same checks; only
how a browser is started, how the host is registered for it and how results
come back differ.

Usage: browser_test.py --build DIR [--wine-build DIR] [--browser chromium|firefox]...
  --build       the native build: tolvanik_register, tolvanik_host, fixtures/
  --wine-build  also run every check against DIR/tolvanik_host.exe under Wine
  --browser     the browsers to run (default both)

Prints one line per check and closes with GoogleTest's summary lines, so that
scripts/test counts the results like every other suite's.
"""

import argparse
import base64
import fcntl
import functools
import hashlib
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

# The suites' shared reporting lives in tests/support; nothing is compiled
# into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from firefox.browser import Firefox  # noqa: E402
from gtest_report import Checks  # noqa: E402
from processes import host_processes, is_alive, stop_group  # noqa: E402

EXTENSION_DIR = Path(__file__).resolve().parent / "extension"
CHROMIUM = Path("/usr/lib/chromium/chromium")
ONE_SHOT_HOST = "io.tolvanik.test"
RUNNING_HOST = "io.tolvanik.test_running"
ONE_MIB = 1024 * 1024


def extension_id():
    """The id the browser derives from the manifest's public key."""
    key = json.loads((EXTENSION_DIR / "manifest.json").read_text())["key"]
    digest = hashlib.sha256(base64.b64decode(key)).hexdigest()[:32]
    return "".join(chr(ord("a") + int(digit, 16)) for digit in digest)


def content_hash(name, colors):
    canonical = name + "".join(
        "|%s:%s:%s:%s"
        % (c["id"].upper(), c["name"], c["hex"], "true" if c.get("isAutoNamed") is True else "false")
        for c in colors
    )
    return hashlib.sha256(canonical.encode()).hexdigest()


def color(ident, name, hex_value, auto_named=False):
    return {"hex": hex_value, "id": ident, "isAutoNamed": auto_named, "isLocked": False, "name": name}


def stored_template(ident, name, colors, deleted=False):
    return {
        "colors": colors,
        "contentHash": content_hash(name, colors),
        "createdAt": 1795000000000.0,
        "createdBy": "desk-1",
        "deleted": deleted,
        "deletedAt": 1796000000000.0 if deleted else None,
        "deletedBy": "desk-1" if deleted else None,
        "id": ident,
        "isLocked": False,
        "lastModified": 1796000000000.0,
        "modifiedBy": "desk-1",
        "name": name,
        "revision": 1,
    }


PREPARED_STORAGE = {
    "tolvanik_active_template": "t-sunset",
    "tolvanik_last_modified": 1796200000000.0,
    "tolvanik_settings": {"language": "de", "theme": "dark"},
    "tolvanik_templates": [
        stored_template("t-sunset", "Sonnenuntergang – Åsa 🌅", [color("c1", "Koralle", "#FF6F61")]),
        stored_template("t-old", "Gelöscht", [color("c1", "Grau", "#808080")], deleted=True),
        stored_template("t-sea", "Mer bleue · 海", [color("c1", "Bleu", "#1E90FF", True)]),
    ],
}


class DevTools:
    """The browser's end of --remote-debugging-pipe: NUL-terminated JSON."""

    def __init__(self, to_browser, from_browser):
        self.to_browser = to_browser
        self.from_browser = from_browser
        self.buffer = b""
        self.next_id = 1

    def call(self, method, params=None, session=None, timeout=30.0):
        ident = self.next_id
        self.next_id += 1
        message = {"id": ident, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._next_message(deadline)
            if reply.get("id") == ident:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply["result"]

    def _next_message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.from_browser], [], [], left)[0]:
                raise TimeoutError("the browser did not answer over DevTools")
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed its DevTools pipe")
            self.buffer += chunk
        text, _, self.buffer = self.buffer.partition(b"\0")
        return json.loads(text)


class Chromium:
    name = "chromium"
    # What sendNativeMessage reports for a reply above the size limit.
    too_large_error = re.escape("Error when communicating with the native messaging host.")

    def __init__(self, root, environment):
        self.root = root
        self.environment = environment
        self.process = None

    def register(self, tool, name, host):
        """The manifest goes into the profile, the one folder this browser
        reads when started with --user-data-dir."""
        subprocess.run([str(tool), "install", "--profile", str(self.root / "profile"), "--name",
                        name, "--host", str(host), "--origin",
                        "chrome-extension://%s/" % extension_id()],
                       check=True, stdout=subprocess.DEVNULL)

    def start(self):
        # The browser reads commands on fd 3 and writes replies on fd 4.
        commands_read, commands_write = os.pipe()
        replies_read, replies_write = os.pipe()
        # Copies above 4, so that placing one end cannot overwrite the other.
        high_read = fcntl.fcntl(commands_read, fcntl.F_DUPFD_CLOEXEC, 10)
        high_write = fcntl.fcntl(replies_write, fcntl.F_DUPFD_CLOEXEC, 10)

        def place_pipes():
            os.dup2(high_read, 3)
            os.dup2(high_write, 4)

        profile = self.root / "profile"
        self.process = subprocess.Popen(
            [
                str(CHROMIUM),
                "--headless=new",
                "--no-sandbox",
                "--disable-gpu",
                "--disable-dev-shm-usage",
                "--no-first-run",
                "--no-default-browser-check",
                "--disable-background-networking",
                "--disable-component-update",
                "--disable-sync",
                "--remote-debugging-pipe",
                "--user-data-dir=%s" % profile,
                "--load-extension=%s" % EXTENSION_DIR,
                "--disable-extensions-except=%s" % EXTENSION_DIR,
                "about:blank",
            ],
            env=self.environment,
            stdin=subprocess.DEVNULL,
            stdout=open(self.root / "browser.log", "wb"),
            stderr=subprocess.STDOUT,
            pass_fds=(3, 4),
            preexec_fn=place_pipes,
            start_new_session=True,
        )
        for fd in (commands_read, replies_write, high_read, high_write):
            os.close(fd)
        self.devtools = DevTools(commands_write, replies_read)
        self.session = self._attach_to_worker()

    def _attach_to_worker(self):
        url = "chrome-extension://%s/" % extension_id()
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            for target in self.devtools.call("Target.getTargets")["targetInfos"]:
                if target["type"] == "service_worker" and target["url"].startswith(url):
                    attached = self.devtools.call(
                        "Target.attachToTarget", {"targetId": target["targetId"], "flatten": True}
                    )
                    if self._worker_ready(attached["sessionId"]):
                        return attached["sessionId"]
            time.sleep(0.05)
        raise RuntimeError("the test extension's service worker did not start")

    def _worker_ready(self, session):
        """True once the worker's script has defined its entry points."""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            result = self.devtools.call(
                "Runtime.evaluate", {"expression": "typeof sendNative", "returnByValue": True},
                session=session)
            if result["result"].get("value") == "function":
                return True
            time.sleep(0.02)
        return False

    def call(self, function, *arguments, timeout=60.0):
        """Runs one of the extension's entry points; its result."""
        expression = "%s(%s)" % (function, ", ".join(js(argument) for argument in arguments))
        result = self.devtools.call(
            "Runtime.evaluate",
            {"expression": expression, "awaitPromise": True, "returnByValue": True},
            session=self.session,
            timeout=timeout,
        )
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def stop(self):
        stop_group(self.process)


class Target:
    """One host build as the browser starts it, with its storage location."""

    def __init__(self, name, root, host, tasklist, storage_dir, timeout_ms):
        self.name = name
        self.root = root
        self.host = host
        self.tasklist = tasklist
        self.storage_dir = storage_dir
        self.timeout_ms = timeout_ms
        self.windows_paths = False

    def host_dirs(self):
        """A host alone (one-shot) and one beside the stand-in tasklist."""
        one_shot = self.root / "one-shot"
        running = self.root / "running"
        for directory in (one_shot, running):
            directory.mkdir(parents=True)
            shutil.copy2(self.host, directory / self.host.name)
        shutil.copy2(self.tasklist, running / self.tasklist.name)
        return one_shot / self.host.name, running / self.host.name

    def storage_file(self):
        return self.storage_dir / "storage.json"

    def write_storage(self, document):
        self.storage_dir.mkdir(parents=True, exist_ok=True)
        temporary = self.storage_dir / "storage.json.desktop-tmp"
        temporary.write_text(json.dumps(document, ensure_ascii=False, indent=2), encoding="utf-8")
        os.replace(temporary, self.storage_file())

    def read_storage(self):
        return json.loads(self.storage_file().read_text(encoding="utf-8"))


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def js(value):
    return json.dumps(value, ensure_ascii=False)


class Scenario:
    def __init__(self, browser, target):
        self.browser = browser
        self.target = target

    def send(self, message, host=ONE_SHOT_HOST):
        outcome = self.browser.call("sendNative", host, message, self.target.timeout_ms)
        expect("reply" in outcome, "no reply: %s" % outcome.get("error"))
        return outcome["reply"]

    def ping(self):
        reply = self.send({"type": "ping"})
        expect(reply == '{"message":"Hello from Windows!","type":"pong"}', reply)

    def get_status(self):
        self.target.write_storage(PREPARED_STORAGE)
        reply = json.loads(self.send({"type": "getStatus"}))
        expect(reply["type"] == "status" and reply["isRunning"] is False, reply)
        names = [(t["id"], t["name"]) for t in reply["templates"]]
        expect(
            names == [("t-sunset", "Sonnenuntergang – Åsa 🌅"), ("t-sea", "Mer bleue · 海")],
            "templates: %s" % names,
        )
        expect(reply["activeTemplateId"] == "t-sunset", reply)

    def set_colors(self):
        self.target.write_storage(PREPARED_STORAGE)
        colors = [color("c1", "Rot", "#FF0000"), color("x2", "Grün", "#00FF00", True)]
        templates = [{"id": "t-neu", "name": "Neu · Ünïcode", "isLocked": True, "colors": colors}]
        message = {"type": "setColors", "templates": templates, "activeTemplateId": "t-neu",
                   "lastModified": 1800000000000}
        reply = self.send(message)
        expect(reply == '{"success":true,"type":"setColorsResult"}', reply)
        stored = self.target.read_storage()
        written = {t["id"]: t for t in stored["tolvanik_templates"]}
        expect("t-neu" in written, "t-neu not stored")
        record = written["t-neu"]
        expect(record["name"] == "Neu · Ünïcode" and record["isLocked"] is True, record)
        expect(record["contentHash"] == content_hash("Neu · Ünïcode", colors), record["contentHash"])
        expect(record["colors"] == colors, record["colors"])
        expect(stored["tolvanik_active_template"] == "t-neu", stored["tolvanik_active_template"])
        expect(stored["tolvanik_last_modified"] == 1800000000000, stored["tolvanik_last_modified"])
        expect(stored["tolvanik_settings"] == PREPARED_STORAGE["tolvanik_settings"], "settings lost")

    def sync_desktop_wins(self):
        self.target.write_storage(PREPARED_STORAGE)
        reply = json.loads(self.send({"type": "syncRequest", "lastModified": 1, "templates": []}))
        expect(reply["type"] == "syncResponse" and reply["winner"] == "mac", reply)
        expect([t["id"] for t in reply["templates"]] == ["t-sunset", "t-sea"], reply["templates"])
        expect(self.target.read_storage() == PREPARED_STORAGE, "the storage changed")

    def sync_extension_wins(self):
        self.target.write_storage(PREPARED_STORAGE)
        templates = [{"id": "t-ext", "name": "Aus dem Browser", "isLocked": False,
                      "colors": [color("c1", "Blau", "#0000FF")]}]
        stamp = 1900000000000
        reply = json.loads(self.send({"type": "syncRequest", "lastModified": stamp,
                                      "templates": templates, "activeTemplateId": "t-ext"}))
        expect(reply == {"lastModified": stamp, "type": "syncResponse", "winner": "chrome"}, reply)
        stored = self.target.read_storage()
        expect(stored["tolvanik_last_modified"] == stamp, stored["tolvanik_last_modified"])
        expect("t-ext" in [t["id"] for t in stored["tolvanik_templates"]], "t-ext not stored")

    def push_without_echo(self):
        self.target.write_storage(PREPARED_STORAGE)
        port = self.browser.call("openPort", RUNNING_HOST)
        # The host is up once it answers; changes in its first second after
        # that are not pushed, so the save waits past it.
        self.browser.call("postToPort", port, {"type": "ping"})
        taken = self.take(port, 1, self.target.timeout_ms)
        expect(taken["messages"] == ['{"message":"Hello from Windows!","type":"pong"}'], taken)
        taken = self.take(port, 1, 1200)
        expect(taken["messages"] == [] and taken["disconnected"] is None,
               "unexpected at start: %s" % taken)
        hosts = host_processes(self.target.root / "running", self.target.windows_paths)
        expect(hosts, "no running host process found")
        edited = json.loads(json.dumps(PREPARED_STORAGE))
        edited["tolvanik_templates"][0]["name"] = "Vom Desktop geändert"
        self.target.write_storage(edited)
        taken = self.take(port, 1, self.target.timeout_ms)
        expect(len(taken["messages"]) == 1, "push: %s" % taken)
        push = json.loads(taken["messages"][0])
        expect(push["type"] == "colors", push)
        expect(push["templates"][0]["name"] == "Vom Desktop geändert", push["templates"][0])

        self.browser.call("postToPort", port, {"type": "setColors", "templates": [],
                                               "activeTemplateId": "", "lastModified": 1})
        taken = self.take(port, 1, self.target.timeout_ms)
        expect(taken["messages"] == ['{"success":true,"type":"setColorsResult"}'], taken)
        taken = self.take(port, 1, 1200)
        expect(taken["messages"] == [], "echo of its own write: %s" % taken["messages"])

        closed = time.monotonic()
        self.browser.call("closePort", port)
        # The browser kills a host 2 s after the port closes; ending by
        # itself means ending well before.
        while any(is_alive(pid) for pid in hosts) and time.monotonic() - closed < 5:
            time.sleep(0.01)
        ended_after = time.monotonic() - closed
        expect(ended_after < 1.5, "the host was still running %.2f s after the port closed" % ended_after)
        return "(host ended %d ms after the port closed)" % (ended_after * 1000)

    def take(self, port, count, milliseconds):
        return self.browser.call("takeFromPort", port, count, milliseconds)

    def largest_status(self):
        """The most templates whose "status" reply still reaches the extension.

        Every template adds the same number of bytes to the reply, so two small
        replies predict the limit; the browser then confirms it on both sides.
        """
        one = self.status_reply_bytes(1)
        each = self.status_reply_bytes(2) - one
        largest = 1 + (ONE_MIB - one) // each
        arriving = self.status_reply_bytes(largest)
        expect(arriving == one + (largest - 1) * each <= ONE_MIB, "%d bytes arrived" % arriving)
        refused = self.status_reply_bytes(largest + 1)
        expect(refused is None, "%d templates (%d bytes) arrived" % (largest + 1, refused or 0))
        return "(%d templates of 5 colours: a reply of %d bytes arrives, %d bytes do not)" % (
            largest, arriving, arriving + each)

    def status_reply_bytes(self, count):
        """The size of the "status" reply to `count` templates, or nothing
        when the browser refuses it."""
        templates = [
            stored_template("template-%05d" % i, "Palette %05d" % i,
                            [color("c%d" % k, "Colour %d" % k, "#%06X" % (i * 5 + k)) for k in range(5)])
            for i in range(count)
        ]
        self.target.write_storage({"tolvanik_active_template": "", "tolvanik_last_modified": 1.0,
                                   "tolvanik_templates": templates})
        outcome = self.browser.call("sendNative", ONE_SHOT_HOST, {"type": "getStatus"},
                                    self.target.timeout_ms)
        if "reply" in outcome:
            return len(outcome["reply"].encode())
        expect(re.fullmatch(self.browser.too_large_error, outcome["error"]), outcome["error"])
        return None


def native_target(build, root, environment):
    appdata = root / "appdata"
    environment["APPDATA"] = str(appdata)
    return Target("native", root, build / "tolvanik_host", build / "fixtures" / "tasklist",
                  appdata / "io.tolvanik.desktop", 10000)


@functools.cache
def wine_appdata():
    """Wine's own APPDATA, asked once: two Wine starts take seconds."""
    windows_path = subprocess.run(["wine", "cmd", "/c", "echo %APPDATA%"], capture_output=True,
                                  text=True, check=True).stdout.strip()
    return Path(subprocess.run(["winepath", "-u", windows_path], capture_output=True, text=True,
                               check=True).stdout.strip())


def wine_target(build, root, environment):
    """The .exe behind a wrapper script, since a manifest names one program."""
    appdata = wine_appdata()
    wrapper = root / "tolvanik_host.exe.sh"
    wrapper.write_text('#!/bin/sh\nexec wine "$(dirname "$0")/tolvanik_host.exe" "$@"\n')
    wrapper.chmod(0o755)
    return WineTarget("wine", root, build / "tolvanik_host.exe", build / "fixtures" / "tasklist.exe",
                      appdata / "io.tolvanik.desktop", 60000, wrapper)


class WineTarget(Target):
    def __init__(self, *arguments):
        *base, self.wrapper = arguments
        super().__init__(*base)
        self.windows_paths = True

    def host_dirs(self):
        hosts = super().host_dirs()
        wrappers = []
        for host in hosts:
            wrapper = host.parent / self.wrapper.name
            shutil.copy2(self.wrapper, wrapper)
            wrappers.append(wrapper)
        return tuple(wrappers)


def run_target(browser_class, make_target, build, tool, checks):
    target_started = time.monotonic()
    root = Path(tempfile.mkdtemp(prefix="tolvanik-browser-"))
    environment = dict(os.environ)
    environment["HOME"] = str(root / "home")
    environment["TOLVANIK_FAKE_TASKLIST_RUNNING"] = "Tolvanik.exe"
    (root / "home").mkdir()
    browser = None
    prefix = "%s/%s" % (browser_class.name.capitalize(), make_target.__name__.split("_")[0])
    try:
        target = make_target(build, root, environment)
        one_shot, running = target.host_dirs()
        browser = browser_class(root, environment)
        browser.register(tool, ONE_SHOT_HOST, one_shot)
        browser.register(tool, RUNNING_HOST, running)
        started = time.monotonic()
        browser.start()
        checks.note("%s: browser up in %d ms" % (prefix, (time.monotonic() - started) * 1000))
        scenario = Scenario(browser, target)
        for name, check in [
            ("ping", scenario.ping),
            ("getStatus", scenario.get_status),
            ("setColors", scenario.set_colors),
            ("syncRequestDesktopWins", scenario.sync_desktop_wins),
            ("syncRequestExtensionWins", scenario.sync_extension_wins),
            ("pushWithoutEcho", scenario.push_without_echo),
            ("largestStatusUnderOneMiB", scenario.largest_status),
        ]:
            checks.run("%s.%s" % (prefix, name), check)
    except Exception as failure:
        checks.fail(prefix, failure)
    finally:
        if browser:
            browser.stop()
        shutil.rmtree(root, ignore_errors=True)
        checks.note("%s: %.1f s in all" % (prefix, time.monotonic() - target_started))


def end_on_signal(number, _frame):
    # Turns termination into an exception, so that the browser's group is
    # still killed on the way out.
    raise SystemExit(128 + number)


def main():
    signal.signal(signal.SIGTERM, end_on_signal)
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", type=Path, required=True)
    parser.add_argument("--wine-build", type=Path)
    parser.add_argument("--browser", action="append", choices=["chromium", "firefox"])
    arguments, _ = parser.parse_known_args()  # scripts/test adds GoogleTest's flags
    build = arguments.build.resolve()
    tool = build / "tolvanik_register"
    checks = Checks("browser")
    for browser_class in (Chromium, Firefox):
        if arguments.browser and browser_class.name not in arguments.browser:
            continue
        run_target(browser_class, native_target, build, tool, checks)
        if arguments.wine_build:
            run_target(browser_class, wine_target, arguments.wine_build.resolve(), tool, checks)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
