"""Firefox as the browser suite drives it, beside the files it packs."""

import json
import select
import socket
import struct
import subprocess
import time
import zipfile
from pathlib import Path

from processes import stop_group

FIREFOX_DIR = Path(__file__).resolve().parent
EXTENSION_DIR = FIREFOX_DIR.parent / "extension"
FIREFOX = Path("/usr/lib/firefox-esr/firefox-esr")
DRIVER_HOST = "io.tolvanik.test_driver"


class Firefox:
    """Firefox loads the extension packed into the profile; the test reaches
    it through a native host of its own (driver_host.py)."""

    name = "firefox"
    extension_id = json.loads((FIREFOX_DIR / "manifest.json").read_text())[
        "browser_specific_settings"]["gecko"]["id"]
    too_large_error = (r"Native application tried to send a message of \d+ bytes, "
                       r"which exceeds the limit of 1048576 bytes\.")
    # The first four let an unsigned extension in the profile load at start;
    # the rest keep the browser from work of its own during the run.
    preferences = {
        "xpinstall.signatures.required": False,
        "extensions.autoDisableScopes": 0,
        "extensions.enabledScopes": 15,
        "extensions.startupScanScopes": 15,
        "extensions.background.idle.enabled": False,  # the driver's port must stay open
        "extensions.update.enabled": False,
        "app.update.enabled": False,
        "browser.shell.checkDefaultBrowser": False,
        "datareporting.policy.dataSubmissionEnabled": False,
        "toolkit.telemetry.enabled": False,
    }

    def __init__(self, root, environment):
        self.root = root
        self.environment = environment
        self.process = None
        self.connection = None
        self.buffer = b""
        self.next_id = 1

    def register(self, tool, name, host):
        subprocess.run([str(tool), "install", "--browser", "firefox", "--name", name,
                        "--host", str(host), "--extension-id", self.extension_id],
                       env=self.environment, check=True, stdout=subprocess.DEVNULL)

    def start(self):
        profile = self.root / "profile"
        (profile / "extensions").mkdir(parents=True)
        (profile / "user.js").write_text("".join(
            "user_pref(%s, %s);\n" % (json.dumps(key), json.dumps(value))
            for key, value in self.preferences.items()))
        with zipfile.ZipFile(profile / "extensions" / (self.extension_id + ".xpi"), "w") as xpi:
            xpi.write(FIREFOX_DIR / "manifest.json", "manifest.json")
            xpi.write(EXTENSION_DIR / "worker.js", "worker.js")
            xpi.write(FIREFOX_DIR / "driver.js", "driver.js")
        manifests = Path(self.environment["HOME"]) / ".mozilla" / "native-messaging-hosts"
        manifests.mkdir(parents=True, exist_ok=True)
        (manifests / (DRIVER_HOST + ".json")).write_text(json.dumps({
            "name": DRIVER_HOST, "description": "test driver", "type": "stdio",
            "path": str(FIREFOX_DIR / "driver_host.py"),
            "allowed_extensions": [self.extension_id]}))

        listener = socket.socket(socket.AF_UNIX)
        listener.bind(str(self.root / "driver.socket"))
        listener.listen(1)
        listener.settimeout(60)
        environment = dict(self.environment)
        environment["TOLVANIK_TEST_DRIVER_SOCKET"] = str(self.root / "driver.socket")
        self.process = subprocess.Popen(
            [str(FIREFOX), "--headless", "--no-remote", "--profile", str(profile), "about:blank"],
            env=environment,
            stdin=subprocess.DEVNULL,
            stdout=open(self.root / "browser.log", "wb"),
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        try:
            self.connection, _ = listener.accept()
        except socket.timeout:
            raise RuntimeError("the test extension did not connect to its driver") from None
        finally:
            listener.close()

    def call(self, function, *arguments, timeout=60.0):
        """Runs one of the extension's entry points; its result."""
        ident = self.next_id
        self.next_id += 1
        payload = json.dumps({"id": ident, "call": function, "args": arguments}).encode()
        self.connection.sendall(struct.pack("=I", len(payload)) + payload)
        deadline = time.monotonic() + timeout
        while True:
            reply = json.loads(self._next_frame(deadline))
            if reply.get("id") == ident:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (function, reply["error"]))
                return reply["value"]

    def _next_frame(self, deadline):
        while len(self.buffer) < 4 or len(self.buffer) < 4 + struct.unpack("=I", self.buffer[:4])[0]:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.connection], [], [], left)[0]:
                raise TimeoutError("the test extension did not answer")
            chunk = self.connection.recv(1 << 20)
            if not chunk:
                raise RuntimeError("the test extension's driver port closed")
            self.buffer += chunk
        length = struct.unpack("=I", self.buffer[:4])[0]
        frame, self.buffer = self.buffer[4:4 + length], self.buffer[4 + length:]
        return frame

    def stop(self):
        if self.connection:
            self.connection.close()
        stop_group(self.process)
