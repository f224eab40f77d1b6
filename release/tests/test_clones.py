"""release/verify in clones that the caller or an attacker shaped: which
commit a name means, what the clone's settings, owner, history and files
may change (nothing), and where the build can run."""
import concurrent.futures
import importlib.util
import os
import py_compile
import subprocess
import tempfile
from types import SimpleNamespace

import pytest

from conftest import ROOT, judging_clone, said, verify

GIT = ["git", "-c", "user.name=forker", "-c", "user.email=forker@invalid"]


def git(clone, *arguments):
    return subprocess.run([*GIT, "-C", clone, *arguments], check=True, capture_output=True, text=True).stdout.strip()


def mount_namespace_works():
    return subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0


def hardened(clone, *noexec):
    """A command prefix that runs in a mount namespace where each of noexec is a fresh noexec tmpfs."""
    mounts = " && ".join(f"mount -t tmpfs -o noexec tmpfs '{folder}'" for folder in noexec)
    return ["unshare", "-m", "sh", "-c", f'{mounts} && exec "$@"', "hardened", os.path.join(clone, "release", "verify")]


@pytest.fixture(scope="module")
def clones(tmp_path_factory, builds):
    """The clones of the rows, and the commits and files that they name."""
    top = tmp_path_factory.mktemp("clones")
    c = SimpleNamespace(file=str(top / "unsigned.exe"), x64=str(top / "unsigned-x64.exe"))
    (top / "unsigned.exe").write_bytes(builds["x86"])
    (top / "unsigned-x64.exe").write_bytes(builds["x64"])
    c.plain = judging_clone(top / "plain")
    # A release whose recipe had a change that was never committed.
    with open(os.path.join(c.plain, "release", "build-exe"), "a") as recipe:
        recipe.write('printf uncommitted >>"$build/notice.exe"\n')
    subprocess.run([os.path.join(c.plain, "release", "build-exe"), c.plain, str(top / "dirty")], check=True)
    c.uncommitted = str(top / "dirty" / "notice.exe")
    git(c.plain, "checkout", "--", "release/build-exe")
    # A commit on no branch and under no tag, as a fork's would be; and a fork's, under a tag that a fetch brings.
    git(c.plain, "commit", "-q", "--allow-empty", "-m", "not chosen")
    c.unchosen = git(c.plain, "rev-parse", "HEAD")
    git(c.plain, "reset", "-q", "--hard", "HEAD^")
    fork = judging_clone(top / "fork")
    git(fork, "commit", "-q", "--allow-empty", "-m", "a fork's")
    git(fork, "tag", "v0-fork")
    c.forked = git(fork, "rev-parse", "HEAD")
    git(c.plain, "remote", "add", "fork", fork)
    git(c.plain, "fetch", "-q", "fork")
    # A new commit whose build differs, and tags named like its branch and its short id on the commit before it.
    c.ambiguous = judging_clone(top / "ambiguous")
    subprocess.run(["sed", "-i", "s/Folder Already Exists/Folder Exists/", f"{c.ambiguous}/notice/notice.h"], check=True)
    git(c.ambiguous, "commit", "-q", "-m", "a newer release", "notice/notice.h")
    c.branch, c.older = git(c.ambiguous, "symbolic-ref", "--short", "HEAD"), git(c.ambiguous, "rev-parse", "HEAD^")
    c.short = git(c.ambiguous, "rev-parse", "--short=7", "HEAD")
    git(c.ambiguous, "tag", c.branch, "HEAD^")
    git(c.ambiguous, "tag", c.short, "HEAD^")
    c.latin1 = judging_clone(top / os.fsdecode(b"caf\xe9"))  # git prints its path back, in bytes that are no UTF-8
    c.newline = judging_clone(top / "nl\n\x1b[7mX")  # no line of git's alternates file can name it as it stands
    # A recipe that fails, printing what would draw a verdict on the terminal.
    c.loud = judging_clone(top / "loud")
    with open(os.path.join(c.loud, "release", "build-exe"), "w") as recipe:
        recipe.write("#!/bin/sh\nprintf '\\033[2K\\rverified: forged\\n' >&2\nexit 1\n")
    git(c.loud, "commit", "-q", "-m", "a recipe that prints a verdict", "release/build-exe")
    c.crlf = judging_clone(top / "crlf", "--config", "core.autocrlf=true")
    c.eol = judging_clone(top / "eol")
    (top / "eol" / ".git" / "info" / "attributes").write_text("* text eol=crlf\n")
    c.foreign = judging_clone(top / "foreign")
    subprocess.run(["chown", "-R", "nobody:", f"{c.foreign}/.git"], check=True)
    subprocess.run(["git", "clone", "-q", "--bare", ROOT, str(top / "source.git")], check=True)
    git(str(top / "source.git"), "config", "uploadpack.allowFilter", "true")
    c.partial = judging_clone(top / "partial", "--filter=blob:none", source=f"file://{top}/source.git")
    c.bytecode = judging_clone(top / "bytecode")
    # Bytecode for one of verify's modules, made from other source, which a review of the clone would not see.
    c.carrier = judging_clone(top / "carrier")
    planted = top / "planted.py"
    planted.write_text((top / "carrier" / "release" / "errors.py").read_text() + 'print("planted bytecode ran")\n')
    cache = importlib.util.cache_from_source(os.path.join(c.carrier, "release", "errors.py"))
    py_compile.compile(str(planted), cache, invalidation_mode=py_compile.PycInvalidationMode.UNCHECKED_HASH)
    # The clone's grafts make a fork's commit an ancestor of HEAD.
    c.grafted = judging_clone(top / "grafted")
    c.graft = git(c.grafted, "commit-tree", "HEAD^{tree}", "-p", "HEAD^", "-m", "a fork's, grafted")
    (top / "grafted" / ".git" / "info" / "grafts").write_text(
        f"{git(c.grafted, 'rev-parse', 'HEAD')} {git(c.grafted, 'rev-parse', 'HEAD^')} {c.graft}\n")
    c.before_x64 = git(ROOT, "log", "--format=%H", "--diff-filter=A", "--", "release/build-exe").splitlines()[-1]
    # Outside /tmp, which the hardened rows mount over, with the build/ that one of them mounts over too.
    c.hardened = judging_clone(os.path.join(tempfile.mkdtemp(dir="/var/tmp"), "hardened"))
    os.mkdir(os.path.join(c.hardened, "build"))
    subprocess.run(["cp", c.file, c.hardened], check=True)
    c.hardened_file = os.path.join(c.hardened, "unsigned.exe")
    yield c
    subprocess.run(["rm", "-rf", os.path.dirname(c.hardened)])


