"""The verdict on a file against the commit's build, touching nothing else:
the file must be the build with its own signature attached, byte for byte,
and then every signature in it is judged. Whatever is raised while bytes
that someone chose are judged ends here, as a refusal that names its cause."""
import functools
import hashlib
from dataclasses import dataclass, field
from typing import List

import authenticode
import pe
import trust
from errors import Refused

MAX_SIGNATURE = 256 * 1024  # eight signatures with chains and time-stamps fit many times over


@dataclass
class Verdict:
    outcome: str  # "verified", "untrusted" (intact, but a signer is not trusted here) or "refused"
    lines: List[str] = field(default_factory=list)  # the cause or the problems, then the signers
    other_bytes: bool = False  # refused because the file is not the build with its signature attached


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
    """Which build data claims to be: x86 or x64."""
    return pe.layout_of(data).processor


def judge_release(data, built, anchors, now):
    """The Verdict on data, which must be built (the commit's build) with its
    own signature attached; anchors are the DER certificates that the user
    trusts, now the time to judge at (UTC)."""
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
    signatures = signature and authenticode.judge_signature(signature, data, layout, anchors, now, "the signature")
    problems = [p for s in signatures or [] for p in (s.time_stamp.problems if s.time_stamp else []) + s.problems]
    lines = [f"  {problem}" for problem in problems] + (["  unsigned"] if not signatures else [])
    for s in signatures or []:  # every signer and time-stamp authority, fingerprint first
        lines.append(f"  {'nested signature' if s.nested else 'signed'} by {trust.describe(s.signer)}")
        if s.time_stamp:
            lines.append(f"    time-stamped {s.time_stamp.time:%Y-%m-%d %H:%M:%S} UTC by"
                         f" {trust.describe(s.time_stamp.authority)}")
    return Verdict("untrusted" if problems else "verified", lines)
