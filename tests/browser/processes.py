"""The processes the browser suite starts, and the hosts the browsers start."""

import os
import signal
from pathlib import Path


def stop_group(process):
    """Ends the browser and everything it started: hosts outlive it."""
    if process is None:
        return
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()


def host_processes(directory, windows_paths):
    """The ids of processes whose command line names a file in `directory`."""
    patterns = [str(directory).encode()]
    if windows_paths:
        patterns.append(("Z:" + str(directory).replace("/", "\\")).encode())
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if any(pattern.lower() in part.lower() for part in command for pattern in patterns):
            found.append(int(entry.name))
    return found


def is_alive(pid):
    try:
        state = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    return state != "Z"
