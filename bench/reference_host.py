#!/usr/bin/env python3
"""A host written with Python's standard library only: the yardstick that
tells whether ours is worth its C++.

It answers "ping", "getStatus", "setColors" and "syncRequest" with the same
reply bytes as ours and writes the same storage bytes, doing the same work:
the presence probe through "tasklist" (beside this file, then on PATH), the
lock on storage.json.lock, the load with fallback to the backup, the merge
with content hash, revision, stamps and device id, the backup written
through the temporary file, and the new file flushed to stable storage and
renamed into place.

Like ours it answers one request and ends when the desktop application does
not run, and otherwise answers requests until its input ends. It pushes no
changes: the bench measures its requests only.

Storage: $APPDATA/io.tolvanik.desktop/storage.json. POSIX only.
"""
import fcntl
import hashlib
import json
import os
import struct
import subprocess
import sys
import time

MAX_FRAME = 4 * 1024 * 1024
DESKTOP_IMAGES = ("Tolvanik.exe", "app.exe")
INT64_MAX = 2**63 - 1


# ---- JSON text -------------------------------------------------------------

def _integer(text):
    value = int(text)
    # Integers beyond 64 bits become floating-point numbers, as in our host.
    return value if -(2**63) <= value < 2**64 else float(text)


def _refuse_constant(name):
    raise ValueError("not JSON: " + name)


def parse(data):
    """The value of one JSON text in UTF-8, or None when it is not one."""
    try:
        return json.loads(data.decode("utf-8"), parse_int=_integer,
                          parse_constant=_refuse_constant)
    except (UnicodeDecodeError, ValueError, RecursionError):
        return None


def compact(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"),
                      sort_keys=True).encode("utf-8")


def pretty(value):
    return json.dumps(value, ensure_ascii=False, indent=2, sort_keys=True).encode("utf-8")


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


# ---- frames ----------------------------------------------------------------

def read_message(stream):
    header = stream.read(4)
    if len(header) < 4:
        return None
    length = struct.unpack("<I", header)[0]
    if not 1 <= length <= MAX_FRAME:
        return None
    payload = stream.read(length)
    if len(payload) < length:
        return None
    return parse(payload)


def send_message(stream, value):
    payload = compact(value)
    try:
        stream.write(struct.pack("<I", len(payload)) + payload)
        stream.flush()
    except OSError:
        pass


# ---- presence probe ----------------------------------------------------------

def find_tasklist():
    directories = [os.path.dirname(os.path.abspath(__file__))]
    directories += [d for d in os.environ.get("PATH", "").split(os.pathsep) if d]
    for directory in directories:
        candidate = os.path.join(directory, "tasklist")
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return None


def is_desktop_app_running():
    program = find_tasklist()
    if program is None:
        return False
    for image in DESKTOP_IMAGES:
        try:
            listing = subprocess.run([program, "/FI", "IMAGENAME eq " + image, "/NH"],
                                     stdin=subprocess.DEVNULL, capture_output=True).stdout
        except OSError:
            continue
        if image.encode() in listing:
            return True
    return False


# ---- storage files -----------------------------------------------------------

class StorageFiles:
    def __init__(self, storage_path):
        self.path = storage_path
        self.directory = os.path.dirname(storage_path)
        self.lock_path = storage_path + ".lock"
        self.temporary = storage_path + ".tmp"
        self.backup = storage_path + ".bak"

    def lock(self):
        """The open, locked lock file, or None."""
        try:
            fd = os.open(self.lock_path, os.O_WRONLY | os.O_CREAT, 0o666)
        except OSError:
            return None
        try:
            fcntl.lockf(fd, fcntl.LOCK_EX)
        except OSError:
            os.close(fd)
            return None
        return fd

    @staticmethod
    def unlock(fd):
        try:
            fcntl.lockf(fd, fcntl.LOCK_UN)
        finally:
            os.close(fd)

    @staticmethod
    def read_object(path):
        try:
            with open(path, "rb") as file:
                value = parse(file.read())
        except OSError:
            return None
        return value if isinstance(value, dict) and value else None

    def load(self):
        document = self.read_object(self.path)
        if document is not None:
            return document
        document = self.read_object(self.backup)
        if document is not None:
            try:
                with open(self.backup, "rb") as source, open(self.path, "wb") as target:
                    target.write(source.read())
            except OSError:
                pass
        return document

    def _write_durable(self, data):
        fd = os.open(self.temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
        try:
            view = memoryview(data)
            while view:
                view = view[os.write(fd, view):]
            os.fsync(fd)
        finally:
            os.close(fd)

    def commit(self, data):
        try:
            with open(self.path, "rb") as current:
                previous = current.read()
        except OSError:
            previous = None
        try:
            if previous is not None:
                self._write_durable(previous)
                os.rename(self.temporary, self.backup)
            self._write_durable(data)
            os.rename(self.temporary, self.path)
        except OSError:
            return
        fd = os.open(self.directory, os.O_RDONLY)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)


# ---- templates ---------------------------------------------------------------

def _member(value, key, default):
    return value.get(key, default) if isinstance(value, dict) else default


def color_view(entry):
    return {"hex": _member(entry, "hex", ""), "id": _member(entry, "id", ""),
            "isAutoNamed": _member(entry, "isAutoNamed", False),
            "isLocked": _member(entry, "isLocked", False), "name": _member(entry, "name", "")}


