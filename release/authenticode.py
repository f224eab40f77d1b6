"""Judges the Authenticode signatures of a notice.exe: every byte of its
certificate table is judged or the file is refused.

A signature is intact when its digest is the file's, its signed attributes
are the ones it claims, and its signature value verifies with its own
certificate. It may hold exactly this and nothing more: the certificates
of its signer's chain, no CRLs, and as unsigned attributes only nested
signatures (in the first signature) and one RFC 3161 time-stamp, whose
token obeys the same rules. Every element is strict DER. Whom to trust is
the caller's list of anchors, judged in certificates.py.

Bounds: a certificate table holds at most MAX_SIGNATURES signatures (the
first and its nested ones), each SignedData at most MAX_CERTIFICATES
certificates; more is refused before any of them is judged.
"""
import hashlib
import struct
from dataclasses import dataclass, field
from datetime import datetime, timedelta, timezone
from typing import List, Optional

import pefile
from asn1crypto import algos, cms, core, parser, tsp

import certificates
from certificates import Refused, check_der, element_end
from printing import printable

SECURITY_DIRECTORY = 4
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
RFC3161_TIME_STAMP = "1.3.6.1.4.1.311.3.3.1"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
MAX_SIGNATURES = 8
MAX_CERTIFICATES = 8
# A time-stamp later than this is from the future and vouches for nothing.
CLOCK_SKEW = timedelta(minutes=5)
# The builds that a file's PE header names: (machine, optional header magic).
PROCESSORS = {(0x014C, 0x10B): "x86", (0x8664, 0x20B): "x64"}
CONTENT_INFO_FIELDS = ["content_type", "content"]
SIGNED_DATA_FIELDS = ["version", "digest_algorithms", "encap_content_info", "certificates", "crls", "signer_infos"]
SIGNER_INFO_FIELDS = ["version", "sid", "digest_algorithm", "signed_attrs", "signature_algorithm", "signature",
                      "unsigned_attrs"]
ALGORITHM_FIELDS = ["algorithm", "parameters"]
CERTIFICATE_FIELDS = ["tbs_certificate", "signature_algorithm", "signature_value"]
CONTEXT_CLASS = 2


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", algos.DigestInfo)]


@dataclass
class TimeStamp:
    time: datetime
    authority: object  # asn1crypto x509.Certificate
    problems: List[str]  # why it is not trusted here; empty if it is


@dataclass
class Signature:
    signer: object  # asn1crypto x509.Certificate
    problems: List[str]  # why the signer is not trusted here; empty if it is
    time_stamp: Optional[TimeStamp] = None
    nested: bool = False


def trust_problems(signatures):
    """Why some signer or time-stamp authority of signatures is not trusted
    here; empty if every one is."""
    return [problem for signature in signatures
            for problem in (signature.time_stamp.problems if signature.time_stamp else []) + signature.problems]


@dataclass
class PeLayout:
    processor: str  # "x86" or "x64"
    checksum: int  # offset of the CheckSum field
    security_entry: int  # offset of the security directory entry
    table: int  # offset and size of the certificate table; 0 when unsigned
    table_size: int = 0


@dataclass
class Judge:
    """What a verdict is judged against: the file, its layout, the anchors, the present."""
    data: bytes
    layout: PeLayout
    anchors: list
    now: datetime = field(default_factory=lambda: datetime.now(timezone.utc))


def layout_of(data):
    """Where the bytes that no signature covers sit, and which build the file
    is; refuses a file that is not a PE file of either build."""
    try:
        pe = pefile.PE(data=data, fast_load=True)
        header = pe.OPTIONAL_HEADER
        entry = header.DATA_DIRECTORY[SECURITY_DIRECTORY]
        processor = PROCESSORS.get((pe.FILE_HEADER.Machine, header.Magic))
    except (pefile.PEFormatError, IndexError, AttributeError) as error:
        raise Refused("not a PE file") from error
    if processor is None:
        raise Refused("not a PE file for x86 (PE32) or x64 (PE32+)")
    return PeLayout(processor, header.get_field_absolute_offset("CheckSum"), entry.get_file_offset(),
                    entry.VirtualAddress, entry.Size)


def signature_der(data, layout):
    """The PKCS#7 signature of the certificate table's one entry, which must
    end the file, be laid out as a signer writes it, and be padded with zeros."""
    table, size = layout.table, layout.table_size
    if table + size != len(data) or size < 8:
        raise Refused("its certificate table does not end the file")
    length, revision, kind = struct.unpack_from("<IHH", data, table)
    if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
        raise Refused("its certificate entry is not an Authenticode signature")
    blob = data[table + 8:table + size]
    end = element_end(blob, 0, len(blob), "the signature")[1]
    if length != size or size != (8 + end + 7) & ~7 or any(blob[end:]):
        raise Refused("its certificate table holds bytes besides one signature and its padding")
    return blob[:end]


