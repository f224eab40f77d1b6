"""Signed copies of notice.exe as a shipper makes them (osslsigncode), and
the tampered copies that an attacker makes from them: each function takes
the bytes of a file and gives the bytes of another."""
import datetime
import os
import struct
import subprocess
import tempfile

from asn1crypto import cms, crl, x509
from cryptography import x509 as cx509
from cryptography.hazmat.primitives import hashes, serialization

import authenticode
import pe
from der import element_end


def osslsigncode(data, identity, chain=(), *options):
    """data signed by identity's key, carrying its certificate and chain (Identities)."""
    with tempfile.TemporaryDirectory() as folder:
        certificate, key = identity.write(folder, "signer")
        with open(certificate, "ab") as pem:
            pem.write(b"".join(link.pem for link in chain))
        source, signed = os.path.join(folder, "in.exe"), os.path.join(folder, "out.exe")
        with open(source, "wb") as file:
            file.write(data)
        subprocess.run(["osslsigncode", "sign", "-certs", certificate, "-key", key, *options, "-in", source,
                        "-out", signed], check=True, stdout=subprocess.DEVNULL)
        with open(signed, "rb") as file:
            return file.read()


def sign(data, identity, chain=(), digest="sha256", url=None):
    return osslsigncode(data, identity, chain, "-h", digest, *(["-ts", url] if url else []))


def nest(data, identity, chain=(), digest="sha256"):
    """data with a signature by identity nested in its first."""
    return osslsigncode(data, identity, chain, "-nest", "-h", digest)


def signature(data):
    return cms.ContentInfo.load(pe.signature_of(data, pe.layout_of(data)))


def with_signature(data, info):
    """data with info (a ContentInfo, or its DER) as its one signature, laid out as a signer lays it out."""
    der = info if isinstance(info, bytes) else info.dump(force=True)
    layout = pe.layout_of(data)
    return pe.with_signature(data[:layout.table] if layout.table else data, der)


def edited(data, edit):
    """data whose SignedData edit(signed) changed, every element encoded again."""
    info = signature(data)
    edit(info["content"])
    return with_signature(data, info)


def first_signer(signed):
    return signed["signer_infos"][0]


def unsigned_value(signer_info, kind):
    return [a for a in signer_info["unsigned_attrs"] if a["type"].dotted == kind][0]["values"][0]


def add_attribute(signer_info, kind, values):
    signer_info["unsigned_attrs"] = [*(signer_info["unsigned_attrs"] or []), {"type": kind, "values": values}]


def spliced(data, old, new):
    """data's signature with the one element encoded as old replaced by new."""
    return with_signature(data, splice(pe.signature_of(data, pe.layout_of(data)), old, new))


def splice(der, old, new):
    """der with the one element encoded as old replaced by new, the lengths
    of every element around it made to fit, as a careful forger would."""
    start = der.find(old)
    assert start >= 0 and der.find(old, start + 1) < 0, "the element to replace is not found exactly once"

    def rebuild(offset, stop):
        out = b""
        while offset < stop:
            contents, end = element_end(der, offset, stop, "it")
            if (offset, end) == (start, start + len(old)):
                out += new
            elif offset <= start and start + len(old) <= end:
                inner = rebuild(contents, end)
                out += der[offset:offset + 1] + length(len(inner)) + inner
            else:
                out += der[offset:end]
            offset = end
        return out
    return rebuild(0, len(der))


def length(size):
    if size < 0x80:
        return bytes([size])
    digits = size.to_bytes((size.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(digits)]) + digits


def tagged(tag, body):
    return bytes([tag]) + length(len(body)) + body


