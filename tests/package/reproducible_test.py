#!/usr/bin/env python3
"""Builds the release twice from this checkout, in two build folders, and
checks that the zips and the installers are byte for byte the same, that no
link time stamp is left in the executables and that both carry the project's
version; then signs a release with a throwaway certificate and checks every
signature, and that one changed byte breaks it.

With --keep DIR it leaves there what the installer test installs:
current.msi, and older.msi built under a lower version number.

Usage: reproducible_test.py [--keep DIR]   (from the repository root; scripts/test runs it)
Closes with GoogleTest's summary lines, which scripts/test counts.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

# The suites' shared reporting lives in tests/support; nothing is compiled
# into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from gtest_report import Checks  # noqa: E402
from release import PROGRAMS, ROOT, older_installer, package, scratch_folder  # noqa: E402


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


def signature_checks(checks, work, zip_path, msi, certificate):
    """Every signature verifies, and a changed byte does not."""
    def verifies(path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", str(certificate),
                               "-in", str(path)], capture_output=True).returncode == 0

    unpacked = work / "signed-zip"
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(unpacked)
    carried = work / "signed-msi"
    subprocess.run(["msiextract", "-C", str(carried), str(msi)], check=True, capture_output=True)
    for program in PROGRAMS:
        checks.expect("Signing.VerifiesInZip_" + program, verifies(unpacked / program),
                      "osslsigncode verify refuses it")
        in_msi = next(carried.rglob(program))
        checks.expect("Signing.VerifiesInMsi_" + program, verifies(in_msi),
                      "the .msi carries it unsigned")
    checks.expect("Signing.VerifiesMsi", verifies(msi), "osslsigncode verify refuses it")
    for path in (unpacked / PROGRAMS[0], msi):
        tampered = work / ("tampered-" + path.name)
        image = bytearray(path.read_bytes())
        image[len(image) // 2] ^= 0x01
        tampered.write_bytes(image)
        checks.expect("Signing.ChangedByteFails_" + path.suffix[1:], not verifies(tampered),
                      "verify accepts a changed byte")


def sign_release(checks, work):
    """Signs a release with a throwaway self-signed code-signing certificate."""
    subprocess.run(["scripts/build", "--install-only", "openssl", "osslsigncode"], cwd=ROOT,
                   check=True, capture_output=True)
    key = work / "signer.pem"
    certificate = work / "signer.crt"
    pfx = work / "signer.pfx"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Tolvanik test signer", "-keyout", str(key), "-out",
                    str(certificate), "-addext", "extendedKeyUsage=codeSigning",
                    "-addext", "keyUsage=digitalSignature"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(certificate),
                    "-out", str(pfx), "-passout", "pass:throwaway"], check=True)
    env = dict(os.environ, TOLVANIK_SIGN_PASSWORD="throwaway")
    zip_path, msi = package(work, "a", "--sign", str(pfx), env=env)
    signature_checks(checks, work, zip_path, msi, certificate)


def release_checks(checks, work, name, version):
    """Two builds of the release, side by side; the first one's .msi."""
    with ThreadPoolExecutor(max_workers=2) as builders:
        first, second = builders.map(lambda label: package(work, label), ("a", "b"))
    first_zip, first_msi = first
    second_zip, second_msi = second
    checks.expect("Package.NamedForVersion",
                  (first_zip.name, first_msi.name) == (name + ".zip", name + ".msi"),
                  (first_zip.name, first_msi.name))
    checks.expect("Package.ByteIdenticalTwice",
                  first_zip.read_bytes() == second_zip.read_bytes(), "the two zips differ")
    checks.expect("Package.MsiByteIdenticalTwice",
                  first_msi.read_bytes() == second_msi.read_bytes(), "the two .msi differ")
    with zipfile.ZipFile(first_zip) as archive:
        names = archive.namelist()
        checks.expect("Package.Contents", names == [
            "INSTALL.md", "SHA256SUMS", "tolvanik_host.exe", "tolvanik_register.exe"], names)
        for program in PROGRAMS:
            image = archive.read(program)
            stamps = pe_time_stamps(image)
            checks.expect("Package.NoTimeStampIn_" + program, stamps == (0, 0), stamps)
            checks.expect("Package.VersionResourceIn_" + program,
                          image.count(version.encode("utf-16-le")) >= 2, "no version strings")
    return first_msi


def zip_only_without_origin(checks, work, name):
    """Without an extension the zip alone, and a note on standard error."""
    done = subprocess.run(["scripts/package", str(work / "build-a"), str(work / "dist-plain")],
                          cwd=ROOT, capture_output=True, text=True)
    written = done.stdout.splitlines()
    last_note = (done.stderr.splitlines() or [""])[-1]
    checks.expect("Package.WithoutOriginZipOnly",
                  done.returncode == 0 and written == [str(work / "dist-plain" / (name + ".zip"))]
                  and last_note.startswith("no .msi: ") and
                  sorted(p.name for p in (work / "dist-plain").iterdir()) == [name + ".zip"],
                  done.stdout + done.stderr[-1000:])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--keep", type=Path)
    # scripts/test passes GoogleTest's options too.
    options, _ = parser.parse_known_args()
    version = re.search(r"project\(tolvanik_host VERSION ([0-9.]+)",
                        (ROOT / "CMakeLists.txt").read_text()).group(1)
    name = "tolvanik-%s-windows-x86_64" % version
    checks = Checks("package")
    with scratch_folder("tolvanik-package-") as work:
        work = Path(work)
        first_msi = release_checks(checks, work, name, version)
        zip_only_without_origin(checks, work, name)
        # Signing builds into the same folders: the unsigned .msi goes first.
        if options.keep:
            options.keep.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(first_msi, options.keep / "current.msi")
        sign_release(checks, work)
        if options.keep:
            shutil.copyfile(older_installer(work, "a"), options.keep / "older.msi")
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
