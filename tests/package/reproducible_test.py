#!/usr/bin/env python3
"""Builds the release twice from this checkout, in two build folders, and
checks that the zips are byte for byte the same, that no link time stamp is
left in the executables and that both carry the project's version.

Usage: reproducible_test.py   (from the repository root; scripts/test runs it)
Closes with GoogleTest's summary lines, which scripts/test counts.
"""

import re
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def pe_time_stamps(image):
    """The COFF header's stamp and the resource directory's stamp."""
    header = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[header:header + 4] == b"PE\0\0", "no PE header"
    coff_stamp = struct.unpack_from("<I", image, header + 8)[0]
    sections = struct.unpack_from("<H", image, header + 6)[0]
    optional_size = struct.unpack_from("<H", image, header + 20)[0]
    table = header + 24 + optional_size
    for index in range(sections):
        section = table + index * 40
        if image[section:section + 8].rstrip(b"\0") == b".rsrc":
            raw = struct.unpack_from("<I", image, section + 20)[0]
            return coff_stamp, struct.unpack_from("<I", image, raw + 4)[0]
    raise AssertionError("no resource section")


def package(work, label):
    output = subprocess.run(
        ["scripts/package", str(work / ("build-" + label)), str(work / ("dist-" + label))],
        cwd=ROOT, capture_output=True, text=True)
    assert output.returncode == 0, output.stdout[-2000:] + output.stderr[-2000:]
    return Path(output.stdout.strip().splitlines()[-1])


def main():
    version = re.search(r"project\(tolvanik_host VERSION ([0-9.]+)",
                        (ROOT / "CMakeLists.txt").read_text()).group(1)
    checks = []
    with tempfile.TemporaryDirectory(prefix="tolvanik-package-", dir=ROOT / "build") as work:
        work = Path(work)
        first = package(work, "a")
        second = package(work, "b")
        checks.append(("Package.NamedForVersion",
                       first.name == "tolvanik-%s-windows-x86_64.zip" % version, first.name))
        checks.append(("Package.ByteIdenticalTwice",
                       first.read_bytes() == second.read_bytes(), "the two zips differ"))
        with zipfile.ZipFile(first) as archive:
            names = archive.namelist()
            checks.append(("Package.Contents", names == [
                "INSTALL.md", "SHA256SUMS", "tolvanik_host.exe", "tolvanik_register.exe"], names))
            for program in ("tolvanik_host.exe", "tolvanik_register.exe"):
                image = archive.read(program)
                stamps = pe_time_stamps(image)
                checks.append(("Package.NoTimeStampIn_" + program, stamps == (0, 0), stamps))
                wide_version = version.encode("utf-16-le")
                checks.append(("Package.VersionResourceIn_" + program,
                               image.count(wide_version) >= 2, "no version strings"))
    for name, passed, detail in checks:
        print("[       OK ] %s" % name if passed else "[  FAILED  ] %s: %s" % (name, detail))
    failed = [name for name, passed, _ in checks if not passed]
    print("[==========] %d tests from package ran." % len(checks))
    print("[  PASSED  ] %d tests." % (len(checks) - len(failed)))
    if failed:
        print("[  FAILED  ] %d tests, listed below:" % len(failed))
        for name in failed:
            print("[  FAILED  ] %s" % name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
