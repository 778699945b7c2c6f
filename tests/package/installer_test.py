#!/usr/bin/env python3
"""Installs, repairs, upgrades and removes the .msi under Wine, every
msiexec silent, and checks the files, the registry, the Apps & features
entry and that the desktop application's storage.json is never touched.

Installs DIR/current.msi and DIR/older.msi (a lower version), as
reproducible_test.py --keep DIR leaves them; without DIR it builds both
first. Runs in $WINEPREFIX, or in a prefix of its own when none is set.

Usage: installer_test.py [DIR]   (from the repository root; scripts/test runs it)
Closes with GoogleTest's summary lines, which scripts/test counts.
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path, PureWindowsPath

# The suites' shared reporting lives in tests/support; nothing is compiled
# into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from gtest_report import Checks  # noqa: E402
from release import (  # noqa: E402
    EXTENSION_ID, OLDER_VERSION, ORIGIN, older_installer, package, scratch_folder)

HOST_NAME = "io.tolvanik.host"
# What tolvanik_register knows; Vivaldi reads Chrome's key.
BROWSER_KEYS = ["Software\\Google\\Chrome", "Software\\Microsoft\\Edge", "Software\\Chromium",
                "Software\\BraveSoftware\\Brave-Browser"]
CHECKED_BROWSERS = ["chrome, vivaldi", "edge", "chromium", "brave"]
FIREFOX_KEY = "Software\\Mozilla"
FOLDER_KEY = "Software\\Tolvanik\\Tolvanik Host"
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
FILES = ["io.tolvanik.host.firefox.json", "io.tolvanik.host.json", "tolvanik_host.exe",
         "tolvanik_register.exe"]
# What Wine's msiexec leaves of status 1603, "fatal error during installation".
INSTALL_FAILURE = 1603 & 0xFF
STORAGE = ('{"templates":[{"id":"t1","name":"Zoë\'s blues","colors":["#0000ff"]}],'
           '"lastModified":1700000000000,"desktopOnly":{"keep":true}}\r\n').encode()


class Wine:
    def __init__(self, prefix):
        self.prefix = Path(prefix)
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all")

    def run(self, *args):
        # Output into a file, not a pipe: a Wine program can leave services
        # behind that hold a pipe open long after it ended.
        with tempfile.TemporaryFile() as output:
            done = subprocess.run(["wine", *args], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=output, stderr=subprocess.DEVNULL, timeout=300)
            output.seek(0)
            done.stdout = output.read()
        return done

    def msiexec(self, *args):
        return self.run("msiexec", *args, "/qn").returncode

    def unix_path(self, windows_path):
        """A C: path inside the prefix."""
        parts = PureWindowsPath(windows_path).parts
        assert parts[0].upper() == "C:\\", windows_path
        return self.prefix.joinpath("drive_c", *parts[1:])

    def environment(self, name):
        return self.run("cmd", "/c", "echo %" + name + "%").stdout.decode().strip()

    def query(self, key, *options):
        """The values of `key` (and with /s of every key below), by key and
        name; None without the key."""
        done = self.run("reg", "query", key, *options)
        if done.returncode != 0:
            return None
        keys = {}
        values = None
        for line in done.stdout.decode(errors="replace").splitlines():
            fields = line.strip().split(None, 2)
            if line.startswith("HKEY_"):
                values = keys.setdefault(line.strip(), {})
            elif line.startswith("    ") and len(fields) >= 2 and fields[1].startswith("REG_"):
                values[fields[0]] = fields[2] if len(fields) == 3 else ""
        return keys

    def values(self, key):
        keys = self.query(key)
        return None if keys is None else next(iter(keys.values()), {})

    def products(self):
        """Our Apps & features entries, wherever Wine keeps them, by key."""
        found = {}
        for hive in ("HKLM", "HKCU"):
            for key, values in (self.query(hive + "\\" + UNINSTALL_KEY, "/s") or {}).items():
                if values.get("DisplayName") == "Tolvanik Host":
                    found[key] = values
        return found


def file_version(path):
    """The X.Y.Z of an executable's version resource."""
    image = path.read_bytes()
    at = image.find(struct.pack("<I", 0xFEEF04BD))
    most, least = struct.unpack_from("<II", image, at + 8)
    return "%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16)