def signed_copy(unsigned, signature):
    """The unsigned file with signature attached as a signer attaches it: the
    file padded with zeros to a multiple of 8 bytes, then one certificate
    entry (its DER padded likewise), the security directory naming the
    entry, and the PE checksum of the result."""
    layout = layout_of(unsigned)
    body = unsigned + bytes(-len(unsigned) % 8)
    entry = signature + bytes(-len(signature) % 8)
    table = struct.pack("<IHH", 8 + len(entry), WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA) + entry
    signed = bytearray(body + table)
    struct.pack_into("<II", signed, layout.security_entry, len(body), len(table))
    struct.pack_into("<I", signed, layout.checksum, pe_checksum(signed, layout.checksum))
    return bytes(signed)


def pe_checksum(data, checksum_offset):
    """The 16-bit one's-complement sum of the file's words, its CheckSum
    field taken as 0, plus the file's length."""
    words = bytearray(data) + bytes(len(data) % 2)
    words[checksum_offset:checksum_offset + 4] = bytes(4)
    total = sum(struct.unpack(f"<{len(words) // 2}H", words))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def load_signed_data(der, what):
    """SignedData in a ContentInfo, strict DER with no element beside the
    ones that the checks read: no byte hides where no check reads."""
    check_der(der, what)
    try:
        info = cms.ContentInfo.load(der, strict=True)
        if info["content_type"].native != "signed_data":
            raise Refused(f"{what} is not SignedData")
        check_explicit(info, CONTENT_INFO_FIELDS, what)
        signed = info["content"]
        check_fields(signed, SIGNED_DATA_FIELDS, what)
        check_explicit(signed["encap_content_info"], CONTENT_INFO_FIELDS, what)
        for algorithm in signed["digest_algorithms"]:
            check_fields(algorithm, ALGORITHM_FIELDS, what)
        for choice in signed["certificates"] or []:
            check_fields(choice.chosen, CERTIFICATE_FIELDS, what)
        for signer_info in signed["signer_infos"]:
            check_signer_info_fields(signer_info, what)
    except (ValueError, TypeError, KeyError) as error:
        raise Refused(f"{what} cannot be parsed: {printable(str(error))}") from error
    if signed["crls"]:
        raise Refused(f"{what} carries CRLs, which are not judged here")
    return signed


def check_signer_info_fields(signer_info, what):
    check_fields(signer_info, SIGNER_INFO_FIELDS, what)
    if signer_info["sid"].name == "issuer_and_serial_number":
        check_fields(signer_info["sid"].chosen, ["issuer", "serial_number"], what)
    for name in ("digest_algorithm", "signature_algorithm"):
        check_fields(signer_info[name], ALGORITHM_FIELDS, what)
    for attribute in signer_info["unsigned_attrs"] or []:
        check_fields(attribute, ["type", "values"], what)


def check_fields(sequence, names, what):
    """The fields that the parser read make up every byte of the sequence."""
    if b"".join(sequence[name].dump() for name in names) != sequence.contents:
        raise Refused(f"{what} holds bytes outside the fields that are judged")


def check_explicit(sequence, names, what):
    """As check_fields, and the explicit [0] of the last field holds one element and nothing after it."""
    check_fields(sequence, names, what)
    parser.parse(parser.parse(sequence[names[-1]].dump())[4], strict=True)


def certificates_of(signed, what):
    choices = signed["certificates"] or []
    if len(choices) > MAX_CERTIFICATES:
        raise Refused(f"{what} carries {len(choices)} certificates; at most {MAX_CERTIFICATES} are judged")
    if any(choice.name != "certificate" for choice in choices):
        raise Refused(f"{what} carries a certificate of an unknown kind")
    check_set_order(choices, f"the certificates of {what}")
    return [choice.chosen for choice in choices]


def only_signer(signed, version, what):
    """The one signer of SignedData, whose digest algorithm must be the only one
    listed, with the versions that the structures' contents call for."""
    signers = signed["signer_infos"]
    if len(signers) != 1:
        raise Refused(f"{what} has {len(signers)} signers instead of one")
    signer_version = "v1" if signers[0]["sid"].name == "issuer_and_serial_number" else "v3"
    # A version 3 SignerInfo makes SignedData version 3 (RFC 5652), and an
    # Authenticode signature is version 1: it names its signer by issuer and serial.
    if signer_version == "v3" and version != "v3":
        raise Refused(f"{what} names its signer by key identifier, which its SignedData version 1 does not allow")
    if signed["version"].native != version or signers[0]["version"].native != signer_version:
        raise Refused(f"{what} has a version that does not fit its contents")
    listed = [algorithm.dump() for algorithm in signed["digest_algorithms"]]
    if listed != [signers[0]["digest_algorithm"].dump()]:
        raise Refused(f"{what} lists digest algorithms that its signer does not use")
    return signers[0]


