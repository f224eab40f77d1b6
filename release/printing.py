"""The one place where verify's lines meet a terminal: every character but
printable ASCII is escaped, so that no name in a file or a certificate can
break a line, draw on the reader's terminal, or pass a look-alike of a
character off as the real one."""


def printable(text):
    return "".join(c if c.isascii() and c.isprintable() else ascii(c)[1:-1] for c in text)


def say(lines, stream):
    """Prints each line escaped; a stream that the caller closed is None and gets nothing."""
    for line in lines:
        if stream is not None:
            print(printable(line), file=stream)
