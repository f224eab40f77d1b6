"""What the release tools' tests share: the tools on the path, the commit's
two builds, the certificates of the run, and a row's verdict."""
import datetime
import os
import shutil
import subprocess
import sys

import pytest

TESTS = os.path.dirname(os.path.abspath(__file__))
RELEASE = os.path.dirname(TESTS)
ROOT = os.path.dirname(RELEASE)
sys.path[:0] = [RELEASE, TESTS]  # the tools under test, then these helpers

import judge  # noqa: E402
import pki  # noqa: E402


def requires(*tools):
    """Skips a test that needs a tool which is not installed, naming it."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    return pytest.mark.skipif(bool(missing), reason=f"requires {', '.join(missing)}")


class World(dict):
    """Identities by name, each made on first use by its factory, which may ask for others."""

    def __init__(self, factories):
        super().__init__()
        self.factories = factories

    def __missing__(self, name):
        self[name] = self.factories[name](self)
        return self[name]


SHARED = {
    "signer": lambda w: pki.issue("signer", key="rsa"),
    "other": lambda w: pki.issue("second signer"),
    "ca": lambda w: pki.issue("ca", extensions=pki.CA),
    "leaf": lambda w: pki.issue("leaf", w["ca"]),
    "tsa": lambda w: pki.issue("time-stamp authority", extensions=pki.AUTHORITY),
}


@pytest.fixture(scope="session")
def world():
    return World(SHARED)


@pytest.fixture(scope="session")
def head():
    return subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True, text=True,
                          check=True).stdout.strip()


@pytest.fixture(scope="session")
def builds(tmp_path_factory, head):
    """notice.exe of HEAD for each processor, as release/verify builds it."""
    work = tmp_path_factory.mktemp("builds")
    subprocess.run([os.path.join(RELEASE, "rebuild.py"), "export", head, str(work)], check=True)
    built = {}
    for processor in ("x86", "x64"):
        subprocess.run([os.path.join(RELEASE, "rebuild.py"), "run", str(work / "release" / "build-exe"), str(work),
                        str(work / processor), processor], check=True, stdout=subprocess.DEVNULL)
        built[processor] = (work / processor / "notice.exe").read_bytes()
    return built


def verdict(data, built, anchors, now=None):
    """The outcome of judging data at now (None: the present), and its first line (the cause, or the first problem)."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    got = judge.judge_release(data, built, [anchor.der for anchor in anchors], now)
    return got.outcome, (got.lines or [""])[0]


def expect(data, built, anchors, wanted, now=None):
    """wanted is an outcome, or an outcome and a text that its first line holds ("refused: CAs")."""
    outcome, line = verdict(data, built, anchors, now)
    kind, _, text = wanted.partition(": ")
    assert (outcome, text in line) == (kind, True), f"{outcome}: {line}"
