#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the project's own
examples: the demo's storage file and the requests the extension sends.

Usage: make_seed_corpora.py OUTPUT_DIR   (one folder per target below it)
"""
import json
import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
DEMO_STORAGE = ROOT / "demo" / "appdata" / "io.tolvanik.desktop" / "storage.json"


def frame(payload: bytes) -> bytes:
    return struct.pack("<I", len(payload)) + payload


def requests(storage: dict) -> list:
    templates = storage["tolvanik_templates"]
    sent = [
        {"id": t["id"], "name": t["name"], "colors": t["colors"], "isLocked": t.get("isLocked", False)}
        for t in templates
    ]
    return [
        {"type": "ping"},
        {"type": "getStatus"},
        {"type": "bogus"},
        {"type": "setColors", "templates": sent, "activeTemplateId": sent[0]["id"],
         "lastModified": 1796200000001.0},
        {"type": "setColors", "templates": [{"id": "new", "name": "Über 日本", "colors": []}]},
        {"type": "syncRequest", "templates": sent, "lastModified": 1.0},
        {"type": "syncRequest", "templates": sent, "lastModified": 1e+16},
    ]


def split(first: bytes, rest: bytes) -> bytes:
    """`first` as the fuzzers read a string of random length, then `rest`."""
    return first.replace(b"\\", b"\\\\") + b"\\\n" + rest


def text(value, pretty=False) -> bytes:
    if pretty:
        return json.dumps(value, indent=2, sort_keys=True, ensure_ascii=False).encode()
    return json.dumps(value, separators=(",", ":"), sort_keys=True, ensure_ascii=False).encode()


def main() -> None:
    out = pathlib.Path(sys.argv[1])
    storage_bytes = DEMO_STORAGE.read_bytes()
    storage = json.loads(storage_bytes)
    messages = [text(r) for r in requests(storage)]
    json_texts = messages + [
        storage_bytes,
        b"[1,-1,0.5,1e+16,1.5e-7,18446744073709551615,-9223372036854775808,true,false,null]",
        b' {"a":1,"a":2} ',
        b'"\\u00e9\\ud83c\\udfa8\\n"',
        b"[" * 127 + b"]" * 127,
    ]
    corpora = {
        # The last byte picks the size of the pieces the stream arrives in.
        "frame_reader": [frame(m) + b"\x07" for m in messages]
        + [b"".join(frame(m) for m in messages) + b"\x00"],
        "json_text": json_texts,
        # The storage bytes, then the backup bytes; the last two bytes say
        # whether the storage file and the backup exist.
        "storage_load": [
            split(storage_bytes, storage_bytes) + b"\x01\x01",
            split(b"{}", storage_bytes) + b"\x01\x01",
            split(b"", storage_bytes) + b"\x01\x00",
            split(b"[1]", b'{"a":1}') + b"\x01\x01",
        ],
        # The stored document, then the incoming message; the last two bytes
        # pick the size of the pieces the new text is written in.
        "storage_update": [split(storage_bytes, m) + b"\x00\x01" for m in messages[3:]]
        + [split(b"", messages[3]) + b"\xff\xff"],
    }
    for name, seeds in corpora.items():
        folder = out / name
        folder.mkdir(parents=True, exist_ok=True)
        for i, seed in enumerate(seeds):
            (folder / f"seed-{i:03d}").write_bytes(seed)


if __name__ == "__main__":
    main()
