"""Files judged whole against the commit's build, with no rebuild:
judge_release must accept what a shipper signs and refuse what an attacker
makes of it, each for its one cause."""
import os
import subprocess
import tempfile

import pytest
from cryptography.hazmat.primitives import serialization

import authenticode
import forge
import pki
import stamps
from conftest import World, expect
from identities import IDENTITIES, fake_of


def openssl_ca_and_leaf():
    """A CA as `openssl req -x509` makes it (no keyUsage) and a signer that it issues, both by the openssl command."""
    with tempfile.TemporaryDirectory() as folder:
        run = lambda *arguments: subprocess.run(["openssl", *arguments], cwd=folder, check=True,  # noqa: E731
                                                capture_output=True)
        run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", "ca.key",
            "-subj", "/CN=notice throwaway openssl CA", "-days", "30", "-out", "ca.pem")
        run("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", "leaf.key",
            "-subj", "/CN=notice throwaway leaf of the openssl CA", "-out", "leaf.csr")
        with open(os.path.join(folder, "leaf.ext"), "w") as extensions:
            extensions.write("basicConstraints=CA:FALSE\nextendedKeyUsage=codeSigning\n")
        run("x509", "-req", "-in", "leaf.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-days", "30",
            "-extfile", "leaf.ext", "-out", "leaf.pem")
        loaded = []
        for name in ("ca", "leaf"):
            run("x509", "-in", f"{name}.pem", "-outform", "DER", "-out", f"{name}.der")
            with open(os.path.join(folder, f"{name}.key"), "rb") as key, open(os.path.join(folder, f"{name}.der"),
                                                                                 "rb") as der:
                loaded.append(pki.Identity(serialization.load_pem_private_key(key.read(), None), der.read()))
        return loaded


def named_otherwise(identity, issuer, old, new):
    """identity's certificate with the encoding old in its subject written as new, issued again by issuer."""
    return pki.edited(identity, issuer, lambda tbs: forge.splice(tbs.dump(), old, new))


CN = b"\x0c\x18notice throwaway signer2"
EMAIL = pki.x509.Name([pki.x509.NameAttribute(pki.x509.oid.NameOID.EMAIL_ADDRESS, "signer@invalid")])
IDENTITIES = {**IDENTITIES,
    "openssl-pair": lambda w: openssl_ca_and_leaf(),
    "openssl-ca": lambda w: w["openssl-pair"][0],
    "openssl-leaf": lambda w: w["openssl-pair"][1],
    "signer2": lambda w: pki.issue("signer2", w["ca"]),
    "cn-bits": lambda w: named_otherwise(w["signer2"], w["ca"], CN, b"\x03\x03\x00\xab\xcd"),
    "cn-sequence": lambda w: named_otherwise(w["signer2"], w["ca"], CN, b"\x30\x03\x02\x01\x05"),
    "email-above-7f": lambda w: named_otherwise(pki.issue("email", w["ca"], subject=EMAIL), w["ca"],
                                                b"\x16\x0esigner@invalid", b"\x16\x0esigner@invali\xe9"),
}


class Files(dict):
    """Files by name, each made on first use: the build, and what shippers sign from it."""

    def __init__(self, world, built):
        super().__init__()
        self.world, self.built = world, built

    def __missing__(self, name):
        self[name] = BASES[name](self, self.world)
        return self[name]


BASES = {
    "pem": lambda f, w: forge.sign(f.built, w["signer"]),
    "leaf": lambda f, w: forge.sign(f.built, w["leaf"], [w["ca"]]),
    "leaf-alone": lambda f, w: forge.sign(f.built, w["leaf"]),
    "p256": lambda f, w: forge.sign(f.built, w["other"]),
    "nested": lambda f, w: forge.nest(f["pem"], w["other"]),
    "nested-sha512": lambda f, w: forge.nest(f["pem"], w["other"], digest="sha512"),
    "nested-twice": lambda f, w: forge.nest(f["nested"], w["other"], digest="sha512"),
    "stamped": lambda f, w: stamps.time_stamped(f["pem"], w["tsa"]),
    "stamped-nested": lambda f, w: forge.nest(f["stamped"], w["other"]),
    "many-nested": lambda f, w: nested_times(f["pem"], w["other"], authenticode.MAX_SIGNATURES),
}


def nested_times(data, identity, count):
    for _ in range(count):
        data = forge.nest(data, identity)
    return data