def certificate_of(signer_info, carried, what):
    """The carried certificate that the signer names, byte for byte."""
    sid = signer_info["sid"]
    for certificate in carried:
        tbs = certificate["tbs_certificate"]
        if sid.name == "issuer_and_serial_number":
            wanted = sid.chosen
            if (wanted["issuer"].dump() == tbs["issuer"].dump()
                    and wanted["serial_number"].dump() == tbs["serial_number"].dump()):
                return certificate
        elif certificate.key_identifier is not None and certificate.key_identifier == sid.chosen.native:
            return certificate
    raise Refused(f"{what} does not carry its signer's certificate")


def hash_name_of(algorithm, what):
    name = algorithm["algorithm"].native
    if name not in certificates.DIGESTS or algorithm["parameters"].dump() not in (b"", certificates.DER_NULL):
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
    certificates.verify_signature(certificate, signer_info["signature_algorithm"], signer_info["signature"].native,
                                  signed_bytes, name, what)


def unsigned_values(signer_info, allowed, what):
    """The values of the unsigned attributes, by kind: each kind known here,
    allowed at most once, with at least one value."""
    found = {}
    for attribute in signer_info["unsigned_attrs"] or []:
        kind = attribute["type"].dotted
        if kind not in allowed or kind in found or not attribute["values"]:
            raise Refused(f"{what} carries unsigned data ({kind}) that is not judged here")
        found[kind] = list(attribute["values"])
    return found


def check_set_order(values, what):
    """A SET OF in DER lists its values sorted by their encodings, the shorter
    taken as padded with zeros; a signer's tool writes them so."""
    encodings = [value.dump() for value in values]
    longest = max(map(len, encodings), default=0)
    padded = [encoding.ljust(longest, b"\0") for encoding in encodings]
    if padded != sorted(padded):
        raise Refused(f"{what} are not in the order that DER requires (a SET OF is sorted by encoding)")


def load_tst_info(tst_bytes, what):
    """The TSTInfo that a token signs: DER in its one form, version 1, and no
    critical extension, as none is judged here. Its accuracy, ordering and
    nonce are allowed, as they only describe the stamp: the time judged is
    genTime, as Windows takes it, and the nonce is the requester's own."""
    check_der(tst_bytes, f"the TSTInfo of {what}")
    certificates.check_one_form(tsp.TSTInfo, tst_bytes, f"the TSTInfo of {what}")
    tst_info = tsp.TSTInfo.load(tst_bytes, strict=True)
    if tst_info["version"].native != "v1":
        raise Refused(f"{what}: its TSTInfo is not version 1")
    critical = [extension["extn_id"].dotted for extension in tst_info["extensions"] or []
                if extension["critical"].native]
    if critical:
        raise Refused(f"{what}: its TSTInfo has critical extensions that are not judged here ({', '.join(critical)})")
    return tst_info


def check_tsa_name(tst_info, authority, what):
    """A TSTInfo that names its authority names the one that signed it (RFC 3161)."""
    name = tst_info["tsa"]
    if name.native is not None and (name.name != "directory_name"
                                    or name.chosen.dump() != authority["tbs_certificate"]["subject"].dump()):
        raise Refused(f"{what}: its TSTInfo names another authority than the one that signed it")


def judge_time_stamp(token, signature_value, judge, what):
    """An RFC 3161 token over the signature value of the signer it belongs to."""
    signed = load_signed_data(token.dump(), what)
    encapsulated = signed["encap_content_info"]
    if encapsulated["content_type"].dotted != TST_INFO:
        raise Refused(f"{what} holds no time-stamp")
    tst_bytes = encapsulated["content"].contents
    tst_info = load_tst_info(tst_bytes, what)
    imprint = tst_info["message_imprint"]
    name = hash_name_of(imprint["hash_algorithm"], what)
    if imprint["hashed_message"].native != hashlib.new(name, signature_value).digest():
        raise Refused(f"{what} stamps another signature")
    carried = certificates_of(signed, what)
    signer_info = only_signer(signed, "v3", what)
    unsigned_values(signer_info, (), what)
    authority = certificate_of(signer_info, carried, what)
    check_signer_info(signer_info, authority, TST_INFO, tst_bytes, what)
    check_tsa_name(tst_info, authority, what)
    time = tst_info["gen_time"].native
    if not isinstance(time, datetime) or time.tzinfo is None:
        raise Refused(f"{what}: its time cannot be read (a year 1 to 9999, in UTC)")
    at = certificates.judged_at(authority, time, judge.now)
    problems = certificates.trust_problems(authority, carried, judge.anchors, certificates.TIME_STAMPING, at, what)
    if time > judge.now + CLOCK_SKEW:
        problems.append(f"{what} is dated {time:%Y-%m-%d %H:%M:%S} UTC, later than now")
    return TimeStamp(time, authority, problems)


