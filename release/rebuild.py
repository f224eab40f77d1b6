#!/usr/bin/python3
"""The commit's own build, and the boundary around it: which commit a name means, its
tree as git archive gives it, and an environment that nothing of the caller's shapes.

    release/rebuild.py export COMMIT FOLDER   writes COMMIT's tree (a full object id) into the empty FOLDER
    release/rebuild.py run COMMAND...         runs COMMAND in the build's environment
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

from errors import NotRebuilt, Unusable

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
FULL_ID = re.compile(r"[0-9a-f]{40}")
NAVIGATION = re.compile(r"([~^][0-9]*)*$")  # parents and ancestors after a name: HEAD^, main~2
# The system's programs, git's own language, a HOME that is no folder, and no one's variables, settings or grafts.
ENVIRONMENT = {"PATH": "/usr/bin:/bin", "HOME": os.devnull, "LC_ALL": "C", "GIT_CONFIG_NOSYSTEM": "1",
               "GIT_ATTR_NOSYSTEM": "1", "GIT_NO_REPLACE_OBJECTS": "1", "GIT_GRAFT_FILE": "/dev/null/no-grafts"}


def git(*arguments, plain_no=True):
    """git's answer in this clone, read byte for byte as paths are; status 1 is a plain no."""
    answer = subprocess.run(["git", "-C", ROOT, *arguments], capture_output=True, env=ENVIRONMENT,
                            encoding=sys.getfilesystemencoding(), errors=sys.getfilesystemencodeerrors())
    if plain_no and answer.returncode not in (0, 1):
        raise NotRebuilt(f"git fails in {ROOT}: " + (answer.stderr.strip().splitlines() or [""])[0])
    return answer


def check_full_clone():
    """A partial clone would fetch an object that it lacks from its remote as soon as one is asked for."""
    partial = git("config", "--get", "extensions.partialClone").stdout.strip()
    promisors = git("config", "--type=bool", "--get-regexp", r"^remote\..*\.promisor$").stdout.split("\n")
    remote = partial or next((line[7:-14] for line in promisors if line.endswith(".promisor true")), None)
    if remote:
        raise NotRebuilt(f"{ROOT} is a partial clone, whose git would fetch what it lacks from {remote};"
                         " verify in a full clone")


def chosen_commit(name):
    """The one commit that name means, if this clone has chosen it: HEAD or its history."""
    base = name[:NAVIGATION.search(name).start()]
    if FULL_ID.fullmatch(base):
        named = base
    elif base.startswith("refs/"):
        named = git("show-ref", "--verify", "--hash", base).stdout.strip()
    else:
        answer = git("-c", "core.warnAmbiguousRefs=true", "rev-parse", "--verify", "--end-of-options", base,
                     plain_no=False)
        if "ambiguous" in answer.stderr:
            raise NotRebuilt(f"{name} could mean two commits of {ROOT}; name it by its full object id or ref")
        named = answer.stdout.strip() if answer.returncode == 0 else ""
    found = git("rev-parse", "--verify", "--quiet", "--end-of-options", f"{named}{name[len(base):]}^{{commit}}")
    if not named or found.returncode != 0:
        raise NotRebuilt(f"{name} names no commit of {ROOT}")
    commit = found.stdout.strip()
    if git("merge-base", "--is-ancestor", commit, "HEAD").returncode != 0:
        raise NotRebuilt(f"commit {commit} is not in the history of HEAD, and verify runs the build scripts of the"
                         f" commit it builds. Review that commit, check it out (git checkout {commit}), and verify again")
    return commit


def run(command, cause):
    """command in the build's environment; what it prints may name anything, and follows cause, should it fail."""
    ran = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=ENVIRONMENT)
    if ran.returncode:  # its last lines, where a build or git says why
        raise NotRebuilt(cause, *(f"  {line}" for line in os.fsdecode(ran.stdout).split("\n")[-20:] if line))


def export(commit, folder, work):
    """commit's tree in folder, through a bare repository that borrows this clone's objects and nothing else."""
    objects = os.path.join(git("rev-parse", "--path-format=absolute", "--git-common-dir").stdout[:-1], "objects")
    bare, tar = os.path.join(work, "export.git"), os.path.join(work, "tree.tar")
    run(["git", "init", "-q", "--bare", bare], "git cannot make a repository to take the commit out with")
    # A path a line, C-quoted as git reads it, so that a line feed or a quote in a folder's name is read as it stands.
    with open(os.path.join(bare, "objects", "info", "alternates"), "wb") as alternates:
        alternates.write(b'"%s"\n' % b"".join(b"\\%03o" % byte if byte < 0x20 or byte in b'"\\' else bytes([byte])
                                              for byte in os.fsencode(objects)))
    for command in (["git", "--git-dir", bare, "archive", "-o", tar, commit], ["tar", "-x", "-f", tar, "-C", folder]):
        run(command, f"commit {commit} cannot be taken out of the repository")


def work_folder():
    """A fresh folder where the build can run programs: in /tmp, or else in the clone's build/."""
    for parent in ("/tmp", os.path.join(ROOT, "build")):
        work = None
        try:
            os.makedirs(parent, exist_ok=True)
            work = tempfile.mkdtemp(prefix="notice-verify.", dir=parent)
            with open(os.path.join(work, "probe"), "w", encoding="utf-8") as probe:
                probe.write("#!/bin/sh\n")
            os.chmod(probe.name, 0o700)
            subprocess.run([probe.name], check=True)
            return work
        except (OSError, subprocess.CalledProcessError):
            if work:
                shutil.rmtree(work, ignore_errors=True)
    raise Unusable(f"no folder here lets the build run its programs (tried /tmp and {ROOT}/build)")


def build(commit, processor, work):
    """notice.exe for processor as the commit's own release/build-exe builds it from its own tree."""
    source, output = os.path.join(work, "source"), os.path.join(work, "build")
    os.mkdir(source)
    export(commit, source, work)
    recipe = os.path.join(source, "release", "build-exe")
    if not os.path.isfile(recipe):
        raise NotRebuilt(f"commit {commit} has no release/build-exe to build it with")
    run([recipe, source, output, processor], f"commit {commit} does not build for {processor} here")
    with open(os.path.join(output, "notice.exe"), "rb") as built:
        return built.read()


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "run":
        return subprocess.run(sys.argv[2:], env=ENVIRONMENT).returncode
    if len(sys.argv) != 4 or sys.argv[1] != "export":
        sys.exit(__doc__.split("\n\n")[1].strip())
    with tempfile.TemporaryDirectory(prefix="notice-rebuild.") as scratch:
        try:
            export(sys.argv[2], sys.argv[3], scratch)
        except NotRebuilt as error:
            sys.exit("\n".join([f"rebuild: {error.args[0]}", *error.args[1:]]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