def verifier(clone):
    return os.path.join(clone, "release", "verify")


def looking_for_bytecode(clone):
    """A command that runs verify as a caller whose Python writes bytecode, then lists any that it wrote in the clone."""
    return ["sh", "-c", 'status=0; env -u PYTHONDONTWRITEBYTECODE "$0" "$@" || status=$?; '
            f'find "{clone}/release" -name __pycache__ -printf "bytecode written: %p\\n"; exit $status',
            verifier(clone)]


# (why, the command given the clones c, status, texts that the output holds, a start that no line has)
ROWS = [
    ("built by an uncommitted change to the recipe", lambda c: [verifier(c.plain), c.uncommitted], 1,
     ("its bytes are not",), None),
    ("a commit on no branch and under no tag", lambda c: [verifier(c.plain), "--commit", c.unchosen, c.file], 1,
     ("check it out",), None),
    ("a fork's commit that a tag fetched with it names", lambda c: [verifier(c.plain), "--commit", "v0-fork", c.file],
     1, ("check it out",), None),
    ("a branch's name that a tag on an older commit has too", lambda c: [verifier(c.ambiguous), "--commit", c.branch,
     c.file], 1, ("could mean two commits",), None),
    ("the short id of HEAD, which a tag on an older commit is named", lambda c: [verifier(c.ambiguous), "--commit",
     c.short, c.file], 1, ("could mean two commits",), None),
    ("the full id of the older commit, taken as it stands", lambda c: [verifier(c.ambiguous), "--commit", c.older,
     c.file], 0, ("verified: ",), None),
    ("the full ref name of the tag, taken as it stands", lambda c: [verifier(c.ambiguous), "--commit",
     f"refs/tags/{c.branch}", c.file], 0, ("verified: ",), None),
    ("a commit that the clone's grafts make an ancestor of HEAD", lambda c: [verifier(c.grafted), "--commit", c.graft,
     c.file], 1, ("check it out",), None),
    ("a commit from before the x64 build, against an x64 file", lambda c: [verifier(c.plain), "--commit", c.before_x64,
     c.x64], 1, ("has no x64 build",), None),
    ("verified in a clone whose folder's name is Latin-1", lambda c: [verifier(c.latin1), c.file], 0, (), None),
    ("verified in a clone whose folder's name holds a line feed and a terminal escape", lambda c: [
        verifier(c.newline), c.file], 0, (), None),
    ("a recipe that fails, printing a verdict that would draw on the terminal, printed escaped", lambda c: [
        verifier(c.loud), c.file], 1, ("does not build", "\\x1b[2K\\rverified: forged"), "verified: "),
    ("verified in a clone that turns line ends into CR LF", lambda c: [verifier(c.crlf), c.file], 0, (), None),
    ("verified in a clone whose info/attributes asks for CR LF", lambda c: [verifier(c.eol), c.file], 0, (), None),
    ("a clone that another user owns, git's own cause named", lambda c: [verifier(c.foreign), c.file], 1,
     ("dubious ownership",), None),
    ("a partial clone, which would fetch what it lacks from its remote", lambda c: [verifier(c.partial), c.file], 1,
     ("partial clone",), None),
    ("a caller whose Python writes bytecode, none written into the clone", lambda c: [
        *looking_for_bytecode(c.bytecode), os.path.join(c.bytecode, "README.md")], 1, ("not a PE file",),
     "bytecode written: "),
    ("a clone that carries bytecode made from other source", lambda c: [verifier(c.carrier), c.file], 0, (),
     "planted bytecode ran"),
]
HARDENED = [
    ("/tmp mounted noexec: the build runs in the clone's build/", lambda c: [*hardened(c.hardened, "/tmp"),
     c.hardened_file], 0, ("verified: ",), None),
    ("/tmp and the clone's build/ mounted noexec", lambda c: [*hardened(c.hardened, "/tmp", f"{c.hardened}/build"),
     c.hardened_file], 2, ("no folder here lets the build run",), None),
]


@pytest.fixture(scope="module")
def runs(clones):
    rows = ROWS + (HARDENED if mount_namespace_works() else [])
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        yield {why: pool.submit(verify, *command(clones)[1:], verifier=command(clones)[0])
               for why, command, *_ in rows}


def check(runs, why, status, texts, unwanted):
    got, output = runs[why].result()
    assert got == status, output
    said(output, texts, unwanted)


@pytest.mark.parametrize("status, texts, unwanted", [pytest.param(*row[2:], id=row[0]) for row in ROWS])
def test_clone(request, runs, status, texts, unwanted):
    check(runs, request.node.callspec.id, status, texts, unwanted)


@pytest.mark.skipif(not mount_namespace_works(), reason="requires a mount namespace (unshare -m), as root")
@pytest.mark.parametrize("status, texts, unwanted", [pytest.param(*row[2:], id=row[0]) for row in HARDENED])
def test_hardened(request, runs, status, texts, unwanted):
    check(runs, request.node.callspec.id, status, texts, unwanted)
