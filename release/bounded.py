"""Reads a file that the user names, a pipe or a device too, never more than a cap of it and
with no read that waits without bound (a FIFO that no writer opens is given up on); else refuses it."""
import os
import select
import stat
import time

from errors import Refused

SILENCE = 30  # seconds that a read waits for data: long enough for a slow pipe to start
WHOLE_READ = 120  # seconds for all of it


def read_bounded(path, cap, regular_only=False):
    """The bytes at path, at most cap; the open waits for no writer, and fstat comes first."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        raise Refused(f"cannot be read: {error.strerror}") from error
    data, deadline = bytearray(), time.monotonic() + WHOLE_READ
    try:
        if regular_only and not stat.S_ISREG(os.fstat(descriptor).st_mode):
            raise Refused("not a regular file")
        poller = select.poll()
        poller.register(descriptor, select.POLLIN)
        while len(data) <= cap:  # up to cap + 1 bytes, so that a larger file shows as one
            left = deadline - time.monotonic()
            if not poller.poll(max(0, min(SILENCE, left)) * 1000):  # a FIFO that no writer opened never says so
                raise Refused(f"it did not end within {WHOLE_READ} s" if left <= SILENCE else
                                 f"nothing arrived for {SILENCE} s")
            try:
                chunk = os.read(descriptor, min(1024 * 1024, cap + 1 - len(data)))
            except BlockingIOError:
                continue
            except OSError as error:
                raise Refused(f"cannot be read: {error.strerror}") from error
            if not chunk:
                return bytes(data)
            data += chunk
    finally:
        os.close(descriptor)
    raise Refused(f"larger than {cap // 1024 // 1024} MiB" if cap % (1024 * 1024) == 0 else
                     f"larger than {cap // 1024} KiB")
