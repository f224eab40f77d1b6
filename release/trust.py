"""Whom a signature's chain makes trusted. OpenSSL chooses and validates
the path (RFC 5280: names, signatures, basic constraints, path length,
keyCertSign, critical extensions, validity at the time judged) from the
signer up to a certificate that the user named, and nothing else: its
store holds only those certificates, with no system root. Code signing's
own rules (rules.py) then judge the path that it chose.

Every carried certificate is on that path, above it issuing its top, or
another form of one of these whose own signature a certificate at hand
verifies: the only signature that nothing at hand verifies is the topmost one's.
"""
import hashlib
import re

from cryptography import x509
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat
from OpenSSL import crypto

import bounded
import rules
from der import check_der
from errors import Refused, Unusable

MAX_TRUST_FILE = 1024 * 1024  # a certificate is some KiB
# OpenSSL's verdicts on an intact chain that is not trusted here: no
# certificate of it named by the user, or one not valid at the time judged.
UNTRUSTED = {2, 9, 10, 18, 19, 20, 21}
DER, SPKI = Encoding.DER, PublicFormat.SubjectPublicKeyInfo
PEM_CERTIFICATE = re.compile(rb"-----BEGIN (X509 |TRUSTED )?CERTIFICATE-----")


def fingerprint(der):
    return f"sha256 {hashlib.sha256(der).digest().hex(':').upper()}"


def describe(der):
    """Fingerprint first, so that no name can put another before it, then subject and issuer."""
    certificate = x509.load_der_x509_certificate(der)
    return (f"{fingerprint(der)}: {certificate.subject.rfc4514_string()}"
            f" (issuer {certificate.issuer.rfc4514_string()})")


def load_anchor(path):
    """The one certificate of a --trust file, read as `openssl x509 -in
    FILE` reads it: the DER certificate that the file is, or else its PEM
    certificate block; a file that holds more is refused."""
    try:
        data = bounded.read_regular(path, MAX_TRUST_FILE)
    except bounded.Unreadable as error:
        raise Unusable(f"--trust {path}: {error}") from error
    try:
        der = crypto.dump_certificate(crypto.FILETYPE_ASN1, crypto.load_certificate(crypto.FILETYPE_ASN1, data))
        if der != data:
            raise Unusable(f"--trust {path}: bytes follow its DER certificate; a --trust file holds one certificate")
    except crypto.Error:
        der = pem_certificate(data, path)
    try:
        check_der(der, "its certificate")
        certificate = x509.load_der_x509_certificate(der)
    except (Refused, ValueError) as error:
        raise Unusable(f"--trust {path}: no certificate in it that can be read") from error
    if rules.public_key(certificate) is None:
        raise Unusable(f"--trust {path}: its certificate's key is of a kind that nothing here reads")
    return der


def pem_certificate(data, path):
    blocks = len(PEM_CERTIFICATE.findall(data))
    if blocks > 1:
        raise Unusable(f"--trust {path}: it holds {blocks} certificates; a --trust file holds one")
    try:
        return crypto.dump_certificate(crypto.FILETYPE_ASN1, crypto.load_certificate(crypto.FILETYPE_PEM, data))
    except crypto.Error as error:
        raise Unusable(f"--trust {path}: no certificate in it") from error


def openssl_path(leaf, carried, anchors, at):
    """The path that OpenSSL validates from leaf up to a certificate that
    the user named, at the time at, as DER, leaf first; or OpenSSL's error
    code, its message and the DER of the certificate it concerns."""
    store = crypto.X509Store()
    for anchor in anchors:
        store.add_cert(crypto.load_certificate(crypto.FILETYPE_ASN1, anchor))
    store.set_flags(crypto.X509StoreFlags.PARTIAL_CHAIN)  # a certificate that the user named is an anchor by itself
    store.set_time(at)
    # A pinned signer is trusted for itself: OpenSSL would still judge the certificates carried above it.
    above = [] if leaf in anchors else [c for c in carried if c != leaf]
    load = lambda der: crypto.load_certificate(crypto.FILETYPE_ASN1, der)  # noqa: E731
    context = crypto.X509StoreContext(store, load(leaf), [load(c) for c in above])
    try:
        return [crypto.dump_certificate(crypto.FILETYPE_ASN1, c) for c in context.get_verified_chain()], None
    except crypto.X509StoreContextError as error:
        code, _, message = error.errors
        return None, (code, message, crypto.dump_certificate(crypto.FILETYPE_ASN1, error.certificate))


def check_carried(path, carried, anchors, what):
    """Refuses a carried certificate that is neither on path, nor above it
    issuing its top, nor another form of one of these verified at hand."""
    parsed = {der: x509.load_der_x509_certificate(der) for der in {*path, *carried, *anchors}}
    at_hand = list(parsed.values())
    verified = lambda der: any(rules.signed_by(parsed[der], c) for c in at_hand)  # noqa: E731
    chain = list(path)
    while not rules.signed_by(parsed[chain[-1]], parsed[chain[-1]]):  # up to a self-signed top
        issuers = [der for der in carried if der not in chain and rules.signed_by(parsed[chain[-1]], parsed[der])]
        if not issuers:
            break
        chain.append(sorted(issuers, key=lambda der: not verified(der))[0])  # a form that is verified first
    pending = [der for der in carried if der not in chain]
    while pending:
        linked = [der for der in pending if verified(der) and any(
            other_form(parsed[der], parsed[c]) or rules.signed_by(parsed[c], parsed[der]) for c in chain)]
        if not linked:
            raise Refused(f"{what} carries a certificate that is on no path of it, or that nothing at hand"
                          f" verifies: {fingerprint(pending[0])}")
        chain += linked
        pending = [der for der in pending if der not in linked]


def other_form(certificate, of):
    """Another certificate of the same subject and key: cross-signed, or renewed."""
    keys = [rules.public_key(c) for c in (certificate, of)]
    return (None not in keys and certificate.subject.public_bytes() == of.subject.public_bytes()
            and len({key.public_bytes(DER, SPKI) for key in keys}) == 1)


def problems(leaf, carried, anchors, use, at, what):
    """Why leaf, judged for use at the time at, is not trusted here; empty
    if it is. Raises Refused for a chain that breaks a rule, whom to trust aside."""
    if len(set(carried)) != len(carried):
        raise Refused(f"{what} carries a certificate twice")
    path, error = openssl_path(leaf, carried, anchors, at)
    judged = path or [leaf]  # untrusted: only the signer's own rules can be judged
    broken = rules.broken_rule([x509.load_der_x509_certificate(der) for der in judged], use)
    if broken:
        index, cause = broken
        raise Refused(f"{what} (certificate {fingerprint(judged[index])}): {cause}")
    check_carried(judged, carried, anchors, what)
    if error is None:
        return []
    code, message, concerned = error
    if code not in UNTRUSTED:
        raise Refused(f"{what}: OpenSSL refuses its chain at {fingerprint(concerned)}: {message}")
    when = f" at {at:%Y-%m-%d %H:%M:%S} UTC" if code in (9, 10) else ""
    return [f"{what}: {describe(concerned)}: {message}{when}"]


def judged_at(leaf, vouched, now):
    """When the chain of leaf must be valid: at the time that a trusted
    time-stamp vouches for (None: no such time-stamp), or now for a
    certificate made to sign only for its own lifetime."""
    lifetime = rules.LIFETIME_SIGNING in (rules.purposes(x509.load_der_x509_certificate(leaf)) or [])
    return now if vouched is None or lifetime else vouched

