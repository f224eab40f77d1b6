"""Code signing's own rules, which OpenSSL's path validation does not
apply: one table per role, each line a rule, its refusal and its source.
Changing a rule is changing a line."""
from cryptography import x509
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.x509.oid import ExtendedKeyUsageOID as Purpose

CODE_SIGNING, TIME_STAMPING = Purpose.CODE_SIGNING, Purpose.TIME_STAMPING
# Windows ends a signature by such a certificate with the certificate, whatever time-stamp it carries.
LIFETIME_SIGNING = x509.ObjectIdentifier("1.3.6.1.4.1.311.10.3.13")
DIGESTS = {"sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}
# Each signature algorithm judged: its key, its digest, its parameters (DER).
# A digest of None is the SignerInfo's digestAlgorithm, as RFC 3370 3.2 has
# it for rsaEncryption and as Windows (CNG) writes ECDSA, with id-ecPublicKey.
SIGNATURE_ALGORITHMS = {
    "1.2.840.113549.1.1.1": ("rsa", None, (b"", b"\x05\x00")),
    "1.2.840.113549.1.1.11": ("rsa", "sha256", (b"", b"\x05\x00")),
    "1.2.840.113549.1.1.12": ("rsa", "sha384", (b"", b"\x05\x00")),
    "1.2.840.113549.1.1.13": ("rsa", "sha512", (b"", b"\x05\x00")),
    "1.2.840.10045.2.1": ("ec", None, (b"", b"\x05\x00")),
    "1.2.840.10045.4.3.2": ("ec", "sha256", (b"",)),  # RFC 5758 3.2: no parameters
    "1.2.840.10045.4.3.3": ("ec", "sha384", (b"",)),
    "1.2.840.10045.4.3.4": ("ec", "sha512", (b"",)),
}
# 112 bits of security, as OpenSSL's -auth_level 2, and the curves that
# Windows verifies code signatures with; the largest RSA key bounds the work.
RSA_BITS = range(2048, 16385)
CURVES = {"secp256r1", "secp384r1", "secp521r1"}


def extension(certificate, kind):
    """The certificate's extension of kind, or None."""
    try:
        return certificate.extensions.get_extension_for_class(kind)
    except x509.ExtensionNotFound:
        return None


def purposes(certificate):
    usage = extension(certificate, x509.ExtendedKeyUsage)
    return None if usage is None else list(usage.value)


def is_ca(certificate):
    return getattr(getattr(extension(certificate, x509.BasicConstraints), "value", None), "ca", False)


def is_version_3(certificate):
    try:
        return certificate.version == x509.Version.v3
    except x509.InvalidVersion:
        return False


def public_key(certificate):
    """The certificate's key, or None if no library here reads it."""
    try:
        return certificate.public_key()
    except (ValueError, UnsupportedAlgorithm):
        return None


def key_problem(key):
    """Why a key (None: unreadable) is too weak or unknown here; None if it is judged and strong."""
    if isinstance(key, rsa.RSAPublicKey):
        return None if key.key_size in RSA_BITS else f"its RSA key has {key.key_size} bits, not 2048 to 16384"
    if isinstance(key, ec.EllipticCurvePublicKey):
        return None if key.curve.name in CURVES else f"its key is on the curve {key.curve.name}, which is not judged here"
    return "its key is of a kind that is not judged here"


def signs_digitally(certificate):
    return getattr(getattr(extension(certificate, x509.KeyUsage), "value", None), "digital_signature", True)


def stamps_alone(certificate):
    usage = extension(certificate, x509.ExtendedKeyUsage)
    return usage is not None and usage.critical and list(usage.value) == [TIME_STAMPING]


# (source, refusal, rule). The signer's or the authority's own certificate:
ROLES = {
    CODE_SIGNING: [
        ("RFC 5280 4.2.1.9", "its certificate is a CA's, and a CA does not sign here", lambda c: not is_ca(c)),
        ("RFC 5280 4.2.1.3", "its certificate's keyUsage does not allow digitalSignature", signs_digitally),
        ("Authenticode", "its certificate is not made for code signing (extendedKeyUsage)",
         lambda c: CODE_SIGNING in (purposes(c) or [])),
    ],
    TIME_STAMPING: [
        ("RFC 3161 2.3", "its certificate is a CA's, and a CA does not time-stamp here", lambda c: not is_ca(c)),
        ("RFC 3161 2.3", "its certificate's keyUsage does not allow digitalSignature", signs_digitally),
        ("RFC 3161 2.3", "its certificate is not made for time stamping alone (a critical extendedKeyUsage)",
         stamps_alone),
    ],
}
# Each CA above it on the path, for the use judged:
AUTHORITY = [
    ("Authenticode", "a CA on its chain is not made for this use (extendedKeyUsage)",
     lambda c, use: purposes(c) is None or bool({use, Purpose.ANY_EXTENDED_KEY_USAGE} & set(purposes(c)))),
    ("not processed here", "a CA on its chain constrains policies, which verify does not process",
     lambda c, use: not any(extension(c, kind) for kind in (x509.PolicyConstraints, x509.InhibitAnyPolicy))),
]
# Every certificate judged, the one that the user trusts included:
EVERY = [
    ("RFC 5280 4.1.2.1", "a certificate on its chain is not version 3", is_version_3),
    ("-auth_level 2", "a certificate on its chain has a weak or unknown key", lambda c: not key_problem(public_key(c))),
]
# Every certificate but the top of its chain: as with -auth_level 2, no trusted certificate's own signature counts.
SIGNED = [
    ("-auth_level 2", "a certificate on its chain is signed with a weak or unknown digest",
     lambda c: SIGNATURE_ALGORITHMS.get(c.signature_algorithm_oid.dotted_string, (0, None))[1] is not None),
]


def broken_rule(chain, others, use, anchor):
    """The first rule broken by chain (the signer first, up to the top), by
    the other forms of its CAs or by anchor, the certificate trusted on it
    (None: none), as the certificate that breaks it and the refusal; None if
    none is broken."""
    signed = [c for c in chain[:-1] if c != anchor] + [c for c in others if not signed_by(c, c)]
    checks = [(c, cause, rule) for _, cause, rule in ROLES[use] for c in chain[:1]]
    checks += [(c, cause, rule) for _, cause, rule in EVERY for c in chain + others]
    checks += [(c, cause, lambda c, rule=rule: rule(c, use)) for _, cause, rule in AUTHORITY for c in chain[1:] + others]
    checks += [(c, cause, rule) for _, cause, rule in SIGNED for c in signed]
    return next(((c, cause) for c, cause, rule in checks if not rule(c)), None)


def verify(key, algorithm, parameters, value, message, digest=None):
    """value signs message with key by the algorithm (an OID) and its
    parameters (DER); digest is the SignerInfo's, or None for a
    certificate's own. False if it does not, or if the form is not judged."""
    kind, named, allowed = SIGNATURE_ALGORITHMS.get(algorithm, (None, None, ()))
    name = named or digest
    if name not in DIGESTS or named and digest not in (None, named) or parameters not in allowed:
        return False
    try:
        if kind == "rsa" and isinstance(key, rsa.RSAPublicKey):
            key.verify(value, message, padding.PKCS1v15(), DIGESTS[name]())
        elif kind == "ec" and isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(value, message, ec.ECDSA(DIGESTS[name]()))
        else:
            return False
    except (InvalidSignature, UnsupportedAlgorithm, ValueError):
        return False
    return True


def signed_by(certificate, issuer):
    """issuer bears certificate's issuer name, and its key made certificate's
    signature, with whatever digest: SIGNED judges the digest where it counts."""
    if issuer.subject.public_bytes() != certificate.issuer.public_bytes():
        return False
    key, message = public_key(issuer), certificate.tbs_certificate_bytes
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(certificate.signature, message, padding.PKCS1v15(), certificate.signature_hash_algorithm)
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(certificate.signature, message, ec.ECDSA(certificate.signature_hash_algorithm))
        else:
            return False
    except (InvalidSignature, UnsupportedAlgorithm, ValueError, TypeError):
        return False
    return True
