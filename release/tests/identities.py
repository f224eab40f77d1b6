"""The certificates of the trust table, each made on first use: sound
ones of every shape that real chains take, and ones broken in one way."""
import os
import subprocess
import tempfile

from asn1crypto import x509 as asn1_x509
from cryptography import x509
from cryptography.hazmat.primitives import hashes

import forge
import pki
from conftest import SHARED
from pki import CA, CODE_SIGNING, SIGNER, TIME_STAMPING, ca_extensions, issue, signer_extensions

SERVER_AUTH = x509.oid.ExtendedKeyUsageOID.SERVER_AUTH
ANY_PURPOSE = x509.oid.ExtendedKeyUsageOID.ANY_EXTENDED_KEY_USAGE
UNKNOWN = x509.ObjectIdentifier("1.3.6.1.4.1.57264.99")


def with_extension(edit):
    """An edit of a TbsCertificate's extensions: edit(list of asn1crypto Extensions) in place."""
    def edited(tbs):
        extensions = list(tbs["extensions"])
        edit(extensions)
        tbs["extensions"] = extensions
        return tbs.dump(force=True)
    return edited


def extension_value(name, value):
    """An edit that writes value (DER) as the value of the extension name, every other byte kept."""
    def edited(tbs):
        old = [e for e in tbs["extensions"] if e["extn_id"].native == name][0]["extn_value"]
        return forge.splice(tbs.dump(), old.dump(), forge.tagged(0x04, value))
    return edited


def lacking_keys(name):
    """A self-signed signer on secp160r1, which the crypto library cannot read: made by openssl."""
    with tempfile.TemporaryDirectory() as folder:
        key, certificate = os.path.join(folder, "key"), os.path.join(folder, "der")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:secp160r1",
                        "-out", key], check=True, capture_output=True)
        subprocess.run(["openssl", "req", "-x509", "-key", key, "-subj", f"/CN=notice throwaway {name}", "-days", "30",
                        "-addext", "basicConstraints=critical,CA:FALSE", "-addext", "keyUsage=digitalSignature",
                        "-addext", "extendedKeyUsage=codeSigning", "-outform", "DER", "-out", certificate], check=True)
        with open(certificate, "rb") as file:
            return pki.Identity(None, file.read())


def fake_of(identity, size=128 * 1024):
    """No certificate anyone made: identity's subject and key under a made-up
    issuer and key identifier, with random bytes for a signature."""
    certificate = asn1_x509.Certificate.load(identity.der)
    tbs = certificate["tbs_certificate"]
    tbs["issuer"] = asn1_x509.Name.build({"common_name": "notice throwaway made-up issuer"})
    tbs["extensions"] = [e if e["extn_id"].native != "authority_key_identifier" else
                         {"extn_id": "authority_key_identifier", "extn_value": {"key_identifier": os.urandom(20)}}
                         for e in tbs["extensions"]]
    return pki.Identity(None, asn1_x509.Certificate({"tbs_certificate": tbs, "signature_algorithm":
                        certificate["signature_algorithm"], "signature_value": os.urandom(size)}).dump())


def forged(identity, w):
    return pki.edited(identity, w["other"], lambda tbs: tbs.dump())


