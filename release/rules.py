"""Code signing's own rules, which OpenSSL's path validation does not
apply: one table per role, each line a rule, the text of its refusal and
its source. Changing a rule is changing a line."""
from cryptography import x509
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.x509.oid import ExtendedKeyUsageOID

CODE_SIGNING = ExtendedKeyUsageOID.CODE_SIGNING
TIME_STAMPING = ExtendedKeyUsageOID.TIME_STAMPING
# Windows ends a signature by such a certificate with the certificate, whatever time-stamp it carries.
LIFETIME_SIGNING = x509.ObjectIdentifier("1.3.6.1.4.1.311.10.3.13")
DIGESTS = {"sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}
# Each signature algorithm judged here: the key it needs and its digest.
# None: the digest is the SignerInfo's digestAlgorithm, as RFC 3370 3.2
# allows for rsaEncryption and as Windows (CNG) writes an ECDSA SignerInfo
# with id-ecPublicKey; neither ever signs a certificate.
SIGNATURE_ALGORITHMS = {
    "1.2.840.113549.1.1.1": ("rsa", None),
    "1.2.840.113549.1.1.11": ("rsa", "sha256"),
    "1.2.840.113549.1.1.12": ("rsa", "sha384"),
    "1.2.840.113549.1.1.13": ("rsa", "sha512"),
    "1.2.840.10045.2.1": ("ec", None),
    "1.2.840.10045.4.3.2": ("ec", "sha256"),
    "1.2.840.10045.4.3.3": ("ec", "sha384"),
    "1.2.840.10045.4.3.4": ("ec", "sha512"),
}
# 112 bits of security, as OpenSSL's -auth_level 2: RSA of 2048 bits, and
# the curves that Windows verifies code signatures with.
MIN_RSA_BITS, MAX_RSA_BITS = 2048, 16384  # the upper bound bounds the work of one verification
CURVES = {"secp256r1", "secp384r1", "secp521r1"}


def extension(certificate, kind):
    try:
        return certificate.extensions.get_extension_for_class(kind)
    except x509.ExtensionNotFound:
        return None


def is_ca(certificate):
    constraints = extension(certificate, x509.BasicConstraints)
    return constraints is not None and constraints.value.ca


def key_usage_allows(certificate, use):
    usage = extension(certificate, x509.KeyUsage)
    return usage is None or getattr(usage.value, use)


def purposes(certificate):
    usage = extension(certificate, x509.ExtendedKeyUsage)
    return None if usage is None else list(usage.value)


def made_for_time_stamping_alone(certificate):
    usage = extension(certificate, x509.ExtendedKeyUsage)
    return usage is not None and usage.critical and list(usage.value) == [TIME_STAMPING]


def allows(certificate, use):
    """A CA's uses: any, when it names none or names anyExtendedKeyUsage."""
    named = purposes(certificate)
    return named is None or use in named or ExtendedKeyUsageOID.ANY_EXTENDED_KEY_USAGE in named


def is_version_3(certificate):
    try:
        return certificate.version == x509.Version.v3
    except x509.InvalidVersion:
        return False


def constrains_policies(certificate):
    return any(extension(certificate, kind) for kind in (x509.PolicyConstraints, x509.InhibitAnyPolicy))


def key_problem(key):
    """Why a public key (None: unreadable) is too weak or unknown here; None if it is judged and strong."""
    if isinstance(key, rsa.RSAPublicKey):
        fits = MIN_RSA_BITS <= key.key_size <= MAX_RSA_BITS
        return None if fits else f"its RSA key has {key.key_size} bits, not {MIN_RSA_BITS} to {MAX_RSA_BITS}"
    if isinstance(key, ec.EllipticCurvePublicKey):
        return None if key.curve.name in CURVES else f"its key is on the curve {key.curve.name}, which is not judged here"
    return "its key is of a kind that is not judged here"


def certificate_digest(certificate):
    """The digest that a certificate's own signature names, if it is judged here."""
    kind_and_digest = SIGNATURE_ALGORITHMS.get(certificate.signature_algorithm_oid.dotted_string)
    return kind_and_digest[1] if kind_and_digest else None


# Each table: (source, the refusal, the rule). The signer's and the
# authority's own certificate; every CA above it on the path, with the use
# judged; and every certificate on the path, the anchor included.
CODE_SIGNER = [
    ("RFC 5280 4.2.1.9", "its certificate is a CA's, and a CA does not sign here", lambda c: not is_ca(c)),
    ("RFC 5280 4.2.1.3", "its certificate's keyUsage does not allow digitalSignature",
     lambda c: key_usage_allows(c, "digital_signature")),
    ("Authenticode", "its certificate is not made for code signing (extendedKeyUsage)",
     lambda c: CODE_SIGNING in (purposes(c) or [])),
]
TIME_STAMP_AUTHORITY = [
    ("RFC 3161 2.3", "its certificate is a CA's, and a CA does not time-stamp here", lambda c: not is_ca(c)),
    ("RFC 3161 2.3", "its certificate's keyUsage does not allow digitalSignature",
     lambda c: key_usage_allows(c, "digital_signature")),
    ("RFC 3161 2.3", "its certificate is not made for time stamping alone (a critical extendedKeyUsage)",
     made_for_time_stamping_alone),
]
AUTHORITY = [
    ("Authenticode", "a CA on its chain is not made for this use (extendedKeyUsage)", lambda c, use: allows(c, use)),
    ("not processed here", "a CA on its chain constrains policies, which verify does not process",
     lambda c, use: not constrains_policies(c)),
]
EVERY = [
    ("RFC 5280 4.1.2.1", "a certificate on its chain is not version 3", is_version_3),
    ("-auth_level 2", "a certificate on its chain has a weak or unknown key", lambda c: key_problem(public_key(c)) is None),
    ("-auth_level 2", "a certificate on its chain is signed with a weak or unknown digest",
     lambda c: certificate_digest(c) is not None),
]
ROLES = {CODE_SIGNING: CODE_SIGNER, TIME_STAMPING: TIME_STAMP_AUTHORITY}


def broken_rule(path, use):
    """The first rule that path (leaf first) breaks, as the index of the
    certificate that breaks it and the refusal; None if it breaks none."""
    checks = [(0, cause, rule) for _, cause, rule in ROLES[use]]
    checks += [(index, cause, lambda c, rule=rule: rule(c, use))
               for index in range(1, len(path)) for _, cause, rule in AUTHORITY]
    checks += [(index, cause, rule) for index in range(len(path)) for _, cause, rule in EVERY]
    return next(((index, cause) for index, cause, rule in checks if not rule(path[index])), None)


def verify(key, algorithm_oid, value, message, digest=None):
    """value signs message with key by the algorithm (digest: the
    SignerInfo's, or None for a certificate's own); False if it does not
    or if the pair is not judged here."""
    kind, named = SIGNATURE_ALGORITHMS.get(algorithm_oid, (None, None))
    name = named or digest
    if name not in DIGESTS or named and digest not in (None, named):
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


def public_key(certificate):
    """The certificate's key, or None if no library here reads it."""
    try:
        return certificate.public_key()
    except (ValueError, UnsupportedAlgorithm):
        return None


def signed_by(certificate, issuer):
    """issuer bears certificate's issuer name, and its key made certificate's signature."""
    return (issuer.subject.public_bytes() == certificate.issuer.public_bytes()
            and verify(public_key(issuer), certificate.signature_algorithm_oid.dotted_string,
                       certificate.signature, certificate.tbs_certificate_bytes))
