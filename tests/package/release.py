"""What the package and installer suites build the release with, and how."""

import subprocess
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
ORIGIN = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/"
EXTENSION_ID = "tolvanik-test@example.com"
# The installer suite upgrades from this version to the project's.
OLDER_VERSION = "0.9.0"
PROGRAMS = ("tolvanik_host.exe", "tolvanik_register.exe")


def package(work, label, *options, env=None):
    """Runs scripts/package into WORK/build-LABEL and WORK/dist-LABEL with
    both test extensions; the paths it printed."""
    output = subprocess.run(
        ["scripts/package", "--origin", ORIGIN, "--extension-id", EXTENSION_ID, *options,
         str(work / ("build-" + label)), str(work / ("dist-" + label))],
        cwd=ROOT, capture_output=True, text=True, env=env)
    assert output.returncode == 0, output.stdout[-2000:] + output.stderr[-2000:]
    return [Path(line) for line in output.stdout.split()]


def older_installer(work, label):
    """The .msi of OLDER_VERSION, built in WORK/build-LABEL."""
    _, msi = package(work, label, "--version", OLDER_VERSION)
    return msi


def scratch_folder(prefix):
    """A folder under build/ for release builds, removed when left."""
    (ROOT / "build").mkdir(exist_ok=True)
    return tempfile.TemporaryDirectory(prefix=prefix, dir=ROOT / "build")
