"""The build is reproducible: the commit built again, in another folder and
at another time, gives the same bytes for each processor."""
import os
import subprocess
import time

import pytest

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