def flipped(data, wanted):
    """data with one bit flipped in the middle of the one place where wanted occurs."""
    at = data.find(wanted)
    assert at >= 0 and data.find(wanted, at + 1) < 0, "not found exactly once"
    changed = bytearray(data)
    changed[at + len(wanted) // 2] ^= 0x01
    return with_signature(data, pe.signature_of(bytes(changed), pe.layout_of(data)))  # its checksum made to fit


def signer_infos(data):
    """Each SignedData and its signer, the first signature's first, then its nested ones."""
    first = signature(data)["content"]
    nested = [value["content"] for attribute in first_signer(first)["unsigned_attrs"] or []
              if attribute["type"].dotted == authenticode.NESTED_SIGNATURE for value in attribute["values"]]
    return [(signed, first_signer(signed)) for signed in [first, *nested]]


def broken_value(data, index=0):
    return flipped(data, signer_infos(data)[index][1]["signature"].native)


def broken_digest(data, index=0):
    signed = signer_infos(data)[index][0]
    content = authenticode.SpcIndirectDataContent.load(
        authenticode.parser.parse(signed["encap_content_info"]["content"].dump())[4])
    return flipped(data, content["message_digest"].dump())


def grown_table(data, extra, entry_grows=False):
    """data with extra after its certificate table, the directory (and the entry, if it grows) counting it."""
    layout = pe.layout_of(data)
    changed = bytearray(data + extra)
    struct.pack_into("<I", changed, layout.security_entry + 4, layout.table_size + len(extra))
    if entry_grows:
        struct.pack_into("<I", changed, layout.table, layout.table_size + len(extra))
    return bytes(changed)


def with_checksum(data, value):
    changed = bytearray(data)
    struct.pack_into("<I", changed, pe.layout_of(data).checksum, value)
    return bytes(changed)


SIGNER_INFO_FIELDS = [field[0] for field in cms.SignerInfo._fields]
PAYLOAD = b"\x04\x82\x10\x00" + b"\xAA" * 0x1000  # an OCTET STRING of 4 KiB
UNKNOWN_ATTRIBUTE = "1.3.6.1.4.1.57264.99"
ID_EC_PUBLIC_KEY = b"\x06\x07\x2a\x86\x48\xce\x3d\x02\x01"
MD5_WITH_RSA = b"\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x04"
SIGNED_DATA = b"\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02"
SIGNED_DATA_PADDED = b"\x06\x0a\x2a\x86\x48\x80\x86\xf7\x0d\x01\x07\x02"  # 113549 led by 0x80


def sequence(*parts):
    return tagged(0x30, b"".join(parts))


def with_certificate(data, der):
    return edited(data, lambda signed: signed["certificates"].append(x509.Certificate.load(der)))


def revocation(ca, serial):
    """A CRL by ca (an Identity) that revokes serial, as its holder would issue it."""
    now = datetime.datetime.now(datetime.timezone.utc)
    revoked = cx509.RevokedCertificateBuilder().serial_number(serial).revocation_date(now).build()
    builder = (cx509.CertificateRevocationListBuilder().issuer_name(ca.certificate.subject).last_update(now)
               .next_update(now + datetime.timedelta(days=1)).add_revoked_certificate(revoked))
    return cms.RevocationInfoChoice({"crl": crl.CertificateList.load(builder.sign(ca.key, hashes.SHA256()).public_bytes(
        serialization.Encoding.DER))})


def with_crl(data, ca):
    return edited(data, lambda signed: signed.__setitem__(
        "crls", [revocation(ca, first_signer(signed)["sid"].chosen["serial_number"].native)]))


def with_field(data, name, new, index=0):
    """data with the SignerInfo field name of signature index (0: the first) encoded as new."""
    signer_info = signer_infos(data)[index][1]
    fields = [new if field == name else signer_info[field].dump() for field in SIGNER_INFO_FIELDS]
    return spliced(data, signer_info.dump(), sequence(*fields))


def loose_issuer(data):
    """The signer's issuer name in capitals, which a loose comparison takes as the same."""
    sid = first_signer(signature(data)["content"])["sid"].chosen
    capitals = x509.Name.build({key: value.upper() for key, value in sid["issuer"].native.items()})
    return with_field(data, "sid", sequence(capitals.dump(), sid["serial_number"].dump()))


def nested_edited(data, encode):
    """data whose first nested signature's ContentInfo is encode(its DER)."""
    old = unsigned_value(first_signer(signature(data)["content"]), authenticode.NESTED_SIGNATURE).dump()
    return spliced(data, old, encode(old))


def header_size(der):
    return 2 + (der[1] & 0x7F if der[1] & 0x80 else 0)


def after_content(der):
    """The ContentInfo with 4 KiB more after its [0], inside its SEQUENCE."""
    return sequence(der[header_size(der):], PAYLOAD)


def padded_length(der):
    body = der[header_size(der):]
    return b"\x30\x84" + len(body).to_bytes(4, "big") + body


def algorithm(data, encoded):
    """The first signer's signatureAlgorithm encoded as given."""
    return with_field(data, "signature_algorithm", encoded)


def swapped(data, elements):
    """data with the first two values of a SET OF swapped, every byte of each kept."""
    encodings = [element.dump() for element in elements]
    assert len(encodings) > 1, "fewer than two values"
    old = elements.dump()
    header = old[:len(old) - sum(map(len, encodings))]
    return spliced(data, old, header + b"".join([encodings[1], encodings[0], *encodings[2:]]))


def padded_content_type(data):
    """The ContentInfo's content type (which nothing signs) encoded with one byte more."""
    info = signature(data)
    assert info.contents.startswith(SIGNED_DATA)
    return with_signature(data, sequence(SIGNED_DATA_PADDED, info.contents[len(SIGNED_DATA):]))


def key_identifier_sid(data, identity):
    """The signer named by its key identifier, its SignerInfo made version 3."""
    signer_info = first_signer(signature(data)["content"])
    identifier = x509.Certificate.load(identity.der).key_identifier
    fields = [b"\x02\x01\x03" if name == "version" else tagged(0x80, identifier) if name == "sid"
              else signer_info[name].dump() for name in SIGNER_INFO_FIELDS]
    return spliced(data, signer_info.dump(), sequence(*fields))
