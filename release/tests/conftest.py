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


def expect(data, built, anchors, wanted, now=None):
    """The verdict on data at now (None: the present) is wanted: an outcome,
    or an outcome and a text that its cause holds ("refused: CRLs"), or one
    of its problems ("untrusted: has expired")."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    got = judge.judge_release(data, built, [anchor.der for anchor in anchors], now)
    kind, _, text = wanted.partition(": ")
    said = got.lines[:1] if got.outcome == "refused" else got.lines
    assert (got.outcome, any(text in line for line in said)) == (kind, True), "\n".join([got.outcome, *got.lines])


def verify(*arguments, verifier=None, env=None, cwd=None):
    """release/verify's status and all that it printed (stdout, then stderr), run with env added to the caller's."""
    command = [verifier or os.path.join(RELEASE, "verify"), *arguments]
    ran = subprocess.run(command, capture_output=True, env={**os.environ, **(env or {})}, cwd=cwd, timeout=600)
    return ran.returncode, (ran.stdout + ran.stderr).decode("utf-8", "backslashreplace")


def judging_clone(folder, *options, source=ROOT):
    """A clone of this repository (or of source) in folder whose release/ tools are this tree's, whatever its commit holds."""
    subprocess.run(["git", "clone", "-q", *options, source, str(folder)], check=True)
    for name in os.listdir(RELEASE):
        if name == "verify" or name.endswith(".py"):
            shutil.copy(os.path.join(RELEASE, name), os.path.join(folder, "release", name))
    return str(folder)


def said(output, texts=(), unwanted=None):
    """output holds every text, and (with unwanted) no line of it starts with unwanted."""
    missing = [text for text in texts if text not in output]
    assert not missing, f"{missing} not in:\n{output}"
    assert unwanted is None or not any(line.startswith(unwanted) for line in output.splitlines()), output
