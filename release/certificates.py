"""Certificates as code signing on Windows judges them, trusting only the
certificates that the user names.

A signer's chain is built from the certificates that its signature carries
and the trust anchors, each issued by the next (names equal byte for byte,
key identifiers equal where both name one, signature verified), an anchor
preferred at each link, up to a self-signed one or to an anchor. The signer
is trusted when one certificate on that chain is an anchor, which is
trusted for itself: above it, what is carried must only be DER and on the
path. Every link up to it must meet the rules of its use and the strength
of OpenSSL's -auth_level 2; whatever cannot be judged is refused, never
passed over.
"""
import hashlib

from cryptography import x509 as cx509
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding
from asn1crypto import keys, pem, x509

from printing import printable

import bounded

CODE_SIGNING = "1.3.6.1.5.5.7.3.3"
TIME_STAMPING = "1.3.6.1.5.5.7.3.8"
ANY_PURPOSE = "2.5.29.37.0"
# Windows ends a signature by such a certificate with the certificate, whatever time-stamp it carries.
LIFETIME_SIGNING = "1.3.6.1.4.1.311.10.3.13"
DIGESTS = {"sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}
# Each signature algorithm: the key it needs and the digest it names (None:
# rsaEncryption, whose digest a SignerInfo names apart).
SIGNATURE_ALGORITHMS = {
    "1.2.840.113549.1.1.1": ("rsa", None),
    "1.2.840.113549.1.1.11": ("rsa", "sha256"),
    "1.2.840.113549.1.1.12": ("rsa", "sha384"),
    "1.2.840.113549.1.1.13": ("rsa", "sha512"),
    "1.2.840.10045.4.3.2": ("ec", "sha256"),
    "1.2.840.10045.4.3.3": ("ec", "sha384"),
    "1.2.840.10045.4.3.4": ("ec", "sha512"),
}
DER_NULL = b"\x05\x00"
# -auth_level 2 asks for 112 bits of security: RSA of 2048 bits, curves of
# 224 bits. These are the curves that Windows verifies code signatures with.
MIN_RSA_BITS = 2048
MAX_RSA_BITS = 16384  # bounds the work of one verification
CURVES = {"secp256r1", "secp384r1", "secp521r1"}
# The extensions whose meaning is judged here, and so may be critical.
JUDGED_EXTENSIONS = {"basic_constraints", "key_usage", "extended_key_usage"}
# The extensions read here: the judged ones and the key identifiers that link a chain.
READ_EXTENSIONS = JUDGED_EXTENSIONS | {"key_identifier", "authority_key_identifier"}
# Policy and name constraints would need path processing that nothing here does.
UNJUDGED_EXTENSIONS = {"policy_constraints", "inhibit_any_policy", "name_constraints"}
# A --trust file holds a certificate or a chain of some KiB.
MAX_TRUST_FILE = 1024 * 1024
UTF8_BOM = b"\xef\xbb\xbf"
SEQUENCE, SET = 0x10, 0x11
BOOLEAN, INTEGER, BIT_STRING, OBJECT_IDENTIFIER = 0x01, 0x02, 0x03, 0x06
ONE_FORM_TYPES = (BOOLEAN, INTEGER, BIT_STRING, OBJECT_IDENTIFIER)
UNIVERSAL_CLASS = 0


class Refused(Exception):
    """A certificate or a signature is malformed, broken, weak or not judged here.
    Its first argument is the one cause; any further ones are lines that explain it."""


class Unusable(Exception):
    """A --trust file holds no certificate that can be read."""


def element_end(data, offset, end, what):
    """Where the contents of the DER element at offset start and where it
    ends; its header must be definite and minimal, and it must end by end."""
    if offset + 2 > end or data[offset] & 0x1F == 0x1F:
        raise Refused(f"{what} is not DER")
    first = data[offset + 1]
    if first < 0x80:
        start, length = offset + 2, first
    else:
        count = first & 0x7F
        digits = data[offset + 2:min(offset + 2 + count, end)]
        length = int.from_bytes(digits, "big")
        if not 1 <= count <= 4 or len(digits) != count or digits[0] == 0 or length < 0x80:
            raise Refused(f"{what} is not DER (a length that is indefinite or not minimal)")
        start = offset + 2 + count
    if start + length > end:
        raise Refused(f"{what} is not DER (an element longer than what holds it)")
    return start, start + length


def check_der(data, what):
    """data is one DER element, and so is every element inside it, with
    minimal lengths; universal types are constructed exactly when DER says."""
    if element_end(data, 0, len(data), what)[1] != len(data):
        raise Refused(f"{what} is not one DER element")
    pending = [(0, len(data))]
    while pending:
        offset, end = pending.pop()
        while offset < end:
            tag = data[offset]
            start, offset = element_end(data, offset, end, what)
            constructed = bool(tag & 0x20)
            if tag >> 6 == UNIVERSAL_CLASS and constructed != (tag & 0x1F in (SEQUENCE, SET)):
                raise Refused(f"{what} is not DER (a universal type in the wrong form)")
            if constructed:
                pending.append((start, offset))
            elif tag in ONE_FORM_TYPES and not minimal_value(tag, data[start:offset]):
                raise Refused(f"{what} is not DER (an integer, boolean, bit string or object identifier"
                              " not in its one form)")


def minimal_value(tag, value):
    """A BOOLEAN is 00 or FF; a BIT STRING's unused bits are fewer than 8
    and zero; an INTEGER has no leading byte that only repeats its sign; an
    OBJECT IDENTIFIER's last byte ends a subidentifier, and none starts with
    a 0x80 that adds only a zero."""
    if tag == OBJECT_IDENTIFIER:
        starts = [index for index in range(len(value)) if index == 0 or value[index - 1] < 0x80]
        return bool(value) and value[-1] < 0x80 and all(value[index] != 0x80 for index in starts)
    if tag == BOOLEAN:
        return value in (b"\x00", b"\xff")
    if tag == BIT_STRING:
        unused = value[0] if value else 8
        return unused == 0 or unused < 8 and len(value) > 1 and value[-1] & ((1 << unused) - 1) == 0
    if len(value) < 2:
        return len(value) == 1
    return not (value[0] == 0x00 and value[1] < 0x80 or value[0] == 0xFF and value[1] >= 0x80)


def fingerprint(certificate):
    return f"sha256 {hashlib.sha256(certificate.dump()).digest().hex(':').upper()}"


def naming(what, certificate):
    """what, narrowed to one certificate of its chain, so that a cause names which."""
    return f"{what} (certificate {fingerprint(certificate)})"


def describe(certificate, what):
    """SHA-256 fingerprint, subject and issuer, as a reader checks them: the
    fingerprint first, so that no name can put another before it, and the
    names escaped."""
    fingerprint_text = fingerprint(certificate)
    try:
        parsed = cx509.load_der_x509_certificate(certificate.dump())
        subject, issuer = parsed.subject.rfc4514_string(), parsed.issuer.rfc4514_string()
    except (ValueError, cx509.InvalidVersion) as error:
        raise Refused(f"{what}: the names of {fingerprint_text} cannot be read as text") from error
    return f"{fingerprint_text}: {printable(subject)} (issuer {printable(issuer)})"


def load_anchors(paths):
    """The certificates of the --trust files, PEM (one or more) or DER."""
    anchors = []
    for path in paths:
        try:
            anchors += [load_certificate(der) for der in certificate_blocks(bounded.read_regular(path, MAX_TRUST_FILE))]
        except bounded.Unreadable as error:
            raise Unusable(f"--trust {path}: {error}") from error
        except (ValueError, TypeError) as error:
            raise Unusable(f"--trust {path}: no certificate in it") from error
    return anchors


def certificate_blocks(data):
    """The DER of each CERTIFICATE block of a PEM file, whatever other blocks
    (a key exported with it) it holds; a DER file is its one certificate."""
    data = data.removeprefix(UTF8_BOM)  # as editors on Windows save a text file
    if not pem.detect(data):
        return [data]
    blocks = [der for kind, _, der in pem.unarmor(data, multiple=True) if kind == "CERTIFICATE"]
    if not blocks:
        raise ValueError("no CERTIFICATE block")
    return blocks


def load_certificate(der):
    try:
        certificate = x509.Certificate.load(der, strict=True)
        certificate.native  # parses every field now, so that a bad one fails here
    except Exception as error:  # the parser fails in many ways on what it does not know
        raise ValueError("not a certificate that can be read") from error
    return certificate


def check_one_form(structure, der, what):
    """der, parsed as structure and encoded again, is the same bytes: DER has
    one form, in which no DEFAULT value is written out."""
    try:
        same = structure.load(der, strict=True).dump(force=True) == der
    except (ValueError, TypeError, KeyError) as error:
        raise Refused(f"{what} cannot be parsed: {printable(str(error))}") from error
    if not same:
        raise Refused(f"{what} is not DER (a value not in its one form, or a default written out)")


def public_key(certificate, what, strong=True):
    """The certificate's key, if it is one that is judged here and (when
    strong) strong enough."""
    info = certificate.public_key
    try:
        kind = info.algorithm
        if kind == "rsa" and not (MIN_RSA_BITS if strong else 1) <= info.bit_size <= MAX_RSA_BITS:
            raise Refused(f"{what}: its RSA key has {info.bit_size} bits, not {MIN_RSA_BITS} to {MAX_RSA_BITS}")
        if kind == "ec" and not isinstance(info["algorithm"]["parameters"], keys.ECDomainParameters):
            raise Refused(f"{what}: its EC key names no curve")
        if kind == "ec" and strong and info.curve[1] not in CURVES:
            raise Refused(f"{what}: its key is on the curve {info.curve[1]}, which is not judged here")
        if kind not in ("rsa", "ec"):
            raise Refused(f"{what}: its {kind} key is not judged here")
        return serialization.load_der_public_key(info.dump())
    except (ValueError, TypeError, UnsupportedAlgorithm) as error:
        raise Refused(f"{what}: its key cannot be read") from error


def signature_kind(algorithm, what):
    """The key and digest that a signature algorithm names, if it is judged here."""
    oid = algorithm["algorithm"].dotted
    if oid not in SIGNATURE_ALGORITHMS:
        raise Refused(f"{what}: its signature algorithm {algorithm['algorithm'].native} is not judged here")
    return SIGNATURE_ALGORITHMS[oid]


def verify_signature(key_certificate, algorithm, value, message, digest, what, strong=True):
    """value signs message with key_certificate's key, by algorithm, whose
    parameters and digest (if it names one) must fit. digest is the digest
    that a SignerInfo names, or None for a certificate's own signature;
    strong as public_key takes it."""
    kind, named = signature_kind(algorithm, what)
    parameters = algorithm["parameters"].dump()
    if parameters not in ((b"", DER_NULL) if kind == "rsa" else (b"",)):
        raise Refused(f"{what}: its signature algorithm has parameters that it must not have")
    if named is None and digest is None or named is not None and digest not in (None, named):
        raise Refused(f"{what}: its signature algorithm does not agree with its digest")
    key = public_key(key_certificate, what, strong)
    if kind != key_certificate.public_key.algorithm:
        raise Refused(f"{what}: its signature algorithm does not fit its key")
    hash_algorithm = DIGESTS[named or digest]()
    try:
        if kind == "rsa":
            key.verify(value, message, padding.PKCS1v15(), hash_algorithm)
        else:
            key.verify(value, message, ec.ECDSA(hash_algorithm))
    except InvalidSignature as error:
        raise Refused(f"{what}: its signature does not verify") from error


def check_issued(certificate, issuer, what, strong=True):
    """issuer's key made certificate's signature, over the same algorithm that it names inside."""
    what = naming(what, certificate)
    algorithm = certificate["signature_algorithm"]
    if algorithm.dump() != certificate["tbs_certificate"]["signature"].dump():
        raise Refused(f"{what}: its two signature algorithm fields differ")
    if certificate["signature_value"].contents[:1] != b"\x00":
        raise Refused(f"{what}: a certificate's signature is not whole bytes")
    verify_signature(issuer, algorithm, certificate["signature_value"].native,
                     certificate["tbs_certificate"].dump(), None, what, strong)


def is_self_issued(certificate):
    return certificate["tbs_certificate"]["issuer"].dump() == certificate["tbs_certificate"]["subject"].dump()


def distinct(certificates):
    """certificates with every repeated one left out: identical bytes are one certificate."""
    return list({certificate.dump(): certificate for certificate in certificates}.values())


def may_have_issued(issuer, certificate):
    """issuer bears certificate's issuer name and, where both name one, its key identifier."""
    named = issuer["tbs_certificate"]["subject"].dump() == certificate["tbs_certificate"]["issuer"].dump()
    wanted, found = certificate.authority_key_identifier, issuer.key_identifier
    return named and (wanted is None or found is None or wanted == found)


def verifies(issuer, certificate, what, strong=True):
    """issuer bears certificate's issuer name and key identifier, and its key made certificate's signature."""
    return may_have_issued(issuer, certificate) and made_signature(issuer, certificate, what, strong)


def made_signature(issuer, certificate, what, strong=True):
    try:
        check_issued(certificate, issuer, what, strong)
        return True
    except Refused:
        return False


def named_issuers(certificate, carried, anchors):
    """The certificates at hand, certificate itself first, that bear its issuer's name and key identifier."""
    return [issuer for issuer in distinct([certificate, *anchors, *carried]) if may_have_issued(issuer, certificate)]


def issuer_on_path(certificate, carried, anchors, what):
    """certificate's issuer: of the carried certificates and anchors that bear
    its issuer's name and key identifier, one whose key made its signature,
    an anchor before any other, then certificate itself (a self-signed top);
    None if none is named. When some are named but none verifies, the first
    one's check says why."""
    named = named_issuers(certificate, carried, anchors)
    verifying = [issuer for issuer in named if verifies(issuer, certificate, what)]
    if named and not verifying:
        check_issued(certificate, named[0], what)
    trusted = {anchor.dump() for anchor in anchors}
    preferred = [issuer for issuer in verifying if issuer.dump() in trusted]
    preferred += [issuer for issuer in verifying if issuer.dump() == certificate.dump()]
    if preferred:
        return preferred[0]
    if len(verifying) > 1:
        raise Refused(f"{what}: its chain is not one path from its signer upward")
    return verifying[0] if verifying else None


def check_extension_values(certificate, what):
    """Each extension's value is DER, and the ones that are read here are in
    their one form, so that no byte of them goes unjudged."""
    for extension in certificate["tbs_certificate"]["extensions"] or []:
        value, name = extension["extn_value"], extension["extn_id"].native
        check_der(value.contents, f"{what}: its extension {name}")
        if name in READ_EXTENSIONS:
            check_one_form(type(value.parsed), value.contents, f"{what}: its extension {name}")


def repeated_extensions(certificate):
    ids = [extension["extn_id"].dotted for extension in certificate["tbs_certificate"]["extensions"] or []]
    return sorted({oid for oid in ids if ids.count(oid) > 1})


def check_extensions(certificate, what):
    """Only a version 3 certificate, each extension once (the parser would
    keep only the last), and none that is critical or constrains the path
    but is not judged here."""
    version = certificate["tbs_certificate"]["version"].native
    if version != "v3":
        raise Refused(f"{what}: a certificate on its chain is {version}, and only v3 certificates are judged here")
    repeated = repeated_extensions(certificate)
    if repeated:
        raise Refused(f"{what}: a certificate on its chain repeats extensions ({', '.join(repeated)})")
    unjudged = [name for name in certificate.critical_extensions if name not in JUDGED_EXTENSIONS]
    unjudged += [e["extn_id"].native for e in certificate["tbs_certificate"]["extensions"] or []
                 if e["extn_id"].native in UNJUDGED_EXTENSIONS]
    if unjudged:
        raise Refused(f"{what}: it has extensions that are not judged here ({', '.join(sorted(set(unjudged)))})")


def purposes_allow(certificate, usage):
    """A CA's uses: any, when it names none or names anyExtendedKeyUsage."""
    purposes = certificate.extended_key_usage_value
    return purposes is None or any(p.dotted in (usage, ANY_PURPOSE) for p in purposes)


def made_for(certificate, usage):
    """An end entity is made for the use that its EKU names, never through
    anyExtendedKeyUsage; a time-stamp authority for time stamping alone, in a
    critical EKU (RFC 3161), so that no code signer can time-stamp itself."""
    purposes = [p.dotted for p in certificate.extended_key_usage_value or []]
    if usage == TIME_STAMPING:
        return purposes == [TIME_STAMPING] and "extended_key_usage" in certificate.critical_extensions
    return usage in purposes


def check_end_entity(certificate, usage, what):
    """The signer: no CA, keyUsage (if any) with digitalSignature, an EKU made for the use."""
    usages = certificate.key_usage_value
    if certificate.ca:
        raise Refused(f"{what}: its certificate is a CA's, and a CA does not sign here")
    if usages is not None and "digital_signature" not in usages.native:
        raise Refused(f"{what}: its certificate's keyUsage does not allow digitalSignature")
    if not made_for(certificate, usage):
        raise Refused(f"{what}: its certificate is not made for this use")


def check_authority(certificate, below, usage, what):
    """A CA above `below` certificates of the chain that are CAs themselves."""
    usages = certificate.key_usage_value
    if not certificate.ca:
        raise Refused(f"{what}: a certificate above its signer is not a CA")
    if usages is None or "key_cert_sign" not in usages.native:
        raise Refused(f"{what}: a CA on its chain has no keyUsage that allows keyCertSign")
    if not purposes_allow(certificate, usage):
        raise Refused(f"{what}: a CA on its chain is not made for this use")
    if certificate.max_path_length is not None and below > certificate.max_path_length:
        raise Refused(f"{what}: its chain is longer than a CA on it allows")


def chain_of(leaf, carried, anchors, what):
    """The chain from leaf upward, each link verified by the one above it, up
    to the first anchor or a self-signed certificate; above an anchor, the
    carried certificates that go on issuing it, whose strength nothing judges.
    Every carried certificate must be on the path: on the chain, or another
    form of the issuer of a link of it (its key verifies that link too)."""
    if len(carried) != len(distinct(carried)):
        raise Refused(f"{what} carries a certificate twice")
    chain = [leaf]
    while first_trusted(chain, anchors) is None:
        issuer = issuer_on_path(chain[-1], carried, anchors, what)
        if issuer is None or issuer.dump() == chain[-1].dump():
            return checked_carried(chain, carried, anchors, what)  # issued by someone unknown here, or self-signed
        if issuer.dump() in {link.dump() for link in chain}:
            raise Refused(f"{what}: its chain is not one path from its signer upward")
        chain.append(issuer)
    while not verifies(chain[-1], chain[-1], what, strong=False):  # a self-signed top ends it
        above = [issuer for issuer in distinct(carried) if issuer.dump() not in {link.dump() for link in chain}
                 and verifies(issuer, chain[-1], what, strong=False)]
        if not above:
            break
        chain.append(above[0])
    return checked_carried(chain, carried, anchors, what)


def checked_carried(chain, carried, anchors, what):
    """chain, if every carried certificate is on its path: on it, or another
    form of an issuer on it whose own signature verifies where its issuer
    is at hand (by its own key, if it names itself), so that no copy of a
    certificate on the path is changed unseen."""
    on_chain = {link.dump() for link in chain}
    for certificate in carried:
        if certificate.dump() not in on_chain and not (
                any(verifies(certificate, link, what, strong=False) for link in chain)
                and signed_as_named(certificate, carried, anchors, what)):
            raise Refused(f"{what} carries certificates that no chain of it uses")
    return chain


def signed_as_named(certificate, carried, anchors, what):
    """certificate's signature verifies by one key at hand that may have
    made it, or none is at hand: an issuer that bears its issuer name, or
    the key identifier that it names for its issuer. One that names none
    has only its own key to be signed by, as only a self-signed certificate
    may leave its issuer's key identifier out (RFC 5280)."""
    wanted = certificate.authority_key_identifier
    keys = named_issuers(certificate, carried, anchors)
    if wanted is None:
        keys.append(certificate)
    else:
        keys += [issuer for issuer in distinct([*anchors, *carried]) if issuer.key_identifier == wanted]
    return not keys or any(made_signature(issuer, certificate, what, strong=False) for issuer in keys)


def first_trusted(chain, anchors):
    """Where on chain the first certificate that the user trusts is; None if nowhere."""
    trusted = {anchor.dump() for anchor in anchors}
    return next((index for index, link in enumerate(chain) if link.dump() in trusted), None)


def judged_part(chain, anchors):
    """chain up to the first certificate that the user trusts, which is trusted
    for itself: what lies above it adds nothing and takes nothing away."""
    index = first_trusted(chain, anchors)
    return chain if index is None else chain[:index + 1]


def untrusted_chain(chain, anchors, what):
    """Why no link of chain makes its signer trusted; None if one does. A
    link that is an anchor is trusted for itself, and every link below it is
    verified by the one above: what lies above the anchor adds nothing."""
    if first_trusted(chain, anchors) is not None:
        return None
    if not is_self_issued(chain[-1]):
        return f"{what}: the issuer of {describe(chain[-1], what)} is not trusted here"
    return f"{what}: no certificate on its chain is trusted here"


def signs_for_lifetime(certificate):
    purposes = certificate.extended_key_usage_value
    return purposes is not None and any(p.dotted == LIFETIME_SIGNING for p in purposes)


def judged_at(certificate, vouched, now):
    """When the chain of certificate must be valid: at the time that a
    trusted time-stamp vouches for (None: no such time-stamp), or now for a
    certificate made to sign only for its own lifetime."""
    return now if vouched is None or signs_for_lifetime(certificate) else vouched


def trust_problems(leaf, carried, anchors, usage, at, what):
    """Why the chain of leaf, judged by the rules of usage at the time at,
    does not make it trusted here; empty if it does. Raises Refused when
    the chain breaks a rule, whom to trust aside."""
    whole = chain_of(leaf, carried, anchors, what)
    for certificate in distinct(whole + carried):
        check_extension_values(certificate, naming(what, certificate))
    # Above the first trusted certificate nothing counts: it is trusted for itself.
    chain = judged_part(whole, anchors)
    for certificate in chain:
        check_extensions(certificate, naming(what, certificate))
        public_key(certificate, naming(what, certificate))
    check_end_entity(leaf, usage, naming(what, leaf))
    for below, certificate in enumerate(chain[1:]):
        check_authority(certificate, below, usage, naming(what, certificate))
    for certificate in chain:
        # The top's own signature too, though its issuer is unknown: no
        # trusted certificate is one that MD5 or SHA-1 signed.
        signature_kind(certificate["signature_algorithm"], naming(what, certificate))
    untrusted = untrusted_chain(chain, anchors, what)
    problems = [untrusted] if untrusted else []
    for certificate in chain:
        validity = certificate["tbs_certificate"]["validity"]
        if not validity["not_before"].native <= at <= validity["not_after"].native:
            problems.append(f"{what}: {describe(certificate, what)} is not valid at {at:%Y-%m-%d %H:%M:%S} UTC")
    return problems
