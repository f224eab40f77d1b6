#!/usr/bin/python3
"""The build record that a release carries: the commit, each build's SHA-256
before any signature, and the Debian packages that shape their bytes.

    release/buildinfo.py COMMIT X86_EXE X64_EXE    prints the record for this machine
"""
import hashlib
import re
import subprocess
import sys
from collections import namedtuple

import bounded
from errors import Refused

FORMAT = "notice-buildinfo 2"
MAX_RECORD = 64 * 1024  # a record is some 1 KiB
PROCESSORS = ("x86", "x64")
# What goes into the bytes of notice.exe: compilers, runtimes, linkers, Windows headers and libraries, CMake.
PACKAGES = [
    "g++-mingw-w64-i686-posix", "gcc-mingw-w64-i686-posix", "gcc-mingw-w64-i686-posix-runtime",
    "binutils-mingw-w64-i686", "mingw-w64-i686-dev",
    "g++-mingw-w64-x86-64-posix", "gcc-mingw-w64-x86-64-posix", "gcc-mingw-w64-x86-64-posix-runtime",
    "binutils-mingw-w64-x86-64", "mingw-w64-x86-64-dev",
    "gcc-mingw-w64-base", "mingw-w64-common", "cmake", "cmake-data",
]
Record = namedtuple("Record", "commit notice_sha256 packages")  # each SHA-256 and package version by name


def installed_version(package):
    """The version installed here, or None."""
    found = subprocess.run(["/usr/bin/dpkg-query", "-W", "-f=${db:Status-Abbrev} ${Version}", package],
                           capture_output=True, text=True)
    status, _, version = found.stdout.partition(" ")
    return version.strip() if found.returncode == 0 and status.startswith("ii") else None


def read(path):
    """The record at path; each field but Package may be named once, as a second would give a reader another value."""
    try:
        text = bounded.read_bounded(path, MAX_RECORD, regular_only=True).decode("utf-8")
    except (Refused, UnicodeDecodeError) as error:
        raise Refused(f"{path}: {error}") from error
    fields, packages = {}, {}
    for line in text.splitlines():
        key, separator, value = line.partition(": ")
        if not separator:
            raise Refused(f"{path}: a line is not 'Key: value': {line.strip()!r}")
        if key == "Package":
            packages.update([value.split(" ", 1)] if " " in value else [])
        elif key in fields:
            raise Refused(f"{path}: {key} is given twice")
        fields[key] = value
    digests = {processor: fields.get(f"Notice-Exe-SHA256-{processor}", "") for processor in PROCESSORS}
    if fields.get("Format") != FORMAT:
        raise Refused(f"{path}: not a notice build record")
    if not re.fullmatch("[0-9a-f]{40}", fields.get("Commit", "")) or not all(
            re.fullmatch("[0-9a-f]{64}", digest) for digest in digests.values()):
        raise Refused(f"{path}: its commit or a SHA-256 is malformed")
    return Record(fields["Commit"], digests, packages)


def explain(record, processor):
    """Why this machine's build for processor is not the record's, as lines to print."""
    # Only the packages that shape the bytes are looked up, whatever else the record names.
    here = {name: installed_version(name) for name in PACKAGES}
    differ = [f"  {name}: {here[name] or 'not installed'} here, {record.packages.get(name, '(not recorded)')} in the"
              " record" for name in PACKAGES if here[name] != record.packages.get(name)]
    heading = f"This machine builds other bytes than the record's ({record.notice_sha256[processor]})"
    if not differ:
        return [f"{heading}, with the same packages: the build is not reproducible here."]
    return [f"{heading}, and these packages differ from it; install the recorded versions to rebuild it:", *differ]


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.split("\n\n")[1].strip())
    print(f"Format: {FORMAT}", f"Commit: {sys.argv[1]}", sep="\n")
    for processor, exe in zip(PROCESSORS, sys.argv[2:]):
        print(f"Notice-Exe-SHA256-{processor}: {hashlib.sha256(open(exe, 'rb').read()).hexdigest()}")
    for package in PACKAGES:
        print(f"Package: {package} {installed_version(package) or '(not installed)'}")
