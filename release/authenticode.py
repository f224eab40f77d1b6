"""Judges the Authenticode signatures of a PE file, each on its own.

A signature is intact when its digest is the file's, its signed attributes
are the ones it claims, and its signature value verifies with its own
certificate. Nested signatures and RFC 3161 time-stamps are judged the same
way. Whom to trust is not decided here: that is the caller's question.
Anything that cannot be judged is refused, never passed over.
"""
import hashlib
import struct
from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import List, Optional

import pefile
from asn1crypto import algos, cms, core, parser, pem, tsp, x509
from cryptography import x509 as cx509
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa

SECURITY_DIRECTORY = 4
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
RFC3161_TIME_STAMP = "1.3.6.1.4.1.311.3.3.1"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
CODE_SIGNING = "1.3.6.1.5.5.7.3.3"
TIME_STAMPING = "1.3.6.1.5.5.7.3.8"
# Weaker digests are refused: a match by them vouches for too little.
DIGESTS = {"sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}
MAX_NESTING = 8
SIGNED_DATA_FIELDS = ["version", "digest_algorithms", "encap_content_info", "certificates", "crls", "signer_infos"]
SIGNER_INFO_FIELDS = ["version", "sid", "digest_algorithm", "signed_attrs", "signature_algorithm", "signature",
                      "unsigned_attrs"]
CONTEXT_CLASS = 2


class Refused(Exception):
    """The file or one of its signatures is malformed or broken."""


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", algos.DigestInfo)]


@dataclass
class TimeStamp:
    time: datetime
    authority: x509.Certificate
    certificates: List[x509.Certificate]


@dataclass
class Signature:
    signer: x509.Certificate
    certificates: List[x509.Certificate]  # all that the signature carries
    time_stamp: Optional[TimeStamp] = None
    nested: bool = False


@dataclass
class PeLayout:
    checksum: int  # offset of the CheckSum field
    security_entry: int  # offset of the security directory entry
    table: int  # offset and size of the certificate table; 0 when unsigned
    table_size: int = 0
    blobs: List[bytes] = field(default_factory=list)


def layout_of(data):
    """Where the bytes that no signature covers sit; refuses a file that is no PE."""
    try:
        pe = pefile.PE(data=data, fast_load=True)
        header = pe.OPTIONAL_HEADER
        entry = header.DATA_DIRECTORY[SECURITY_DIRECTORY]
    except (pefile.PEFormatError, IndexError, AttributeError) as error:
        raise Refused("not a PE file") from error
    layout = PeLayout(header.get_field_absolute_offset("CheckSum"), entry.get_file_offset(),
                      entry.VirtualAddress, entry.Size)
    if layout.table == 0 and layout.table_size == 0:
        return layout
    if layout.table + layout.table_size > len(data) or layout.table_size < 8:
        raise Refused("its certificate table lies outside the file")
    layout.blobs = certificate_entries(data[layout.table:layout.table + layout.table_size])
    return layout


def certificate_entries(table):
    """The PKCS#7 blobs of the WIN_CERTIFICATE entries, each 8-byte aligned."""
    blobs = []
    offset = 0
    while offset < len(table):
        if len(table) - offset < 8:
            raise Refused("its certificate table ends inside an entry")
        length, revision, kind = struct.unpack_from("<IHH", table, offset)
        if length < 8 or offset + length > len(table):
            raise Refused("a certificate entry has a wrong length")
        if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
            raise Refused("a certificate entry is not an Authenticode signature")
        blobs.append(table[offset + 8:offset + length])
        offset += (length + 7) & ~7
    return blobs


def authenticode_digest(data, layout, name):
    """The digest that a signature covers: the file less its checksum, its
    security directory entry and its certificate table."""
    digest = hashlib.new(name)
    digest.update(data[:layout.checksum])
    digest.update(data[layout.checksum + 4:layout.security_entry])
    end = layout.table if layout.table_size else len(data)
    digest.update(data[layout.security_entry + 8:end])
    digest.update(data[end + layout.table_size:])
    return digest.digest()


def load_signed_data(blob, what):
    """A ContentInfo holding SignedData; only zero padding may follow it."""
    try:
        der = signature_der(blob)
        info = cms.ContentInfo.load(der)
        if info["content_type"].native != "signed_data":
            raise Refused(f"{what} is not SignedData")
        signed = info["content"]
    except (ValueError, TypeError, KeyError) as error:
        raise Refused(f"{what} cannot be parsed: {error}") from error
    if len(blob) - len(der) >= 8 or any(blob[len(der):]):
        raise Refused(f"{what} is followed by {len(blob) - len(der)} bytes that nothing signs")
    check_fields(signed, SIGNED_DATA_FIELDS, "signer_infos", what)
    for signer_info in signed["signer_infos"]:
        check_fields(signer_info, SIGNER_INFO_FIELDS, "unsigned_attrs", what)
    return signed


def check_fields(sequence, names, judged_apart, what):
    """No byte may hide where no check reads: the fields that asn1crypto
    parsed make up every byte of the sequence, and each comes out the same
    when encoded anew from what was parsed (but judged_apart, whose parts
    are judged on their own; encoding it anew here costs seconds)."""
    present = [name for name in names if sequence[name].dump()]
    if b"".join(sequence[name].dump() for name in present) != sequence.contents:
        raise Refused(f"{what} holds bytes outside its fields")
    for name in present:
        original = sequence[name].dump()
        if name != judged_apart and sequence[name].dump(force=True) != original:
            raise Refused(f"{what} is not in canonical DER")


def certificates_of(signed):
    found = []
    for choice in signed["certificates"] or []:
        if choice.name != "certificate":
            raise Refused("a signature carries a certificate of an unknown kind")
        found.append(choice.chosen)
    return found


def only_signer(signed, version, what):
    """The one signer of SignedData, whose digest algorithm must be the only one
    listed, with the versions that the structures' contents call for."""
    signers = signed["signer_infos"]
    if len(signers) != 1:
        raise Refused(f"{what} has {len(signers)} signers instead of one")
    signer_version = "v1" if signers[0]["sid"].name == "issuer_and_serial_number" else "v3"
    if signed["version"].native != version or signers[0]["version"].native != signer_version:
        raise Refused(f"{what} has a version that does not fit its contents")
    listed = [algorithm.dump() for algorithm in signed["digest_algorithms"]]
    if listed != [signers[0]["digest_algorithm"].dump()]:
        raise Refused(f"{what} lists digest algorithms that its signer does not use")
    return signers[0]


def certificate_of(signer_info, certificates):
    sid = signer_info["sid"]
    for certificate in certificates:
        if sid.name == "issuer_and_serial_number":
            wanted = sid.chosen
            if certificate.issuer == wanted["issuer"] and certificate.serial_number == wanted["serial_number"].native:
                return certificate
        elif certificate.key_identifier == sid.chosen.native:
            return certificate
    raise Refused("a signature does not carry its signer's certificate")


def hash_name_of(algorithm, what):
    name = algorithm["algorithm"].native
    if name not in DIGESTS:
        raise Refused(f"{what} uses the digest {name}, which is not accepted")
    return name


def single_attribute(attributes, kind, what):
    values = [a["values"] for a in attributes if a["type"].native == kind]
    if len(values) != 1 or len(values[0]) != 1:
        raise Refused(f"{what} must have exactly one {kind} attribute")
    return values[0][0]


def check_signer_info(signer_info, certificate, content_type, content, what):
    """The signed attributes name the content and its digest, and the
    signature value over them verifies with the signer's own key."""
    name = hash_name_of(signer_info["digest_algorithm"], what)
    attributes = signer_info["signed_attrs"]
    if not attributes:
        raise Refused(f"{what} has no signed attributes")
    types = [a["type"].dotted for a in attributes]
    if len(types) != len(set(types)):
        raise Refused(f"{what} repeats a signed attribute")
    if single_attribute(attributes, "content_type", what).dotted != content_type:
        raise Refused(f"{what} signs content of another type")
    if single_attribute(attributes, "message_digest", what).native != hashlib.new(name, content).digest():
        raise Refused(f"{what}: its digest does not match what it signs")
    # The signature covers the attributes as a SET, not as the [0] they are stored as.
    signed_bytes = b"\x31" + attributes.dump()[1:]
    verify_value(certificate, signer_info, name, signed_bytes, what)


def public_key_of(certificate, what):
    try:
        return cx509.load_der_x509_certificate(certificate.dump()).public_key()
    except (ValueError, cx509.InvalidVersion) as error:
        raise Refused(f"{what}: its certificate cannot be read") from error


def verify_value(certificate, signer_info, name, signed_bytes, what):
    key = public_key_of(certificate, what)
    value = signer_info["signature"].native
    algorithm = DIGESTS[name]()
    kind = signer_info["signature_algorithm"].signature_algo
    try:
        if isinstance(key, rsa.RSAPublicKey) and kind == "rsassa_pkcs1v15":
            key.verify(value, signed_bytes, padding.PKCS1v15(), algorithm)
        elif isinstance(key, ec.EllipticCurvePublicKey) and kind == "ecdsa":
            key.verify(value, signed_bytes, ec.ECDSA(algorithm))
        else:
            raise Refused(f"{what} uses a signature algorithm ({kind}) that is not judged here")
    except InvalidSignature as error:
        raise Refused(f"{what}: its signature value does not verify with its certificate") from error


def check_usage(certificate, usage, what):
    purposes = certificate.extended_key_usage_value
    if purposes is not None and usage not in [purpose.dotted for purpose in purposes]:
        raise Refused(f"{what}: its certificate is not made for this use")


def judge_time_stamp(token, signature_value, what):
    """An RFC 3161 token over the signature value of the signer it belongs to."""
    signed = load_signed_data(token.dump(), what)
    encapsulated = signed["encap_content_info"]
    if encapsulated["content_type"].dotted != TST_INFO:
        raise Refused(f"{what} holds no time-stamp")
    tst_bytes = encapsulated["content"].contents
    tst_info = tsp.TSTInfo.load(tst_bytes)
    imprint = tst_info["message_imprint"]
    name = hash_name_of(imprint["hash_algorithm"], what)
    if imprint["hashed_message"].native != hashlib.new(name, signature_value).digest():
        raise Refused(f"{what} stamps another signature")
    certificates = certificates_of(signed)
    signer_info = only_signer(signed, "v3", what)
    authority = certificate_of(signer_info, certificates)
    check_signer_info(signer_info, authority, TST_INFO, tst_bytes, what)
    check_usage(authority, TIME_STAMPING, what)
    return TimeStamp(tst_info["gen_time"].native, authority, certificates)


def unwrap_explicit(encoded):
    """The value inside an explicit [0] tag, which asn1crypto may or may not have taken off."""
    tag_class, _, tag, _, inner, _ = parser.parse(encoded)
    return inner if (tag_class, tag) == (CONTEXT_CLASS, 0) else encoded


def judge_signature(blob, data, layout, what, depth=0):
    """Every signature in blob, the one it holds first and its nested ones after."""
    signed = load_signed_data(blob, what)
    encapsulated = signed["encap_content_info"]
    if encapsulated["content_type"].dotted != SPC_INDIRECT_DATA:
        raise Refused(f"{what} does not sign a file image")
    content = SpcIndirectDataContent.load(unwrap_explicit(encapsulated["content"].dump()))
    if content["data"]["type"].dotted != SPC_PE_IMAGE_DATA:
        raise Refused(f"{what} does not sign a PE image")
    file_digest = content["message_digest"]
    name = hash_name_of(file_digest["digest_algorithm"], what)
    if file_digest["digest"].native != authenticode_digest(data, layout, name):
        raise Refused(f"{what} signs other bytes than these")

    certificates = certificates_of(signed)
    signer_info = only_signer(signed, "v1", what)
    signer = certificate_of(signer_info, certificates)
    # The signed attributes cover the content less its own tag and length.
    check_signer_info(signer_info, signer, SPC_INDIRECT_DATA, content.contents, what)
    check_usage(signer, CODE_SIGNING, what)

    signature = Signature(signer, certificates, nested=depth > 0)
    found = [signature]
    for attribute in signer_info["unsigned_attrs"] or []:
        kind = attribute["type"].dotted
        for value in attribute["values"]:
            if kind == RFC3161_TIME_STAMP and signature.time_stamp is None:
                signature.time_stamp = judge_time_stamp(value, signer_info["signature"].native,
                                                        f"the time-stamp of {what}")
            elif kind == NESTED_SIGNATURE and depth < MAX_NESTING:
                found += judge_signature(value.dump(), data, layout, f"nested signature {len(found)}",
                                         depth + 1)
            else:
                raise Refused(f"{what} carries unsigned data ({kind}) that is not judged here")
    return found


def judge(data, layout):
    """The signatures of the PE file data, laid out as layout_of found, each
    judged intact; none if unsigned."""
    if len(layout.blobs) > 1:
        raise Refused(f"it carries {len(layout.blobs)} certificate entries instead of one")
    if not layout.blobs:
        return []
    try:
        return judge_signature(layout.blobs[0], data, layout, "the signature")
    except (ValueError, TypeError, KeyError) as error:  # asn1crypto parses lazily, field by field
        raise Refused(f"its signature cannot be parsed: {error}") from error


def signature_der(blob):
    """The PKCS#7 signature of a certificate entry, without its padding."""
    return blob[:len(cms.ContentInfo.load(blob, strict=False).dump())]


def pem_of(certificate):
    return pem.armor("CERTIFICATE", certificate.dump()).decode("ascii")


def describe(certificate):
    """Subject, issuer and SHA-256 fingerprint, as a reader checks them."""
    parsed = cx509.load_der_x509_certificate(certificate.dump())
    fingerprint = parsed.fingerprint(hashes.SHA256()).hex(":").upper()
    return f"{parsed.subject.rfc4514_string()} (issuer {parsed.issuer.rfc4514_string()}; sha256 {fingerprint})"


def now():
    return datetime.now(timezone.utc)