def authenticode_digest(judge, name):
    """The digest that a signature covers: the file less its checksum, its
    security directory entry and its certificate table."""
    data, layout = judge.data, judge.layout
    digest = hashlib.new(name)
    digest.update(data[:layout.checksum])
    digest.update(data[layout.checksum + 4:layout.security_entry])
    end = layout.table if layout.table_size else len(data)
    digest.update(data[layout.security_entry + 8:end])
    return digest.digest()


def unwrap_explicit(encoded):
    """The value inside an explicit [0] tag, which asn1crypto may or may not have taken off."""
    tag_class, _, tag, _, inner, _ = parser.parse(encoded)
    return inner if (tag_class, tag) == (CONTEXT_CLASS, 0) else encoded


def signed_content(signed, judge, what):
    """The SpcIndirectDataContent that signed holds, its file digest checked."""
    encapsulated = signed["encap_content_info"]
    if encapsulated["content_type"].dotted != SPC_INDIRECT_DATA:
        raise Refused(f"{what} does not sign a file image")
    content = SpcIndirectDataContent.load(unwrap_explicit(encapsulated["content"].dump()), strict=True)
    if content["data"]["type"].dotted != SPC_PE_IMAGE_DATA:
        raise Refused(f"{what} does not sign a PE image")
    file_digest = content["message_digest"]
    name = hash_name_of(file_digest["digest_algorithm"], what)
    if file_digest["digest"].native != authenticode_digest(judge, name):
        raise Refused(f"{what} signs other bytes than these")
    return content


def judge_signature(der, judge, what, nested=False):
    """Every signature in der, the one it holds first and its nested ones after."""
    signed = load_signed_data(der, what)
    content = signed_content(signed, judge, what)
    carried = certificates_of(signed, what)
    signer_info = only_signer(signed, "v1", what)
    signer = certificate_of(signer_info, carried, what)
    # The signed attributes cover the content less its own tag and length.
    check_signer_info(signer_info, signer, SPC_INDIRECT_DATA, content.contents, what)

    allowed = (RFC3161_TIME_STAMP,) if nested else (RFC3161_TIME_STAMP, NESTED_SIGNATURE)
    values = unsigned_values(signer_info, allowed, what)
    check_set_order(signer_info["unsigned_attrs"] or [], f"the unsigned attributes of {what}")
    inner = values.get(NESTED_SIGNATURE, [])
    if len(inner) + 1 > MAX_SIGNATURES:
        raise Refused(f"{what} holds {len(inner) + 1} signatures; at most {MAX_SIGNATURES} are judged")
    check_set_order(inner, f"the nested signatures of {what}")
    stamp, vouched = None, None
    tokens = values.get(RFC3161_TIME_STAMP, [])
    if len(tokens) > 1:
        raise Refused(f"{what} carries more than one time-stamp")
    if tokens:
        stamp = judge_time_stamp(tokens[0], signer_info["signature"].native, judge, f"the time-stamp of {what}")
        if not stamp.problems:
            vouched = stamp.time  # a trusted time-stamp vouches for when the signature was made
    at = certificates.judged_at(signer, vouched, judge.now)
    problems = certificates.trust_problems(signer, carried, judge.anchors, certificates.CODE_SIGNING, at, what)
    found = [Signature(signer, problems, stamp, nested)]
    for index, value in enumerate(inner, start=1):
        found += judge_signature(value.dump(), judge, f"nested signature {index}", nested=True)
    return found


def signer_lines(signatures):
    """Every signer and time-stamp authority, as verify lists them; raises
    Refused for a certificate whose names cannot be read."""
    if not signatures:
        return ["  unsigned"]
    lines = []
    for signature in signatures:
        kind = "nested signature" if signature.nested else "signed"
        lines.append(f"  {kind} by {certificates.describe(signature.signer, 'its signer')}")
        stamp = signature.time_stamp
        if stamp is not None:
            when = stamp.time.astimezone(timezone.utc).strftime("%Y-%m-%d %H:%M:%S UTC")
            authority = certificates.describe(stamp.authority, "its time-stamp authority")
            lines.append(f"    time-stamped {when} by {authority}")
    return lines


def judge_file(judge):
    """The signatures of judge.data, each judged intact; none if unsigned."""
    if judge.layout.table == 0 and judge.layout.table_size == 0:
        return []
    try:
        return judge_signature(signature_der(judge.data, judge.layout), judge, "the signature")
    except (ValueError, TypeError, KeyError) as error:  # asn1crypto parses lazily, field by field
        raise Refused(f"its signature cannot be parsed: {printable(str(error))}") from error
