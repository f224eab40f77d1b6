"""How a field that a stranger chose may join a line that verify prints."""


def printable(text):
    """text with every character but printable ASCII escaped: no name in a
    file or a certificate can break a line, draw on the reader's terminal,
    or pass a look-alike of a character off as the real one."""
    return "".join(c if c.isascii() and c.isprintable() else ascii(c)[1:-1] for c in text)
