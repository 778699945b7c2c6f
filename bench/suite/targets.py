"""Where and how the programs under measurement run: natively or through
Wine, each in a scratch directory of its own beside a stand-in tasklist when
it is to find the desktop application running."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time


def frame(payload):
    return struct.pack("<I", len(payload)) + payload


def read_exactly(stream, size):
    data = stream.read(size)
    return data if len(data) == size else None


def read_frame(stream):
    header = read_exactly(stream, 4)
    return None if header is None else read_exactly(stream, struct.unpack("<I", header)[0])


def _wine_appdata():
    text = subprocess.run(["wine", "cmd", "/c", "echo", "%APPDATA%"], capture_output=True,
                          text=True, check=True).stdout.strip()
    return subprocess.run(["winepath", "-u", text], capture_output=True, text=True,
                          check=True).stdout.strip()


class Target:
    """One platform: its programs, its storage directory and how to start."""

    def __init__(self, name, programs, scratch):
        self.name = name
        self.wine = name == "wine"
        self.programs = programs
        self.scratch = scratch
        if self.wine:
            appdata = _wine_appdata()
            self.env = dict(os.environ)
        else:
            appdata = os.path.join(scratch, "appdata")
            self.env = dict(os.environ, APPDATA=appdata)
        self.storage_dir = os.path.join(appdata, "io.tolvanik.desktop")

    def program(self, name):
        return self.programs[name]

    def log_env(self):
        """The environment with the host's log switched on; natively the log
        goes below the scratch directory (Wine keeps it in its prefix)."""
        return dict(self.env, TOLVANIK_HOST_LOG="1",
                    XDG_STATE_HOME=os.path.join(self.scratch, "state"))

    def storage_file(self, name="storage.json"):
        return os.path.join(self.storage_dir, name)

    def reset_storage(self, text):
        # The push tool removes the directory it used when it ends.
        os.makedirs(self.storage_dir, exist_ok=True)
        for name in os.listdir(self.storage_dir):
            os.remove(os.path.join(self.storage_dir, name))
        with open(self.storage_file(), "wb") as out:
            out.write(text)
        # Otherwise the next flush a program makes pays for writing these
        # files and removing the old ones as well.
        os.sync()

    def command(self, path):
        if path.endswith(".py"):
            return [sys.executable, path]
        return (["wine"] if self.wine else []) + [path]

    def remove_storage(self):
        shutil.rmtree(self.storage_dir, ignore_errors=True)


class Running:
    """A program started in a scratch directory of its own, talked to
    through its standard input and output; beside it the stand-in tasklist
    when `running` says the desktop application is to look running. `env`
    replaces the target's environment."""

    def __init__(self, target, program, running, env=None):
        self.dir = tempfile.mkdtemp(prefix="run-", dir=target.scratch)
        path = os.path.join(self.dir, os.path.basename(program))
        shutil.copy(program, path)
        if running:
            tasklist = target.program("tasklist")
            shutil.copy(tasklist, os.path.join(self.dir, os.path.basename(tasklist)))
        self.child = subprocess.Popen(target.command(path), stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, env=env or target.env, cwd=self.dir)

    def send(self, data):
        self.child.stdin.write(data)
        self.child.stdin.flush()

    def reply(self):
        """The next frame that is not a change push."""
        while True:
            payload = read_frame(self.child.stdout)
            if payload is None:
                raise RuntimeError("the program ended without a reply")
            # "type" sorts last among a push's members.
            if not payload.endswith(b'"type":"colors"}'):
                return payload

    def request(self, data):
        """The reply and the seconds from the write to its last byte."""
        start = time.perf_counter()
        self.send(data)
        payload = self.reply()
        return payload, time.perf_counter() - start

    def peak_memory_kib(self):
        """The program's peak resident set so far, as the kernel keeps it for
        the process. Not the rusage of the waited child: that also counts the
        resident set of this script, whose memory a child started with
        vfork shares until it runs its program."""
        with open("/proc/%d/status" % self.child.pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmHWM for process %d" % self.child.pid)

    def close(self):
        self.child.stdin.close()
        # A push nobody reads would keep the program blocked on a full pipe.
        threading.Thread(target=self.child.stdout.read, daemon=True).start()
        self.child.wait()
        shutil.rmtree(self.dir, ignore_errors=True)
