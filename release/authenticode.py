"""The Authenticode signatures of a notice.exe and their time-stamps, each
judged whole; whom they make trusted is trust.py's to say."""
import hashlib
from datetime import datetime, timedelta

from asn1crypto import algos, cms, core, parser, tsp, x509

import pe
import rules
import trust
from der import check_der, check_fields, encoded, one_form
from errors import Refused

SPC_INDIRECT_DATA, SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.4", "1.3.6.1.4.1.311.2.1.15"
NESTED_SIGNATURE, RFC3161_TIME_STAMP = "1.3.6.1.4.1.311.2.4.1", "1.3.6.1.4.1.311.3.3.1"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
MAX_SIGNATURES = 8  # the first and its nested ones
MAX_CERTIFICATES = 8  # in each SignedData
CLOCK_SKEW = timedelta(minutes=5)  # a time-stamp later than now by more vouches for nothing


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", algos.DigestInfo)]


def load_signed_data(der, content_type, what):
    """SignedData of content_type in a ContentInfo, DER, with no element beside those that the checks read; no CRLs."""
    check_der(der, what)
    info = cms.ContentInfo.load(der, strict=True)
    signed = info["content"] if info["content_type"].native == "signed_data" else None
    if signed is None or signed["encap_content_info"]["content_type"].dotted != content_type:
        raise Refused(f"{what} is not SignedData of the content that it should sign ({content_type})")
    structures = [info, signed, signed["encap_content_info"], *signed["digest_algorithms"]]
    for signer_info in signed["signer_infos"]:
        structures += [signer_info, signer_info["digest_algorithm"], signer_info["signature_algorithm"],
                       *(signer_info["unsigned_attrs"] or [])]
    for structure in structures:
        check_fields(structure, what)
    if signed["crls"]:
        raise Refused(f"{what} carries CRLs, which are not judged here")
    return signed


def certificates_of(signed, what):
    """The DER of each certificate carried, at most MAX_CERTIFICATES of them."""
    choices = signed["certificates"] or []
    if len(choices) > MAX_CERTIFICATES or any(choice.name != "certificate" for choice in choices):
        raise Refused(f"{what} carries more than {MAX_CERTIFICATES} certificates, or one of an unknown kind")
    carried = [encoded(choice.chosen) for choice in choices]
    for der in carried:
        check_certificate(der, f"{what} (certificate {trust.fingerprint(der)})")
    return carried


def check_certificate(der, what):
    """A certificate in DER's one form, and each of its extension values DER."""
    for extension in one_form(x509.Certificate, der, what)["tbs_certificate"]["extensions"] or []:
        check_der(extension["extn_value"].contents, f"{what}: its extension {extension['extn_id'].dotted}")


def signer_of(signed, version, content_type, content, what):
    """The certificates carried, the one signer, with the versions that the contents call for (RFC 5652 5.1), and
    the carried certificate that it names, byte for byte, whose key signed content."""
    carried, signers = certificates_of(signed, what), signed["signer_infos"]
    if len(signers) != 1:
        raise Refused(f"{what} has {len(signers)} signers instead of one")
    signer_info, sid = signers[0], signers[0]["sid"]
    signer_version = "v1" if sid.name == "issuer_and_serial_number" else "v3"
    if signer_version == "v3" and version != "v3":
        raise Refused(f"{what} names its signer by key identifier, which its SignedData version 1 does not allow")
    if signed["version"].native != version or signer_info["version"].native != signer_version:
        raise Refused(f"{what} has a version that does not fit its contents")
    if [encoded(a) for a in signed["digest_algorithms"]] != [encoded(signer_info["digest_algorithm"])]:
        raise Refused(f"{what} lists digest algorithms that its signer does not use")
    for der in carried:
        certificate = x509.Certificate.load(der)
        tbs = certificate["tbs_certificate"]
        if sid.chosen.contents == (encoded(tbs["issuer"]) + encoded(tbs["serial_number"])
                                   if signer_version == "v1" else certificate.key_identifier):
            check_signer_info(signer_info, der, content_type, content, what)
            return carried, signer_info, der
    raise Refused(f"{what} does not carry its signer's certificate")


def digest_name(algorithm, what):
    name = algorithm["algorithm"].native
    if name not in rules.DIGESTS or encoded(algorithm["parameters"]) not in (b"", b"\x05\x00"):
        raise Refused(f"{what} uses the digest {name}, which is not accepted")
    return name


def check_signer_info(signer_info, signer, content_type, content, what):
    """The signed attributes name the content and its digest, and the signer's key signed them."""
    name = digest_name(signer_info["digest_algorithm"], what)
    attributes = signer_info["signed_attrs"]
    types = [a["type"].dotted for a in attributes or []]
    if not types or len(types) != len(set(types)):
        raise Refused(f"{what} has no signed attributes, or repeats one")
    values = {a["type"].native: a["values"] for a in attributes}
    if [len(values.get(kind, [])) for kind in ("content_type", "message_digest")] != [1, 1]:
        raise Refused(f"{what} must have exactly one content type and one message digest")
    if values["content_type"][0].dotted != content_type:
        raise Refused(f"{what} signs content of another type")
    if values["message_digest"][0].native != hashlib.new(name, content).digest():
        raise Refused(f"{what}: its digest does not match what it signs")
    key = rules.public_key(rules.x509.load_der_x509_certificate(signer))
    if rules.key_problem(key):  # before any work is spent on the key
        raise Refused(f"{what} (certificate {trust.fingerprint(signer)}): {rules.key_problem(key)}")
    algorithm = signer_info["signature_algorithm"]
    # The signature covers the attributes as a SET, not as the [0] they are stored as.
    if not rules.verify(key, algorithm["algorithm"].dotted, encoded(algorithm["parameters"]),
                        signer_info["signature"].native, b"\x31" + encoded(attributes)[1:], name):
        raise Refused(f"{what}: its signature does not verify, or its algorithm or parameters are not judged here")


