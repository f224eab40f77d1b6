"""Reads the small files that the user names beside FILE (a certificate to
trust, a build record): regular files only, never more than a cap."""
import os
import stat


class Unreadable(Exception):
    """The file cannot be read, is no regular file, or is larger than its cap."""


def size_text(size):
    return f"{size // (1024 * 1024)} MiB" if size % (1024 * 1024) == 0 else f"{size // 1024} KiB"


def read_regular(path, cap):
    """The bytes of the regular file at path. A FIFO, a device or a folder is
    refused without blocking: the open does not wait for a writer, and
    nothing is read before fstat has said what the file is."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        raise Unreadable(f"cannot be read: {error.strerror}") from error
    # A folder is no file that open() may wrap: fstat judges the descriptor first.
    if not stat.S_ISREG(os.fstat(descriptor).st_mode):
        os.close(descriptor)
        raise Unreadable("not a regular file")
    with open(descriptor, "rb") as file:
        try:
            data = file.read(cap + 1)
        except OSError as error:
            raise Unreadable(f"cannot be read: {error.strerror}") from error
    if len(data) > cap:
        raise Unreadable(f"larger than {size_text(cap)}")
    return data
