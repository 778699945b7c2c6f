#!/usr/bin/env python3
"""Builds the Windows Installer package from packaging/tolvanik.wxs with wixl.

Writes the manifests the package installs into FOLDER beside the two
executables, builds the .msi and pins what wixl makes fresh on every run, so
that one commit gives the same bytes:
  - the package code: derived from the version and everything packed;
  - the summary information's created and saved times: the given time;
  - the files' dates inside the cabinet: the given time.
It also mends what wixl 0.101 writes wrongly or leaves out: the registry
root HKMU (it writes 4 instead of -1), the place of RemoveExistingProducts
(after InstallFinalize; it belongs right after InstallValidate, so that an
upgrade removes the old version before writing the new one) and the
executables' versions.

Usage: make_msi.py MSI FOLDER VERSION EPOCH_SECONDS
           --origin ORIGIN... [--extension-id ID...]
"""

import argparse
import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import uuid
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE / "tolvanik.wxs"
HOST_NAME = "io.tolvanik.host"
DESCRIPTION = "Tolvanik desktop bridge"
UPGRADE_CODE = uuid.UUID("7A67EBCB-6883-4E87-A044-595A574A6247")
CHROMIUM_MANIFEST = HOST_NAME + ".json"
FIREFOX_MANIFEST = HOST_NAME + ".firefox.json"
EXECUTABLES = ["tolvanik_host.exe", "tolvanik_register.exe"]


def manifest_text(allowed_key, allowed):
    # The same text tolvanik_register writes, but with the host named relative
    # to the manifest's folder: the package cannot know that folder.
    manifest = {"name": HOST_NAME, "description": DESCRIPTION, "path": "tolvanik_host.exe",
                "type": "stdio", allowed_key: allowed}
    return json.dumps(manifest, indent=2, sort_keys=True) + "\n"


def filetime(epoch_seconds):
    return (epoch_seconds + 11644473600) * 10_000_000


def stream_offsets(image, stream_name):
    """The file offsets of every byte of one stream of a compound file."""
    sector_size = 1 << struct.unpack_from("<H", image, 0x1E)[0]
    mini_size = 1 << struct.unpack_from("<H", image, 0x20)[0]
    mini_cutoff, first_minifat = struct.unpack_from("<II", image, 0x38)
    first_difat, difat_count = struct.unpack_from("<II", image, 0x44)

    def sector_offset(sector):
        return (sector + 1) * sector_size

    difat = list(struct.unpack_from("<109I", image, 0x4C))
    sector = first_difat
    for _ in range(difat_count):
        entries = struct.unpack_from("<%dI" % (sector_size // 4), image, sector_offset(sector))
        difat.extend(entries[:-1])
        sector = entries[-1]
    fat = []
    for fat_sector in difat:
        if fat_sector >= 0xFFFFFFFA:
            continue
        fat.extend(struct.unpack_from("<%dI" % (sector_size // 4), image,
                                      sector_offset(fat_sector)))

    def chain(start):
        sectors = []
        while start < 0xFFFFFFFA:
            sectors.append(start)
            start = fat[start]
        return sectors

    def big_offsets(start):
        return [sector_offset(s) + i for s in chain(start) for i in range(sector_size)]

    directory = bytes(image[o] for o in big_offsets(struct.unpack_from("<I", image, 0x30)[0]))
    # The first entry is the root; its chain holds the small streams.
    entries = []
    for at in range(0, len(directory), 128):
        length = struct.unpack_from("<H", directory, at + 64)[0]
        name = directory[at:at + max(length - 2, 0)].decode("utf-16-le")
        entries.append((name, *struct.unpack_from("<IQ", directory, at + 116)))
    start, size = next((s, n) for name, s, n in entries[1:] if name == stream_name)
    if size >= mini_cutoff:
        return big_offsets(start)[:size]
    container = big_offsets(entries[0][1])
    minifat = [struct.unpack_from("<I", image, o)[0]
               for o in big_offsets(first_minifat)[::4]]
    offsets = []
    while start < 0xFFFFFFFA:
        offsets.extend(container[start * mini_size + i] for i in range(mini_size))
        start = minifat[start]
    return offsets[:size]


def pin_summary_times(msi, epoch_seconds):
    """Sets the summary information's created and last-saved times in place."""
    image = bytearray(msi.read_bytes())
    offsets = stream_offsets(image, "\x05SummaryInformation")
    stream = bytes(image[o] for o in offsets)
    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    pinned = 0
    for index in range(count):
        property_id, at = struct.unpack_from("<II", stream, section + 8 + index * 8)
        if property_id not in (12, 13):  # created, last saved
            continue
        value_type = struct.unpack_from("<I", stream, section + at)[0]
        if value_type != 64:  # VT_FILETIME
            raise SystemExit("make_msi.py: summary property %d is no time" % property_id)
        value = struct.pack("<Q", filetime(epoch_seconds))
        for i, byte in enumerate(value):
            image[offsets[section + at + 4 + i]] = byte
        pinned += 1
    if pinned != 2:
        raise SystemExit("make_msi.py: the summary information lacks its times")
    msi.write_bytes(image)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("msi", type=Path)
    parser.add_argument("folder", type=Path)
    parser.add_argument("version")
    parser.add_argument("epoch", type=int)
    parser.add_argument("--origin", action="append", default=[])
    parser.add_argument("--extension-id", action="append", default=[])
    options = parser.parse_args()

    folder = options.folder
    files = list(EXECUTABLES)
    (folder / CHROMIUM_MANIFEST).write_text(manifest_text("allowed_origins", options.origin))
    files.append(CHROMIUM_MANIFEST)
    if options.extension_id:
        (folder / FIREFOX_MANIFEST).write_text(
            manifest_text("allowed_extensions", options.extension_id))
        files.append(FIREFOX_MANIFEST)
    # The cabinet keeps each file's date.
    for name in files:
        os.utime(folder / name, (options.epoch, options.epoch))

    contents = hashlib.sha256(options.version.encode() + b"\0" + SOURCE.read_bytes())
    for name in files:
        contents.update(b"\0" + name.encode() + b"\0" + (folder / name).read_bytes())
    package_code = uuid.uuid5(UPGRADE_CODE, "package " + contents.hexdigest())
    product_code = uuid.uuid5(UPGRADE_CODE, "product " + options.version)

    # wixl leaves the executables' versions out, which would make Windows
    # Installer treat them as unversioned files.
    version_queries = []
    for name in EXECUTABLES:
        version_queries += ["-q", "UPDATE `File` SET `Version` = '%s.0' WHERE `File` = '%s'"
                            % (options.version, name)]

    with tempfile.TemporaryDirectory() as scratch:
        built = Path(scratch) / "package.msi"
        # wixl reads the files relative to the working folder only.
        subprocess.run(
            ["wixl", "-a", "x64", "-o", str(built), "-D", "Version=" + options.version,
             "-D", "ProductCode=" + str(product_code).upper(), "-D", "Stage=.",
             "-D", "Firefox=" + ("yes" if options.extension_id else "no"), str(SOURCE)],
            cwd=folder, check=True)
        subprocess.run(
            ["msibuild", str(built),
             "-q", "UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4",
             "-q", "UPDATE `InstallExecuteSequence` SET `Sequence` = 1401 "
                   "WHERE `Action` = 'RemoveExistingProducts'",
             *version_queries,
             "-s", "Tolvanik Host " + options.version, "Tolvanik", "x64;1033",
             "{%s}" % str(package_code).upper()],
            check=True)
        pin_summary_times(built, options.epoch)
        options.msi.write_bytes(built.read_bytes())


if __name__ == "__main__":
    sys.exit(main())
