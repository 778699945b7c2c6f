#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' names and contents:
fixed order, fixed dates, fixed permissions.

Usage: make_zip.py ARCHIVE FOLDER NAME...  (the NAMEs inside FOLDER, in order)
"""

import sys
import zipfile
from pathlib import Path

FIXED_DATE = (1980, 1, 1, 0, 0, 0)


def main():
    archive, folder, *names = sys.argv[1:]
    with zipfile.ZipFile(archive, "w") as output:
        for name in names:
            entry = zipfile.ZipInfo(name, date_time=FIXED_DATE)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0
            entry.external_attr = 0
            output.writestr(entry, (Path(folder) / name).read_bytes(), compresslevel=9)


if __name__ == "__main__":
    main()