NAMES_CA = ca_extensions(extra=[(x509.NameConstraints([x509.RFC822Name("invalid")], None), True)])
OUTSIDE_NAMES = SIGNER + [(x509.SubjectAlternativeName([x509.RFC822Name("signer@example.org")]), False)]
POLICY_CA = ca_extensions(extra=[(x509.PolicyConstraints(0, None), True)])
IDENTITIES = {**SHARED,
    "p256": lambda w: issue("P-256 signer"),
    "p384": lambda w: issue("P-384 signer", key="p384"),
    "p521": lambda w: issue("P-521 signer", key="p521"),
    "p192": lambda w: issue("P-192 signer", key="p192"),
    "p160": lambda w: lacking_keys("secp160r1 signer"),
    "rsa512": lambda w: issue("512-bit leaf", w["ca"], key="rsa512"),
    "sha1-leaf": lambda w: issue("leaf signed with SHA-1", w["ca"], digest=hashes.SHA1),
    "md5-leaf": lambda w: issue("leaf signed with MD5", w["rsa-ca"], digest=hashes.MD5),
    "sha1-inter": lambda w: issue("intermediate signed with SHA-1", w["rsa-ca"], extensions=CA, digest=hashes.SHA1),
    "sha1-inter-leaf": lambda w: issue("leaf under an intermediate signed with SHA-1", w["sha1-inter"]),
    "rsa-ca": lambda w: issue("RSA CA", extensions=CA, key="rsa"),
    "tls-ca": lambda w: issue("TLS CA", extensions=CA + [(x509.ExtendedKeyUsage([SERVER_AUTH]), False)]),
    "tls-leaf": lambda w: issue("leaf under a TLS CA", w["tls-ca"]),
    "enciphering": lambda w: issue("enciphering leaf", w["ca"], extensions=[
        (x509.BasicConstraints(False, None), False), (pki.key_usage(key_encipherment=True), True),
        (x509.ExtendedKeyUsage([CODE_SIGNING]), False)]),
    "any-purpose": lambda w: issue("signer for any purpose", extensions=signer_extensions(ANY_PURPOSE)),
    "server-signer": lambda w: issue("TLS server leaf", w["ca"], extensions=signer_extensions(SERVER_AUTH)),
    "policy-ca": lambda w: issue("CA demanding a policy", extensions=POLICY_CA),
    "policy-leaf": lambda w: issue("leaf without a policy", w["policy-ca"]),
    "names-ca": lambda w: issue("CA constraining names", extensions=NAMES_CA),
    "names-leaf": lambda w: issue("leaf within the names", w["names-ca"]),
    "names-outside": lambda w: issue("leaf outside the names", w["names-ca"], extensions=OUTSIDE_NAMES),
    "no-cert-sign-ca": lambda w: issue("CA that may not sign certificates", extensions=[
        (x509.BasicConstraints(True, None), True), (pki.key_usage(digital_signature=True), True)]),
    "no-cert-sign-leaf": lambda w: issue("leaf under a CA without keyCertSign", w["no-cert-sign-ca"]),
    "bare-ca": lambda w: issue("CA without keyUsage", extensions=ca_extensions(usage=False)),
    "bare-leaf": lambda w: issue("leaf under a CA without keyUsage", w["bare-ca"]),
    "unknown-critical": lambda w: issue("leaf with an unknown critical extension", w["ca"], extensions=SIGNER + [
        (x509.UnrecognizedExtension(UNKNOWN, b"\x05\x00"), True)]),
    "critical-san": lambda w: issue("leaf with a critical subjectAltName", w["ca"], extensions=SIGNER + [
        (x509.SubjectAlternativeName([x509.RFC822Name("signer@invalid")]), True)]),
    "expired": lambda w: issue("expired signer", days=(-60, -30)),
    "expired-ca": lambda w: issue("CA that expired", extensions=CA, days=(-60, -30)),
    "expired-ca-leaf": lambda w: issue("leaf under a CA that expired", w["expired-ca"], days=(-50, 30)),
    "sha1-root": lambda w: issue("root that signed itself with SHA-1", extensions=CA, key="rsa", digest=hashes.SHA1),
    "sha1-root-leaf": lambda w: issue("leaf under a SHA-1 root", w["sha1-root"]),
    "weak-root": lambda w: issue("1024-bit root", extensions=CA, key="rsa1024"),
    "weak-inter": lambda w: issue("intermediate under a 1024-bit root", w["weak-root"], extensions=CA),
    "weak-leaf": lambda w: issue("leaf under a 1024-bit root", w["weak-inter"]),
    "path-root": lambda w: issue("root of path length 0", extensions=ca_extensions(path_length=0)),
    "path-inter": lambda w: issue("intermediate under a root of path length 0", w["path-root"], extensions=CA),
    "path-leaf": lambda w: issue("leaf two below a root of path length 0", w["path-inter"]),
    "intermediate": lambda w: issue("intermediate CA", w["ca"], extensions=CA),
    "vendor": lambda w: issue("vendor", w["intermediate"]),
    # A CA renewed (its name, a new key), cross-signed (its name and key, another issuer), rolled over.
    "ca-renewed": lambda w: issue("ca", extensions=CA, key=pki.new_key("ec")),
    "cross-root": lambda w: issue("root that cross-signs", extensions=CA),
    "ca-cross": lambda w: issue("ca", w["cross-root"], extensions=CA),
    "old-root": lambda w: issue("old root", extensions=CA),
    "new-root": lambda w: issue("new root", extensions=CA),
    "new-by-old": lambda w: issue("new root", w["old-root"], extensions=CA),
    "new-by-sha1-root": lambda w: issue("new root", w["sha1-root"], extensions=CA),
    "new-inter": lambda w: issue("intermediate under the new root", w["new-root"], extensions=CA),
    "new-leaf": lambda w: issue("leaf under the new root", w["new-inter"]),
    "rolled-old": lambda w: issue("rolled CA", extensions=CA),
    "rolled-new": lambda w: issue("rolled CA", w["rolled-old"], extensions=CA, key=pki.new_key("ec")),
    "rolled-leaf": lambda w: issue("leaf under a rolled CA", w["rolled-new"]),
    "fake-signer": lambda w: fake_of(w["signer"]),
    "fake-ca": lambda w: fake_of(w["ca"]),
    # Certificates as their trusted issuer made them, every byte but the signature, which another key made.
    "forged-expired-ca-leaf": lambda w: forged(issue("leaf under a CA that expired", w["expired-ca"], days=(-50, 30)), w),
    "tsa-root": lambda w: issue("time-stamp root", extensions=CA),
    "forged-tsa": lambda w: forged(issue("time-stamp authority", w["tsa-root"], extensions=pki.AUTHORITY,
                                         days=(-5, 30)), w),
    "twice-eku": lambda w: pki.edited(issue("leaf with two extendedKeyUsage", w["ca"]), w["ca"], with_extension(
        lambda e: e.insert(0, {"extn_id": "extended_key_usage", "extn_value": ["server_auth"]}))),
    "version-2": lambda w: pki.edited(issue("version 2 leaf", w["ca"]), w["ca"], lambda tbs: (
        tbs.__setitem__("version", "v2"), tbs.dump(force=True))[1]),
    "ec-ca": lambda w: issue("EC CA", extensions=CA),
    "ec-leaf": lambda w: issue("leaf under an EC CA", w["ec-ca"]),
    "no-curve-ca": lambda w: pki.edited(w["ec-ca"], w["ec-ca"], lambda tbs: (tbs.__setitem__(
        "subject_public_key_info", {"algorithm": {"algorithm": "ec"}, "public_key": tbs["subject_public_key_info"][
            "public_key"]}), tbs.dump(force=True))[1]),
    "no-ca": lambda w: issue("issuer that is no CA", extensions=[(x509.BasicConstraints(False, None), True)]),
    "under-no-ca": lambda w: issue("leaf under an issuer that is no CA", w["no-ca"]),
    "ca-by-no-ca": lambda w: issue("ca", w["no-ca"], extensions=CA),
    "loose-tsa": lambda w: issue("authority whose EKU is not critical", extensions=signer_extensions(TIME_STAMPING)),
    "signing-tsa": lambda w: issue("authority that signs code too", extensions=signer_extensions(
        CODE_SIGNING, TIME_STAMPING, critical_purposes=True)),
    # Anyone's root, and what it can issue: the signer's or a trusted CA's subject and key under it.
    "anyones-root": lambda w: issue("root of anyone's", extensions=CA),
    "signer-by-anyone": lambda w: issue("signer", w["anyones-root"], key="rsa"),
    "weak-anyones-root": lambda w: issue("1024-bit root of anyone's", extensions=CA, key="rsa1024"),
    "ca-by-weak": lambda w: issue("ca", w["weak-anyones-root"], extensions=CA),
    "critical-root": lambda w: issue("root with an unknown critical extension", extensions=CA + [
        (x509.UnrecognizedExtension(UNKNOWN, b"\x05\x00"), True)]),
    "critical-root-leaf": lambda w: issue("leaf under a root with an unknown critical extension", w["critical-root"]),
    # CAs whose extensions OpenSSL cannot read, so that it never takes them for an issuer.
    "key-usage-twice-ca": lambda w: pki.edited(w["ca"], w["ca"], with_extension(
        lambda e: e.append([x for x in e if x["extn_id"].native == "key_usage"][0]))),
    "integer-constraints-ca": lambda w: issue("CA whose basicConstraints is an INTEGER", extensions=[
        (x509.UnrecognizedExtension(x509.oid.ExtensionOID.BASIC_CONSTRAINTS, b"\x02\x01\x05"), True), CA[1]]),
}

