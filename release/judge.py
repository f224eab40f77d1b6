"""The verdict on a file against the commit's build, touching nothing else. Whatever is raised
while bytes that someone chose are judged ends here, as a refusal that names its cause."""
import functools
import hashlib
from collections import namedtuple

import authenticode
import pe
from errors import Refused

MAX_SIGNATURE = 256 * 1024  # eight signatures with chains and time-stamps fit many times over
# "verified", "untrusted" (intact, but a signer is not trusted here) or "refused"; the cause or the problems, then
# the signers; and whether it was refused because the file is not the build with its signature attached.
Verdict = namedtuple("Verdict", "outcome lines other_bytes", defaults=[False])


def judging(function):
    """The one boundary around judging: a parser's own exception becomes a refusal."""
    @functools.wraps(function)
    def judged(*arguments):
        try:
            return function(*arguments)
        except Refused:
            raise
        except Exception as error:  # asn1crypto, cryptography and pefile fail in many ways on what they do not know
            raise Refused(f"it cannot be judged: {type(error).__name__}: {error}") from error
    return judged


@judging
def processor_of(data):
    return pe.layout_of(data).processor


def judge_release(data, built, anchors, now):
    """The Verdict on data, which must be built with its own signature attached, trusting anchors (DER) at now."""
    try:
        return judged_release(data, built, anchors, now)
    except Refused as reason:
        return Verdict("refused", list(reason.args))


@judging
def judged_release(data, built, anchors, now):
    layout = pe.layout_of(data)
    signature = pe.signature_of(data, layout)
    if signature is not None and len(signature) > MAX_SIGNATURE:
        raise Refused(f"its signature is larger than {MAX_SIGNATURE // 1024} KiB, which no signature of notice.exe needs")
    # The whole file first: a file that is not the build costs no signature checks.
    if pe.with_signature(built, signature) != data:
        return Verdict("refused", [f"its bytes are not notice.exe for {layout.processor} as the commit builds here"
                                   f" (sha256 {hashlib.sha256(built).hexdigest()})"], other_bytes=True)
    problems, lines = (authenticode.judge_signature(signature, data, layout, anchors, now, "the signature")
                       if signature else ([], ["  unsigned"]))
    # Every problem, then every signer and time-stamp authority, fingerprint first.
    return Verdict("untrusted" if problems else "verified", [f"  {problem}" for problem in problems] + lines)
