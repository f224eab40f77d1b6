"""Whom a signature's chain makes trusted. Every carried certificate is on the path that OpenSSL
validates, above it issuing its top, or another form of a CA of these that a certificate at hand
verifies: the only signature that nothing at hand verifies is the topmost one's."""
import functools
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
# OpenSSL's verdicts on an intact chain that is not trusted: no certificate of the user's, or one not valid then.
UNANCHORED, UNTIMELY = {2, 18, 19, 20, 21}, {9, 10}
NO_CHECK_TIME = 0x200000  # X509_V_FLAG_NO_CHECK_TIME, which pyOpenSSL does not name
PEM_BEGIN = re.compile(rb"-----BEGIN([^\n]*)")  # openssl reads a block wherever a line starts so
CERTIFICATES = {"CERTIFICATE", "X509 CERTIFICATE"}  # the labels of a plain certificate, which openssl reads
KEYS = {"PRIVATE KEY", "ENCRYPTED PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY"}  # a signer's own, beside it
DER, PEM = crypto.FILETYPE_ASN1, crypto.FILETYPE_PEM
parsed = functools.lru_cache(None)(x509.load_der_x509_certificate)  # each certificate read once, however often judged


def fingerprint(der):
    return f"sha256 {hashlib.sha256(der).digest().hex(':').upper()}"


def describe(der):
    """Fingerprint first, so that no name can put another before it, then subject and issuer."""
    certificate = parsed(der)
    return f"{fingerprint(der)}: {certificate.subject.rfc4514_string()} (issuer {certificate.issuer.rfc4514_string()})"


def load_anchor(path):
    """The one certificate of a --trust file, read as `openssl x509 -in FILE` reads it."""
    try:
        return anchor_in(bounded.read_bounded(path, MAX_TRUST_FILE, regular_only=True))
    except Refused as error:
        raise Unusable(f"--trust {path}: {error}") from error


def anchor_in(data):
    """The one certificate (DER) in a --trust file's data; each reading that another could differ from is refused."""
    labels = [label.strip(b" \r-").decode("latin-1") for label in PEM_BEGIN.findall(data)]
    others, blocks = sorted(set(labels) - CERTIFICATES - KEYS), sum(label in CERTIFICATES for label in labels)
    try:
        der = crypto.dump_certificate(DER, crypto.load_certificate(DER, data))
    except crypto.Error:
        der = None
    for broken, cause in [
            (der not in (None, data), "bytes follow its DER certificate; a --trust file holds one certificate"),
            (der and labels, "its DER certificate holds a PEM block, which openssl would read instead"),
            ("TRUSTED CERTIFICATE" in labels, "it holds a certificate with trust settings attached (TRUSTED"
             " CERTIFICATE), which verify does not read: export it plainly with openssl x509 -in FILE -out plain.pem"),
            (der is None and b"\0" in data, "it holds a NUL byte but is no DER certificate: openssl may stop"
             " reading PEM at one"),
            (others, f"it holds a PEM block of another kind than a certificate or a key: {', '.join(others)}"),
            (blocks > 1, f"it holds {blocks} certificates; a --trust file holds one")]:
        if broken:
            raise Refused(cause)
    try:
        der = der or crypto.dump_certificate(DER, crypto.load_certificate(PEM, data))
        check_der(der, "its certificate")
        certificate = parsed(der)
        describe(der)  # its names are printed
    except (crypto.Error, Refused, ValueError, TypeError, KeyError) as error:
        raise Refused("no certificate in it that can be read") from error
    if rules.public_key(certificate) is None:
        raise Refused("its certificate's key is of a kind that nothing here reads")
    try:  # OpenSSL never takes a certificate with an extension twice, or one that it cannot read, for an issuer
        certificate.extensions
    except (x509.DuplicateExtension, ValueError) as error:
        raise Refused(f"its certificate's extensions cannot be read: {error}") from error
    return der