def template_view(template):
    if not isinstance(template, dict):
        return template
    colors = template.get("colors")
    return {"colors": [color_view(c) for c in colors] if isinstance(colors, list) else [],
            "id": template.get("id", ""), "isLocked": template.get("isLocked", False),
            "name": template.get("name", "")}


def visible_templates(stored):
    return [template_view(t) for t in stored
            if not (isinstance(t, dict) and t.get("deleted") is True)]


def _text(value):
    return value if isinstance(value, str) else ""


def content_hash(name, colors):
    parts = [name]
    for color in colors:
        auto_named = _member(color, "isAutoNamed", False) is True
        parts.append("|%s:%s:%s:%s" % (_text(_member(color, "id", "")).upper(),
                                       _text(_member(color, "name", "")),
                                       _text(_member(color, "hex", "")),
                                       "true" if auto_named else "false"))
    return hashlib.sha256("".join(parts).encode("utf-8", "surrogatepass")).hexdigest()


def next_revision(stored):
    if not isinstance(stored, int) or isinstance(stored, bool) or stored > INT64_MAX:
        return 1
    return stored if stored == INT64_MAX else stored + 1


def merge_template(incoming, index, stamp, device):
    template_id = _text(_member(incoming, "id", ""))
    name = _text(_member(incoming, "name", ""))
    colors = _member(incoming, "colors", [])
    colors = colors if isinstance(colors, list) else []
    locked = _member(incoming, "isLocked", False)
    locked = locked if isinstance(locked, bool) else False
    digest = content_hash(name, colors)
    stored = index.get(template_id)
    if stored is not None:
        record = dict(stored)
        record.update(name=name, colors=colors, isLocked=locked, contentHash=digest,
                      lastModified=stamp, modifiedBy=device,
                      revision=next_revision(stored.get("revision")))
        return record
    return {"id": template_id, "name": name, "colors": colors, "isLocked": locked,
            "contentHash": digest, "createdAt": stamp, "createdBy": device,
            "lastModified": stamp, "modifiedBy": device, "revision": 1, "deleted": False,
            "deletedAt": None, "deletedBy": None}


# ---- storage operations --------------------------------------------------------

def read_snapshot(files):
    """(templates, active template id, last modified)."""
    fd = files.lock()
    if fd is None:
        return [], "", 0.0
    try:
        document = files.load() or {}
    finally:
        files.unlock(fd)
    stored = document.get("tolvanik_templates")
    active = document.get("tolvanik_active_template")
    stamp = document.get("tolvanik_last_modified")
    return (visible_templates(stored) if isinstance(stored, list) else [],
            active if isinstance(active, str) else "",
            float(stamp) if is_number(stamp) else 0.0)


def update_storage(files, message):
    incoming = _member(message, "templates", None)
    if not isinstance(incoming, list):
        return
    active = _text(_member(message, "activeTemplateId", ""))
    stamp = _member(message, "lastModified", None)
    stamp = float(stamp) if is_number(stamp) else float(time.time_ns() // 1_000_000)
    fd = files.lock()
    if fd is None:
        return
    try:
        document = files.load() or {}
        stored = document.get("tolvanik_templates")
        index = {t["id"]: t for t in (stored if isinstance(stored, list) else [])
                 if isinstance(t, dict) and isinstance(t.get("id"), str)}
        device = _member(document.get("tolvanik_sync_config"), "deviceId", None)
        device = device if isinstance(device, str) else "chrome-host"
        document["tolvanik_templates"] = [merge_template(t, index, stamp, device)
                                          for t in incoming]
        document["tolvanik_active_template"] = active
        document["tolvanik_last_modified"] = stamp
        files.commit(pretty(document))
    finally:
        files.unlock(fd)


# ---- dispatch ------------------------------------------------------------------

def handle(files, message, out):
    kind = _member(message, "type", None)
    if kind == "ping":
        send_message(out, {"message": "Hello from Windows!", "type": "pong"})
    elif kind == "getStatus":
        running = is_desktop_app_running()
        templates, active, stamp = read_snapshot(files)
        send_message(out, {"activeTemplateId": active, "isRunning": running,
                           "lastModified": stamp, "templates": templates, "type": "status"})
    elif kind == "setColors":
        update_storage(files, message)
        send_message(out, {"success": True, "type": "setColorsResult"})
    elif kind == "syncRequest":
        incoming = _member(message, "lastModified", None)
        incoming = float(incoming) if is_number(incoming) else 0.0
        templates, active, stamp = read_snapshot(files)
        if stamp > incoming:
            send_message(out, {"activeTemplateId": active, "lastModified": stamp,
                               "templates": templates, "type": "syncResponse",
                               "winner": "mac"})
        else:
            update_storage(files, message)
            send_message(out, {"lastModified": incoming, "type": "syncResponse",
                               "winner": "chrome"})
    else:
        send_message(out, {"message": "Unknown command", "type": "error"})


def main():
    appdata = os.environ.get("APPDATA", "")
    files = StorageFiles(os.path.join(appdata, "io.tolvanik.desktop", "storage.json"))
    source, out = sys.stdin.buffer, sys.stdout.buffer
    loop = is_desktop_app_running()
    while True:
        message = read_message(source)
        if message is None:
            break
        handle(files, message, out)
        if not loop:
            break


if __name__ == "__main__":
    main()
