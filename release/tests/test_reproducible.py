"""The build is reproducible: the commit built again, in another folder and
at another time, gives the same bytes for each processor, and the build
record names what it takes to build them so."""
import hashlib
import os
import subprocess
import time

import pytest

import buildinfo
from conftest import RELEASE


@pytest.mark.parametrize("processor", ["x86", "x64"])
def test_built_again_elsewhere_and_later(builds, head, tmp_path, processor):
    time.sleep(1)  # a time in the binary would now differ
    source = tmp_path / "another source folder"
    source.mkdir()
    subprocess.run([os.path.join(RELEASE, "rebuild.py"), "export", head, str(source)], check=True)
    subprocess.run([os.path.join(RELEASE, "rebuild.py"), "run", str(source / "release" / "build-exe"), str(source),
                    str(tmp_path / "another build folder"), processor], check=True, stdout=subprocess.DEVNULL)
    assert (tmp_path / "another build folder" / "notice.exe").read_bytes() == builds[processor]


def test_the_record_names_the_commit_the_builds_and_what_shaped_them(builds, head, tmp_path):
    """What release/package writes beside the builds: the commit, each build's SHA-256 as built, and the
    version of each package that shapes the bytes, as installed here."""
    for processor, data in builds.items():
        (tmp_path / f"{processor}.exe").write_bytes(data)
    written = subprocess.run([os.path.join(RELEASE, "buildinfo.py"), head, str(tmp_path / "x86.exe"),
                              str(tmp_path / "x64.exe")], capture_output=True, text=True, check=True).stdout
    (tmp_path / "notice.buildinfo").write_text(written)
    record = buildinfo.read(str(tmp_path / "notice.buildinfo"))
    assert record.commit == head
    assert record.notice_sha256 == {processor: hashlib.sha256(data).hexdigest() for processor, data in builds.items()}
    for package in ("g++-mingw-w64-i686-posix", "binutils-mingw-w64-x86-64", "mingw-w64-i686-dev", "cmake"):
        installed = buildinfo.installed_version(package)
        assert installed is not None and record.packages[package] == installed, package