def openssl_path(leaf, carried, anchors, at):
    """The path (DER, leaf first) that OpenSSL validates at the time at (None:
    no time), and None; or None and OpenSSL's code, message and certificate."""
    store = crypto.X509Store()
    for anchor in anchors:
        store.add_cert(crypto.load_certificate(DER, anchor))
    # A certificate that the user named is an anchor by itself.
    store.set_flags(crypto.X509StoreFlags.PARTIAL_CHAIN | (NO_CHECK_TIME if at is None else 0))
    if at is not None:
        store.set_time(at)
    # A pinned signer is trusted for itself: OpenSSL would still judge the certificates carried above it.
    above = [] if leaf in anchors else [crypto.load_certificate(DER, c) for c in carried if c != leaf]
    try:
        path = crypto.X509StoreContext(store, crypto.load_certificate(DER, leaf), above).get_verified_chain()
        return [crypto.dump_certificate(DER, c) for c in path], None
    except crypto.X509StoreContextError as error:
        return None, (*error.errors[::2], crypto.dump_certificate(DER, error.certificate))


def placed(path, carried, anchors, what):
    """The chain (path, then the carried certificates that issue its top), the
    other forms of its CAs, and each of these as far as what is carried issues
    it; refuses a carried certificate that is neither."""
    at_hand = [parsed(der) for der in {*path, *carried, *anchors}]
    verified = functools.lru_cache(None)(lambda der: any(rules.signed_by(parsed(der), c) for c in at_hand))
    chain = climbed(path, carried, verified)
    others, pending = [], [der for der in carried if der not in chain]
    while pending:  # an end entity, the signer, has no other forms
        linked = [der for der in pending if verified(der) and any(
            other_form(parsed(der), parsed(c)) or rules.signed_by(parsed(c), parsed(der)) for c in chain[1:] + others)]
        if not linked:
            raise Refused(f"{what} carries a certificate that is on no path of it, or that nothing at hand"
                          f" verifies: {fingerprint(pending[0])}")
        others += linked
        pending = [der for der in pending if der not in linked]
    return chain, others, [chain] + [climbed([der], carried, verified) for der in others]


def climbed(chain, carried, verified):
    """chain and the carried certificates that issue its top, up to a self-signed one; a form that is verified first."""
    issuers = [] if rules.signed_by(parsed(chain[-1]), parsed(chain[-1])) else [
        der for der in carried if der not in chain and rules.signed_by(parsed(chain[-1]), parsed(der))]
    return climbed(chain + sorted(issuers, key=lambda der: not verified(der))[:1], carried, verified) if issuers else chain


def other_form(certificate, of):
    """Another certificate of the same subject and key: cross-signed, or renewed."""
    keys = [rules.public_key(c) for c in (certificate, of)]
    return (None not in keys and certificate.subject.public_bytes() == of.subject.public_bytes()
            and len({key.public_bytes(Encoding.DER, PublicFormat.SubjectPublicKeyInfo) for key in keys}) == 1)


def problems(leaf, carried, anchors, use, vouched, now, what):
    """Why leaf, judged for use, is not trusted here (empty: it is): its chain
    must be valid when a trusted time-stamp vouches (None: now), or now for Lifetime Signing."""
    lifetime = rules.LIFETIME_SIGNING in (rules.purposes(parsed(leaf)) or [])
    at = now if vouched is None or lifetime else vouched
    if len(set(carried)) != len(carried):
        raise Refused(f"{what} carries a certificate twice")
    path, error = openssl_path(leaf, carried, anchors, None)
    unless(error, UNANCHORED, what)
    chain, others, chains = placed(path or [leaf], carried, anchors, what)
    for each in chains:  # OpenSSL judges what is carried, its top its anchor, whether or not it reaches a trusted one
        unless(openssl_path(each[0], each[1:], each[-1:], None)[1], (), what)
    broken = rules.broken_rule([*map(parsed, chain)], [*map(parsed, others)], use, path and parsed(path[-1]))
    if broken:
        raise Refused(f"{what} (certificate {fingerprint(broken[0].public_bytes(Encoding.DER))}): {broken[1]}")
    if path:  # every signature judged, the time next
        error = openssl_path(leaf, carried, anchors, at)[1]
    if unless(error, UNANCHORED | UNTIMELY, what) is None:
        return []
    code, message, concerned = error
    return [f"{what}: {describe(concerned)}: {message}" + (f" at {at:%Y-%m-%d %H:%M:%S} UTC" if code in UNTIMELY else "")]


def unless(error, allowed, what):
    """error (OpenSSL's code, message and certificate, or None) if its code is allowed; else its refusal."""
    if error and error[0] not in allowed:
        raise Refused(f"{what}: OpenSSL refuses its chain at {fingerprint(error[2])}: {error[1]}")
    return error
