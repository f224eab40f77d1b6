"""Code signing's own rules, one table per role, each line a rule, its refusal and its source."""
from cryptography import x509
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.x509.oid import ExtendedKeyUsageOID as Purpose

CODE_SIGNING, TIME_STAMPING = Purpose.CODE_SIGNING, Purpose.TIME_STAMPING
# Windows ends a signature by such a certificate with the certificate, whatever time-stamp it carries.
LIFETIME_SIGNING = x509.ObjectIdentifier("1.3.6.1.4.1.311.10.3.13")
DIGESTS = {"sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}
# Each SignerInfo's signature algorithm judged: its key, its digest, its parameters (DER). A digest of None is the
# digestAlgorithm's, as RFC 3370 3.2 has it for rsaEncryption and as Windows (CNG) writes ECDSA, with id-ecPublicKey.
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
# 112 bits of security, as -auth_level 2, on the curves that Windows verifies; the largest RSA key bounds the work.
RSA_BITS = range(2048, 16385)
KEYS = {"rsa": rsa.RSAPublicKey, "ec": ec.EllipticCurvePublicKey}
CURVES = {"secp256r1", "secp384r1", "secp521r1"}


def extension(certificate, kind):
    """The value of the certificate's extension of kind, or None."""
    try:
        return certificate.extensions.get_extension_for_class(kind).value
    except x509.ExtensionNotFound:
        return None


def purposes(certificate):
    usage = extension(certificate, x509.ExtendedKeyUsage)
    return None if usage is None else list(usage)


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


def stamps_alone(certificate):
    usages = [e for e in certificate.extensions if isinstance(e.value, x509.ExtendedKeyUsage)]
    return [(e.critical, list(e.value)) for e in usages] == [(True, [TIME_STAMPING])]


# (source, refusal, rule). The signer's or the authority's own certificate, which signs:
SIGNS = [
    ("RFC 5280 4.2.1.9, RFC 3161 2.3", "its certificate is a CA's, and a CA does not sign here",
     lambda c: not getattr(extension(c, x509.BasicConstraints), "ca", False)),
    ("RFC 5280 4.2.1.3, RFC 3161 2.3", "its certificate's keyUsage does not allow digitalSignature",
     lambda c: getattr(extension(c, x509.KeyUsage), "digital_signature", True)),
]
ROLES = {
    CODE_SIGNING: SIGNS + [("Authenticode", "its certificate is not made for code signing (extendedKeyUsage)",
                            lambda c: CODE_SIGNING in (purposes(c) or []))],
    TIME_STAMPING: SIGNS + [("RFC 3161 2.3", "its certificate is not made for time stamping alone (a critical"
                             " extendedKeyUsage)", stamps_alone)],
}
# Each CA judged, above the signer or another form of one, for the use judged:
AUTHORITY = [
    ("Authenticode", "a CA on its chain is not made for this use (extendedKeyUsage)",
     lambda c, use: purposes(c) is None or bool({use, Purpose.ANY_EXTENDED_KEY_USAGE} & set(purposes(c)))),
    ("not processed here", "a CA on its chain constrains policies, which verify does not process",
     lambda c, use: all(extension(c, kind) is None for kind in (x509.PolicyConstraints, x509.InhibitAnyPolicy))),
]
# Every certificate judged, the one that the user trusts included:
EVERY = [
    ("RFC 5280 4.1.2.1", "a certificate on its chain is not version 3", is_version_3),
    ("-auth_level 2", "a certificate on its chain has a weak or unknown key", lambda c: not key_problem(public_key(c))),
]
# Every certificate but a trusted or self-signed one: as with -auth_level 2, no anchor's own signature counts.
SIGNED = [
    ("-auth_level 2", "a certificate on its chain is signed with a weak or unknown digest",
     lambda c: SIGNATURE_ALGORITHMS.get(c.signature_algorithm_oid.dotted_string, (0, None))[1] is not None),
]


def broken_rule(chain, others, use, anchor):
    """The first rule that chain (the signer first) or the other forms of its
    CAs break, anchor the certificate trusted on it: the certificate and the refusal."""
    signed = [c for c in chain + others if c != anchor and not signed_by(c, c)]
    checks = [(c, cause, rule) for _, cause, rule in ROLES[use] for c in chain[:1]]
    checks += [(c, cause, rule) for _, cause, rule in EVERY for c in chain + others]
    checks += [(c, cause, lambda c, rule=rule: rule(c, use)) for _, cause, rule in AUTHORITY for c in chain[1:] + others]
    checks += [(c, cause, rule) for _, cause, rule in SIGNED for c in signed]
    return next(((c, cause) for c, cause, rule in checks if not rule(c)), None)


def verify(key, algorithm, parameters, value, message, digest):
    """value is key's signature over message by a SignerInfo's algorithm (OID), parameters (DER) and digest."""
    kind, named, allowed = SIGNATURE_ALGORITHMS.get(algorithm, (None, None, ()))
    if named not in (None, digest) or parameters not in allowed:
        return False
    return isinstance(key, KEYS[kind]) and made_by(key, value, message, DIGESTS[digest]())


def signed_by(certificate, issuer):
    """issuer bears certificate's issuer name, and its key made its signature, with whatever digest."""
    try:
        digest = certificate.signature_hash_algorithm
    except UnsupportedAlgorithm:
        return False
    return (issuer.subject.public_bytes() == certificate.issuer.public_bytes()
            and made_by(public_key(issuer), certificate.signature, certificate.tbs_certificate_bytes, digest))


def made_by(key, value, message, digest):
    """value is key's signature (RSA PKCS#1 v1.5 or ECDSA) over message with digest."""
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(value, message, padding.PKCS1v15(), digest)
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(value, message, ec.ECDSA(digest))
        else:
            return False
    except (InvalidSignature, UnsupportedAlgorithm, ValueError, TypeError):
        return False
    return True
