#!/usr/bin/python3
"""A commit's tree, line ends as committed, and an environment to build it
in: nothing of the caller's shell, git settings or clone settings decides
what comes out.

    release/pristine.py COMMIT FOLDER    writes COMMIT's tree into the empty FOLDER
    release/pristine.py run COMMAND...   runs COMMAND in the build's environment

COMMIT is a full object name: the repository that git archive reads has no
branches or tags of its own.
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))


class Unexported(Exception):
    """The commit cannot be taken out of the repository."""


def environment(work):
    """The whole environment of git and the build: the system's programs and
    a private home in work. No variable of the caller's (no *FLAGS, CMAKE_*,
    GIT_*) and no git setting of the user's or the system's gets in, and no
    replacement object or graft stands in for a commit."""
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    # Grafts, like replacement objects, would give a commit other parents.
    return {"PATH": "/usr/bin:/bin", "HOME": home, "GIT_CONFIG_NOSYSTEM": "1", "GIT_ATTR_NOSYSTEM": "1",
            "GIT_NO_REPLACE_OBJECTS": "1", "GIT_GRAFT_FILE": os.path.join(home, "no-grafts")}


def git(arguments, env, **options):
    return subprocess.run(["git", *arguments], env=env, stdout=subprocess.PIPE, text=True, **options)


def borrowing_repository(work, env):
    """A bare repository in work that reads this clone's objects and has
    nothing else of it: no config, no info/attributes, no replacements."""
    common = git(["-C", ROOT, "rev-parse", "--path-format=absolute", "--git-common-dir"], env)
    bare = os.path.join(work, "export.git")
    if common.returncode != 0 or git(["init", "-q", "--bare", bare], env).returncode != 0:
        raise Unexported(f"{ROOT} is not a git repository")
    with open(os.path.join(bare, "objects", "info", "alternates"), "w", encoding="utf-8") as alternates:
        alternates.write(os.path.join(common.stdout.strip(), "objects") + "\n")
    return bare


def export(commit, folder, work):
    """Writes commit's tree into folder as git archive gives it, with the
    commit's own .gitattributes and nothing of the clone's settings."""
    env = environment(work)
    bare = borrowing_repository(work, env)
    archive = subprocess.Popen(["git", "--git-dir", bare, "archive", commit], stdout=subprocess.PIPE, env=env)
    extracted = subprocess.run(["tar", "-x", "-C", folder], stdin=archive.stdout, env=env).returncode == 0
    archive.stdout.close()
    if archive.wait() != 0 or not extracted:
        raise Unexported(f"commit {commit} cannot be taken out of the repository")


def main():
    with tempfile.TemporaryDirectory(prefix="notice-pristine.") as scratch:
        if len(sys.argv) > 2 and sys.argv[1] == "run":
            return subprocess.run(sys.argv[2:], env=environment(scratch)).returncode
        if len(sys.argv) != 3:
            sys.exit(__doc__.split("\n\n")[1].strip())
        try:
            export(sys.argv[1], sys.argv[2], scratch)
        except Unexported as error:
            sys.exit(f"pristine: {error}")
        return 0


if __name__ == "__main__":
    sys.exit(main())
