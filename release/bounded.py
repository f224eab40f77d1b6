"""Reads the files that the user names: FILE, which may be a pipe or a
device read once, and the small files beside it (a certificate to trust, a
build record), which must be regular files. Never more than a cap, and no
read waits without bound: a FIFO that no writer opens, or a terminal, is
given up on."""
import os
import select
import stat
import time

from errors import Stop

SILENCE = 30  # seconds that a read waits for data: long enough for a slow pipe to start
WHOLE_READ = 120  # seconds for all of it


class Unreadable(Stop):
    """The file cannot be read, is no regular file, is larger than its cap, or does not arrive in time."""


def read_regular(path, cap):
    return read_bounded(path, cap, regular_only=True)


def read_bounded(path, cap, regular_only=False):
    """The bytes at path, at most cap of them. The open waits for no writer,
    and fstat says what the file is before anything is read."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        raise Unreadable(f"cannot be read: {error.strerror}") from error
    chunks, size, deadline = [], 0, time.monotonic() + WHOLE_READ
    try:
        if regular_only and not stat.S_ISREG(os.fstat(descriptor).st_mode):
            raise Unreadable("not a regular file")
        poller = select.poll()
        poller.register(descriptor, select.POLLIN)
        while size <= cap:  # up to cap + 1 bytes, so that a larger file shows as one
            left = deadline - time.monotonic()
            if not poller.poll(max(0, min(SILENCE, left)) * 1000):  # a FIFO that no writer opened never says so
                raise Unreadable(f"it did not end within {WHOLE_READ} s" if left <= SILENCE else
                                 f"nothing arrived for {SILENCE} s")
            try:
                chunk = os.read(descriptor, min(1024 * 1024, cap + 1 - size))
            except BlockingIOError:
                continue
            except OSError as error:
                raise Unreadable(f"cannot be read: {error.strerror}") from error
            if not chunk:
                return b"".join(chunks)
            chunks.append(chunk)
            size += len(chunk)
    finally:
        os.close(descriptor)
    raise Unreadable(f"larger than {cap // 1024 // 1024} MiB" if cap % (1024 * 1024) == 0 else
                     f"larger than {cap // 1024} KiB")