def unsigned_values(signer_info, allowed, what):
    """The values of the unsigned attributes, by kind: each kind known here, at most once, with a value."""
    found = {}
    for attribute in signer_info["unsigned_attrs"] or []:
        kind = attribute["type"].dotted
        if kind not in allowed or kind in found or not attribute["values"]:
            raise Refused(f"{what} carries unsigned data ({kind}) that is not judged here")
        found[kind] = [encoded(value) for value in attribute["values"]]
    return found


def judge_time_stamp(token, signature_value, anchors, now, what):
    """The time of an RFC 3161 token over signature_value, why it is not trusted here, and who made it."""
    signed = load_signed_data(token, TST_INFO, what)
    tst_bytes = signed["encap_content_info"]["content"].contents
    tst_info = one_form(tsp.TSTInfo, tst_bytes, f"the TSTInfo of {what}")
    if tst_info["version"].native != "v1" or any(e["critical"].native for e in tst_info["extensions"] or []):
        raise Refused(f"{what}: its TSTInfo is not version 1, or has critical extensions, which are not judged here")
    imprint = tst_info["message_imprint"]
    if imprint["hashed_message"].native != hashlib.new(digest_name(imprint["hash_algorithm"], what),
                                                       signature_value).digest():
        raise Refused(f"{what} stamps another signature")
    carried, signer_info, authority = signer_of(signed, "v3", TST_INFO, tst_bytes, what)
    unsigned_values(signer_info, (), what)
    named = tst_info["tsa"]
    if named.native is not None and (named.name != "directory_name" or encoded(named.chosen)
                                     != encoded(x509.Certificate.load(authority)["tbs_certificate"]["subject"])):
        raise Refused(f"{what}: its TSTInfo names another authority than the one that signed it")  # RFC 3161 2.4.2
    time = tst_info["gen_time"].native
    if not isinstance(time, datetime) or time.tzinfo is None:
        raise Refused(f"{what}: its time cannot be read (a year 1 to 9999, in UTC)")
    problems = trust.problems(authority, carried, anchors, rules.TIME_STAMPING, time, now, what)
    if time > now + CLOCK_SKEW:
        problems.append(f"{what} is dated {time:%Y-%m-%d %H:%M:%S} UTC, later than now")
    return time, problems, [f"    time-stamped {time:%Y-%m-%d %H:%M:%S} UTC by {trust.describe(authority)}"]


def judge_signature(der, data, layout, anchors, now, what, nested=False):
    """Why the signature in der over data and its nested ones are not trusted here, and who made them."""
    signed = load_signed_data(der, SPC_INDIRECT_DATA, what)
    # What its explicit [0] holds; the signed attributes cover it less its own tag and length.
    content = SpcIndirectDataContent.load(parser.parse(encoded(signed["encap_content_info"]["content"]))[4], strict=True)
    file_digest = content["message_digest"]
    if content["data"]["type"].dotted != SPC_PE_IMAGE_DATA:
        raise Refused(f"{what} does not sign a PE image")
    if file_digest["digest"].native != pe.digest(data, layout, digest_name(file_digest["digest_algorithm"], what)):
        raise Refused(f"{what} signs other bytes than these")
    carried, signer_info, signer = signer_of(signed, "v1", SPC_INDIRECT_DATA, content.contents, what)
    values = unsigned_values(signer_info, [RFC3161_TIME_STAMP] + [NESTED_SIGNATURE] * (not nested), what)
    inner, tokens = values.get(NESTED_SIGNATURE, []), values.get(RFC3161_TIME_STAMP, [])
    if len(inner) + 1 > MAX_SIGNATURES or len(tokens) > 1:
        raise Refused(f"{what} holds more than {MAX_SIGNATURES} signatures, or more than one time-stamp")
    time, problems, stamped = judge_time_stamp(tokens[0], signer_info["signature"].native, anchors, now,
                                               f"the time-stamp of {what}") if tokens else (None, [], [])
    vouched = None if problems else time  # a trusted stamp says when it was signed
    problems += trust.problems(signer, carried, anchors, rules.CODE_SIGNING, vouched, now, what)
    lines = [f"  {'nested signature' if nested else 'signed'} by {trust.describe(signer)}", *stamped]
    for index, value in enumerate(inner, start=1):
        more = judge_signature(value, data, layout, anchors, now, f"nested signature {index}", nested=True)
        problems, lines = problems + more[0], lines + more[1]
    return problems, lines
