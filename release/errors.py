"""What stops verify, one hierarchy: the type says whose the fault is, and so which exit status it gets.
The first argument is the one cause; any further ones are lines that explain it."""


class Stop(Exception):
    """verify cannot say that the file is the commit's."""


class Refused(Stop):
    """The bytes judged (FILE, its signature, a build record) are refused: status 1."""


class NotRebuilt(Stop):
    """git, the clone or the build cannot give the commit's build: status 1."""


class Unusable(Stop):
    """The command line, a --trust file, a missing package or the machine stop verify before it judges: status 2."""