class Scenario:
    """One Wine prefix with a storage.json laid before anything is installed."""

    def __init__(self, wine, current, older):
        self.wine = wine
        self.current = current
        self.older = older
        self.user_folder = wine.environment("LOCALAPPDATA") + "\\Programs\\Tolvanik Host"
        self.machine_folder = wine.environment("ProgramFiles") + "\\Tolvanik Host"
        self.log_folder = wine.environment("LOCALAPPDATA") + "\\Tolvanik Host"
        self.storage = wine.unix_path(wine.environment("APPDATA") +
                                      "\\io.tolvanik.desktop\\storage.json")
        self.storage.parent.mkdir(parents=True, exist_ok=True)
        self.storage.write_bytes(STORAGE)

    def keys(self, hive):
        keys = [hive + "\\" + browser + "\\NativeMessagingHosts\\" + HOST_NAME
                for browser in BROWSER_KEYS]
        return keys + [hive + "\\" + FIREFOX_KEY + "\\NativeMessagingHosts\\" + HOST_NAME]

    def expected_key_values(self, hive, folder):
        manifests = [folder + "\\" + HOST_NAME + ".json"] * len(BROWSER_KEYS)
        manifests.append(folder + "\\" + HOST_NAME + ".firefox.json")
        return dict(zip(self.keys(hive), manifests))

    def key_values(self, hive):
        values = {}
        for key in self.keys(hive):
            found = self.wine.values(key)
            values[key] = None if found is None else found.get("(Default)")
        return values

    def installed(self, hive, folder):
        """What differs from a complete installation in `hive` and `folder`."""
        wrong = []
        unix_folder = self.wine.unix_path(folder)
        present = sorted(p.name for p in unix_folder.iterdir()) if unix_folder.is_dir() else []
        if present != FILES:
            wrong.append("files %s" % present)
            return wrong
        common = {"description": "Tolvanik desktop bridge", "name": HOST_NAME,
                  "path": "tolvanik_host.exe", "type": "stdio"}
        chromium = json.loads((unix_folder / (HOST_NAME + ".json")).read_text())
        if chromium != dict(common, allowed_origins=[ORIGIN]):
            wrong.append("Chromium manifest %s" % chromium)
        # Firefox refuses a manifest with allowed_origins.
        firefox = json.loads((unix_folder / (HOST_NAME + ".firefox.json")).read_text())
        if firefox != dict(common, allowed_extensions=[EXTENSION_ID]):
            wrong.append("Firefox manifest %s" % firefox)
        if self.key_values(hive) != self.expected_key_values(hive, folder):
            wrong.append("keys %s" % self.key_values(hive))
        other = "HKLM" if hive == "HKCU" else "HKCU"
        if any(self.key_values(other).values()):
            wrong.append("keys under %s too" % other)
        return wrong

    def left_over(self):
        """Anything of ours after an uninstall."""
        left = []
        for folder in (self.user_folder, self.machine_folder, self.log_folder):
            if self.wine.unix_path(folder).exists():
                left.append(folder)
        for hive in ("HKCU", "HKLM"):
            left += [key for key, value in self.key_values(hive).items() if value is not None]
            if self.wine.values(hive + "\\" + FOLDER_KEY) is not None:
                left.append(hive + "\\" + FOLDER_KEY)
        left += list(self.wine.products())
        if self.storage.read_bytes() != STORAGE:
            left.append("a changed storage.json")
        return left

    def snapshot(self):
        """The installed files' bytes, our keys and entries."""
        files = {}
        for folder in (self.user_folder, self.machine_folder):
            unix_folder = self.wine.unix_path(folder)
            if unix_folder.is_dir():
                files.update({p: p.read_bytes() for p in unix_folder.iterdir()})
        return files, self.key_values("HKCU"), self.key_values("HKLM"), self.wine.products()


def keep_a_log(scenario, checks, group, register, *hive_option):
    """Switches the log on and has check's hosts write it."""
    scenario.wine.run(register, "log", "on", *hive_option)
    scenario.wine.run(register, "check")
    log = scenario.wine.unix_path(scenario.log_folder + "\\host.log")
    checks.expect(group + ".LogKeptBeforeRemoval", log.is_file(), scenario.log_folder)


def expect_clean_uninstall(scenario, checks, group):
    status = scenario.wine.msiexec("/x", str(scenario.current))
    left = scenario.left_over()
    checks.expect(group + ".UninstallLeavesNothing", status == 0 and not left,
                  "status %d; left: %s" % (status, left))


def per_user(scenario, checks):
    wine = scenario.wine
    status = wine.msiexec("/i", str(scenario.current))
    checks.expect("PerUser.InstallSucceeds", status == 0, "msiexec status %d" % status)
    wrong = scenario.installed("HKCU", scenario.user_folder)
    checks.expect("PerUser.FilesManifestsAndKeys", not wrong, "; ".join(wrong))
    products = wine.products()
    entry = next(iter(products.values()), {})
    expected = {"Publisher": "Tolvanik", "DisplayVersion": file_version(
        wine.unix_path(scenario.user_folder + "\\tolvanik_host.exe")),
        "InstallLocation": scenario.user_folder + "\\", "NoModify": "0x1"}
    checks.expect("PerUser.AppsAndFeaturesEntry",
                  len(products) == 1 and all(entry.get(k) == v for k, v in expected.items()),
                  products)

    register = scenario.user_folder + "\\tolvanik_register.exe"
    done = wine.run(register, "check")
    output = done.stdout.decode(errors="replace").replace("\r", "")
    answered = [browser for browser in CHECKED_BROWSERS
                if "\n%s: ping answered {\"message\":\"Hello from Windows!\",\"type\":\"pong\"}"
                % browser in "\n" + output]
    # A browser the tool knows but the package does not register shows up
    # as "not registered".
    unregistered = [line for line in output.splitlines() if line.endswith(": not registered")]
    checks.expect("PerUser.CheckReachesTheHostThroughEveryBrowser",
                  done.returncode == 0 and answered == CHECKED_BROWSERS and not unregistered,
                  output)

    # The same version again puts back what is missing or changed.
    unix_folder = wine.unix_path(scenario.user_folder)
    (unix_folder / "tolvanik_register.exe").unlink()
    (unix_folder / (HOST_NAME + ".json")).write_text("{}")
    wine.run("reg", "delete", scenario.keys("HKCU")[1], "/f")
    status = wine.msiexec("/i", str(scenario.current))
    wrong = scenario.installed("HKCU", scenario.user_folder)
    checks.expect("PerUser.SameVersionRepairs", status == 0 and not wrong and
                  len(wine.products()) == 1, "status %d; %s" % (status, "; ".join(wrong)))

    # Removal takes the log's switch and folder too.
    keep_a_log(scenario, checks, "PerUser", register)
    expect_clean_uninstall(scenario, checks, "PerUser")


