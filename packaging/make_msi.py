#!/usr/bin/python3
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

Runs under Debian's python3, which sees Debian's python3-olefile.

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

try:
    import olefile
except ImportError:
    sys.exit("make_msi.py: no olefile: run it with /usr/bin/python3 after "
             "scripts/build --install-only python3-olefile")

HERE = Path(__file__).resolve().parent
SOURCE = HERE / "tolvanik.wxs"
HOST_NAME = "io.tolvanik.host"
DESCRIPTION = "Tolvanik desktop bridge"
# What ties every version of the product together for upgrades; wixl gets it
# from here, and the product and package codes are derived from it.
UPGRADE_CODE = uuid.UUID("7A67EBCB-6883-4E87-A044-595A574A6247")
CHROMIUM_MANIFEST = HOST_NAME + ".json"
FIREFOX_MANIFEST = HOST_NAME + ".firefox.json"
EXECUTABLES = ["tolvanik_host.exe", "tolvanik_register.exe"]

SUMMARY_STREAM = "\x05SummaryInformation"
# The summary information is a property set: a 28-byte header and one
# 16-byte format id, then the offset of its only section. The section starts
# with its size and property count, then one (id, offset) pair per property;
# each value starts with its 4-byte type.
SECTION_OFFSET_AT = 44
SECTION_HEADER_SIZE = 8
PROPERTY_ENTRY_SIZE = 8
VALUE_TYPE_SIZE = 4
CREATED_TIME, LAST_SAVED_TIME = 12, 13
VT_FILETIME = 64
# A FILETIME counts 100 ns steps from 1601-01-01.
SECONDS_FROM_1601_TO_1970 = 11644473600


def fail(message):
    raise SystemExit("make_msi.py: " + message)


def parse_options():
    parser = argparse.ArgumentParser()
    parser.add_argument("msi", type=Path)
    parser.add_argument("folder", type=Path)
    parser.add_argument("version")
    parser.add_argument("epoch", type=int)
    parser.add_argument("--origin", action="append", default=[])
    parser.add_argument("--extension-id", action="append", default=[])
    return parser.parse_args()


def manifest_text(allowed_key, allowed):
    # The same text tolvanik_register writes, but with the host named relative
    # to the manifest's folder: the package cannot know that folder.
    manifest = {"name": HOST_NAME, "description": DESCRIPTION, "path": "tolvanik_host.exe",
                "type": "stdio", allowed_key: allowed}
    return json.dumps(manifest, indent=2, sort_keys=True) + "\n"


def stage_files(options):
    """Writes the manifests beside the executables and dates every file
    packed, since the cabinet keeps each file's date; their names."""
    folder = options.folder
    files = list(EXECUTABLES)
    (folder / CHROMIUM_MANIFEST).write_text(manifest_text("allowed_origins", options.origin))
    files.append(CHROMIUM_MANIFEST)
    if options.extension_id:
        (folder / FIREFOX_MANIFEST).write_text(
            manifest_text("allowed_extensions", options.extension_id))
        files.append(FIREFOX_MANIFEST)
    for name in files:
        os.utime(folder / name, (options.epoch, options.epoch))
    return files


def package_code(folder, files, version):
    """Derived from everything packed, so that only a change gives a new one."""
    contents = hashlib.sha256(version.encode() + b"\0" + SOURCE.read_bytes())
    for name in files:
        contents.update(b"\0" + name.encode() + b"\0" + (folder / name).read_bytes())
    return uuid.uuid5(UPGRADE_CODE, "package " + contents.hexdigest())


def run_tool(command, **options):
    """Runs one of msitools' programs: its absence or failure ends the build."""
    try:
        subprocess.run(command, check=True, **options)
    except FileNotFoundError:
        fail("no %s: scripts/build --install-only wixl msitools installs it" % command[0])
    except subprocess.CalledProcessError as failure:
        fail("%s ended with status %d" % (command[0], failure.returncode))


def build_with_wixl(built, options):
    product_code = uuid.uuid5(UPGRADE_CODE, "product " + options.version)
    variables = {"Version": options.version, "UpgradeCode": str(UPGRADE_CODE).upper(),
                 "ProductCode": str(product_code).upper(), "Stage": ".",
                 "Firefox": "yes" if options.extension_id else "no"}
    defines = [argument for name, value in variables.items()
               for argument in ("-D", "%s=%s" % (name, value))]
    # wixl reads the files relative to the working folder only.
    run_tool(["wixl", "-a", "x64", "-o", str(built), *defines, str(SOURCE)], cwd=options.folder)


def mend_tables(built, version, code):
    """Writes what wixl gets wrong or leaves out, and the package code."""
    # Without their versions Windows Installer treats the executables as
    # unversioned files.
    version_queries = []
    for name in EXECUTABLES:
        version_queries += ["-q", "UPDATE `File` SET `Version` = '%s.0' WHERE `File` = '%s'"
                            % (version, name)]
    run_tool(["msibuild", str(built),
              "-q", "UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4",
              "-q", "UPDATE `InstallExecuteSequence` SET `Sequence` = 1401 "
                    "WHERE `Action` = 'RemoveExistingProducts'",
              *version_queries,
              "-s", "Tolvanik Host " + version, "Tolvanik", "x64;1033",
              "{%s}" % str(code).upper()])


def time_value_offsets(stream):
    """Where the created and last-saved times lie in the summary information."""
    section = struct.unpack_from("<I", stream, SECTION_OFFSET_AT)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    offsets = []
    for index in range(count):
        entry = section + SECTION_HEADER_SIZE + index * PROPERTY_ENTRY_SIZE
        property_id, at = struct.unpack_from("<II", stream, entry)
        if property_id not in (CREATED_TIME, LAST_SAVED_TIME):
            continue
        if struct.unpack_from("<I", stream, section + at)[0] != VT_FILETIME:
            fail("summary property %d is no time" % property_id)
        offsets.append(section + at + VALUE_TYPE_SIZE)
    if len(offsets) != 2:
        fail("the summary information lacks its times")
    return offsets


def pin_summary_times(msi, epoch_seconds):
    """Sets the summary information's created and last-saved times in place."""
    filetime = (epoch_seconds + SECONDS_FROM_1601_TO_1970) * 10_000_000
    with olefile.OleFileIO(str(msi), write_mode=True) as container:
        if not container.exists(SUMMARY_STREAM):
            fail("%s has no summary information" % msi.name)
        stream = bytearray(container.openstream(SUMMARY_STREAM).read())
        for at in time_value_offsets(stream):
            struct.pack_into("<Q", stream, at, filetime)
        container.write_stream(SUMMARY_STREAM, bytes(stream))


def main():
    options = parse_options()
    files = stage_files(options)
    code = package_code(options.folder, files, options.version)
    with tempfile.TemporaryDirectory() as scratch:
        built = Path(scratch) / "package.msi"
        build_with_wixl(built, options)
        mend_tables(built, options.version, code)
        pin_summary_times(built, options.epoch)
        options.msi.write_bytes(built.read_bytes())


if __name__ == "__main__":
    main()