def changed(data, offset=4096):
    altered = bytearray(data)
    altered[offset] ^= 0x90
    return bytes(altered)


def unsigned(data):
    """The unsigned attributes of data's first signature."""
    return forge.first_signer(forge.signature(data)["content"])["unsigned_attrs"]


# (why, the file made from the Files f and the World w, anchors, outcome[: a text of its first line])
ROWS = [
    ("the build, unsigned", lambda f, w: f.built, (), "verified"),
    ("signed, its signer trusted", lambda f, w: f["pem"], ("signer",), "verified"),
    ("signed, its signer not trusted", lambda f, w: f["pem"], (), "untrusted: self-signed"),
    ("signed by a leaf, its CA trusted", lambda f, w: f["leaf"], ("ca",), "verified"),
    ("a nested signature by a second key, only the first trusted", lambda f, w: f["nested"], ("signer",),
     "untrusted: nested signature 1"),
    ("two nested signatures", lambda f, w: f["nested-twice"], ("signer", "other"), "verified"),
    ("one byte changed", lambda f, w: changed(f.built), (), "refused: not notice.exe for x86"),
    ("a signature moved onto other bytes", lambda f, w: forge.with_signature(changed(f.built), forge.signature(
        f["pem"])), ("signer",), "refused: not notice.exe"),
    ("trailing junk", lambda f, w: f["pem"] + b"trailing junk", ("signer",), "refused: does not end the file"),
    ("a changed checksum, signed", lambda f, w: forge.with_checksum(f["pem"], 0xDEADBEEF), ("signer",),
     "refused: not notice.exe"),
    ("a checksum of 0, unsigned", lambda f, w: forge.with_checksum(f.built, 0), (), "refused: not notice.exe"),
    ("a truncated file", lambda f, w: f["pem"][:10000], (), "refused: does not end the file"),
    ("a text file", lambda f, w: b"notice.exe\n" * 2000, (), "refused: not a PE file"),
    ("512 unsigned bytes inside the certificate entry", lambda f, w: forge.grown_table(
        f["pem"], b"\xAA" * 512, entry_grows=True), ("signer",), "refused: besides one signature"),
    ("a second certificate entry", lambda f, w: forge.grown_table(f["pem"], f["pem"][pe_table(f["pem"]):]),
     ("signer",), "refused: besides one signature"),
    ("a signature of 300 KB", lambda f, w: forge.with_certificate(f["pem"], pki.issue("huge", extensions=pki.SIGNER + [
        (pki.x509.UnrecognizedExtension(pki.x509.ObjectIdentifier("1.2.3.4.5"), b"\x04\x83\x04\x93\xe0" + bytes(300000)),
         False)]).der), ("signer",), "refused: larger than 256 KiB"),
    ("a CRL by the trusted CA that revokes the signer", lambda f, w: forge.with_crl(f["leaf"], w["ca"]), ("ca",),
     "refused: CRLs"),
    ("a certificate that no chain uses", lambda f, w: forge.with_certificate(f["pem"], w["other"].der), ("signer",),
     "refused: on no path"),
    ("a certificate carried twice", lambda f, w: forge.with_certificate(f["pem"], w["signer"].der), ("signer",),
     "refused: carries a certificate twice"),
    ("a made-up form of the pinned self-signed signer", lambda f, w: forge.with_certificate(
        f["pem"], fake_of(w["signer"]).der), ("signer",), "refused: on no path"),
    ("a made-up form of the trusted root", lambda f, w: forge.with_certificate(f["leaf"], fake_of(w["ca"]).der),
     ("ca",), "refused: on no path"),
    ("the cross-signed chain of a new root, the new root trusted", lambda f, w: forge.sign(
        f.built, w["new-leaf"], [w["new-inter"], w["new-by-old"], w["old-root"]]), ("new-root",), "verified"),
    ("a signer under a CA that openssl req -x509 made, without keyUsage", lambda f, w: forge.sign(
        f.built, w["openssl-leaf"], [w["openssl-ca"]]), ("openssl-ca",), "verified"),
    ("a leaf whose commonName is stored as a BIT STRING, its CA trusted", lambda f, w: forge.sign(
        f.built, w["cn-bits"], [w["ca"]]), ("ca",), "refused: cannot be judged"),
    ("a leaf whose commonName is stored as a SEQUENCE, its CA trusted", lambda f, w: forge.sign(
        f.built, w["cn-sequence"], [w["ca"]]), ("ca",), "refused: cannot be judged"),
    ("an emailAddress with a byte above 0x7F", lambda f, w: forge.sign(f.built, w["email-above-7f"]),
     ("email-above-7f",), "refused: cannot be judged"),
    ("an unknown unsigned attribute with no value", lambda f, w: forge.edited(f["pem"], lambda s: forge.add_attribute(
        forge.first_signer(s), forge.UNKNOWN_ATTRIBUTE, [])), ("signer",), "refused: not judged here"),
    ("the signer's issuer name in capitals", lambda f, w: forge.loose_issuer(f["nested"]), ("signer", "other"),
     "refused: does not carry its signer"),
    ("4 KiB after the [0] content of a nested signature", lambda f, w: forge.nested_edited(
        f["nested"], forge.after_content), ("signer", "other"), "refused: outside the fields"),
    ("a nested signature's length padded with zero bytes", lambda f, w: forge.nested_edited(
        f["nested"], forge.padded_length), ("signer", "other"), "refused: not DER"),
    ("4 KiB in the parameters of ecdsa-with-SHA256", lambda f, w: forge.algorithm(f["p256"], forge.sequence(
        bytes.fromhex("06082a8648ce3d040302"), forge.PAYLOAD)), ("other",), "refused: parameters"),
    ("ECDSA as Windows writes it: id-ecPublicKey, the digest in digestAlgorithm", lambda f, w: forge.algorithm(
        f["p256"], forge.sequence(forge.ID_EC_PUBLIC_KEY)), ("other",), "verified"),
    ("id-ecPublicKey over SHA-384, the digest taken from digestAlgorithm", lambda f, w: forge.algorithm(
        forge.sign(f.built, w["other"], digest="sha384"), forge.sequence(forge.ID_EC_PUBLIC_KEY)), ("other",),
     "verified"),
    ("a signature algorithm named md5WithRSAEncryption", lambda f, w: forge.algorithm(f["pem"], forge.sequence(
        forge.MD5_WITH_RSA, b"\x05\x00")), ("signer",), "refused: not judged here"),
    ("a file digest in SHA-1", lambda f, w: forge.sign(f.built, w["signer"], digest="sha1"), ("signer",),
     "refused: digest sha1"),
    ("more nested signatures than the limit", lambda f, w: f["many-nested"], ("signer", "other"),
     "refused: more than 8 signatures"),
    ("a nested signature whose digest is broken", lambda f, w: forge.broken_digest(f["nested-sha512"], 1),
     ("signer", "other"), "refused: signs other bytes"),
    ("a nested signature whose value is broken", lambda f, w: forge.broken_value(f["nested"], 1),
     ("signer", "other"), "refused: does not verify"),
    ("a leaf without its CA, its value broken", lambda f, w: forge.broken_value(f["leaf-alone"]), ("ca",),
     "refused: does not verify"),
    ("the signature's content type with a subidentifier padded by 0x80", lambda f, w: forge.padded_content_type(
        f["pem"]), ("signer",), "refused: not DER"),
    ("the signer named by key identifier in a version 1 SignedData", lambda f, w: forge.key_identifier_sid(
        f["pem"], w["signer"]), ("signer",), "refused: key identifier"),
    # A SET's order carries no bytes of anyone's choosing: any order is judged.
    ("the certificates in another order than DER sorts them", lambda f, w: forge.swapped(
        f["leaf"], forge.signature(f["leaf"])["content"]["certificates"]), ("ca",), "verified"),
    ("two nested signatures in another order", lambda f, w: forge.swapped(
        f["nested-twice"], unsigned(f["nested-twice"])[0]["values"]), ("signer", "other"), "verified"),
    ("a time-stamp and a nested signature in another order", lambda f, w: forge.swapped(
        f["stamped-nested"], unsigned(f["stamped-nested"])), ("signer", "other", "tsa"), "verified"),
]


def pe_table(data):
    return authenticode.pe.layout_of(data).table


@pytest.fixture(scope="module")
def files(builds):
    return Files(World(IDENTITIES), builds["x86"])


@pytest.mark.parametrize("make, anchors, wanted", [pytest.param(*row[1:], id=row[0]) for row in ROWS])
def test_forgery(files, make, anchors, wanted):
    expect(make(files, files.world), files.built, [files.world[name] for name in anchors], wanted)