def upgrade(scenario, checks):
    wine = scenario.wine
    host = wine.unix_path(scenario.user_folder + "\\tolvanik_host.exe")
    status = wine.msiexec("/i", str(scenario.older))
    older_version = file_version(host) if host.exists() else None
    checks.expect("Upgrade.OlderInstalls", status == 0 and older_version == OLDER_VERSION,
                  "status %d, version %s" % (status, older_version))
    status = wine.msiexec("/i", str(scenario.current))
    products = wine.products()
    versions = sorted(entry.get("DisplayVersion") for entry in products.values())
    current_version = file_version(host) if host.exists() else None
    wrong = scenario.installed("HKCU", scenario.user_folder)
    checks.expect("Upgrade.NewerReplacesOlder",
                  status == 0 and len(products) == 1 and versions == [current_version] and
                  current_version != OLDER_VERSION and not wrong,
                  "status %d, entries %s, host %s; %s" % (status, versions, current_version,
                                                          "; ".join(wrong)))

    before = scenario.snapshot()
    status = wine.msiexec("/i", str(scenario.older))
    checks.expect("Upgrade.OlderOverNewerRefusedChangingNothing",
                  status == INSTALL_FAILURE and scenario.snapshot() == before,
                  "status %d, changed: %s" % (status, scenario.snapshot() != before))
    refusal = subprocess.run(["msiinfo", "export", str(scenario.older), "LaunchCondition"],
                             capture_output=True, text=True).stdout
    checks.expect("Upgrade.RefusalSaysWhy",
                  "A newer version of Tolvanik Host is already installed" in refusal, refusal)

    expect_clean_uninstall(scenario, checks, "Upgrade")


def per_machine(scenario, checks):
    wine = scenario.wine
    status = wine.msiexec("/i", str(scenario.current), "ALLUSERS=1")
    wrong = scenario.installed("HKLM", scenario.machine_folder)
    checks.expect("PerMachine.ProgramFilesAndHklmKeys", status == 0 and not wrong,
                  "status %d; %s" % (status, "; ".join(wrong)))
    entries = list(wine.products().values())
    checks.expect("PerMachine.AppsAndFeaturesEntry", len(entries) == 1 and
                  entries[0].get("InstallLocation") == scenario.machine_folder + "\\", entries)
    keep_a_log(scenario, checks, "PerMachine", scenario.machine_folder + "\\tolvanik_register.exe",
               "--all-users")
    # Removal as Apps & features starts it: without ALLUSERS.
    expect_clean_uninstall(scenario, checks, "PerMachine")


def run_scenarios(checks, current, older):
    own_prefix = None
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        own_prefix = prefix = tempfile.mkdtemp(prefix="tolvanik-installer-wine-")
    wine = Wine(prefix)
    try:
        if own_prefix:
            # Without a persistent server every Wine start boots the
            # prefix's services again, which takes seconds.
            subprocess.run(["wineserver", "-p"], env=wine.env)
            wine.run("cmd", "/c", "exit")
        scenario = Scenario(wine, current, older)
        per_user(scenario, checks)
        upgrade(scenario, checks)
        per_machine(scenario, checks)
    finally:
        if own_prefix:
            subprocess.run(["wineserver", "-k"], env=wine.env)
            subprocess.run(["wineserver", "-w"], env=wine.env)
            shutil.rmtree(own_prefix, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("packages", type=Path, nargs="?")
    # scripts/test passes GoogleTest's options too.
    options, _ = parser.parse_known_args()
    checks = Checks("installer")
    if options.packages:
        packages = options.packages.resolve()
        run_scenarios(checks, packages / "current.msi", packages / "older.msi")
    else:
        with scratch_folder("tolvanik-installer-") as work:
            work = Path(work)
            _, current = package(work, "a")
            run_scenarios(checks, current, older_installer(work, "a"))
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
