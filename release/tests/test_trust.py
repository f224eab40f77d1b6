"""The trust table: (signer, carried, anchors, time) -> trusted, untrusted
or refused with its cause, judged by trust.py through the judge's boundary,
with no file and no rebuild. This is the file to edit when a rule changes."""
import datetime
import subprocess

import pytest

import judge
import pki
import trust
from conftest import World
from identities import IDENTITIES
from pki import CODE_SIGNING, TIME_STAMPING

DAY = datetime.timedelta(days=1)

# (why, signer, carried besides the signer, anchors, outcome[: a text of its first line], days from now to judge at)
CODE_SIGNING_ROWS = [
    ("a self-signed signer, pinned", "signer", (), ("signer",), "trusted"),
    ("a P-256 signer, pinned", "p256", (), ("p256",), "trusted"),
    ("a P-384 signer, pinned", "p384", (), ("p384",), "trusted"),
    ("a P-521 signer, pinned", "p521", (), ("p521",), "trusted"),
    ("a leaf and its CA, the CA trusted", "leaf", ("ca",), ("ca",), "trusted"),
    ("a leaf alone, its CA trusted", "leaf", (), ("ca",), "trusted"),
    ("a leaf alone, its CA named twice", "leaf", (), ("ca", "ca"), "trusted"),
    ("a leaf alone, its CA renewed with a new key trusted beside the old", "leaf", (), ("ca-renewed", "ca"), "trusted"),
    ("a leaf alone, its CA trusted beside its cross-signed twin", "leaf", (), ("ca", "ca-cross"), "trusted"),
    ("a leaf that carries the trusted CA's cross-signed twin and the root that signed it", "leaf",
     ("ca-cross", "cross-root"), ("ca",), "trusted"),
    ("a leaf under a CA's new key, which its old self-signed key certifies", "rolled-leaf", ("rolled-new",),
     ("rolled-old",), "trusted"),
    # The cross-signed chain as a CA ships it: the new root both ways, the old root too.
    ("leaf, intermediate, the new root as the old signed it, the old root; the new root trusted", "new-leaf",
     ("new-inter", "new-by-old", "old-root"), ("new-root",), "trusted"),
    ("the same with an old root that signed itself with SHA-1", "new-leaf", ("new-inter", "new-by-sha1-root",
     "sha1-root"), ("new-root",), "trusted"),
    ("a leaf and its intermediate without the root, the leaf pinned", "vendor", ("intermediate",), ("vendor",),
     "trusted"),
    ("a leaf under a CA without keyUsage, as openssl req -x509 makes one", "bare-leaf", ("bare-ca",), ("bare-ca",),
     "trusted"),
    ("a pinned leaf under a CA that expired, carried above it", "expired-ca-leaf", ("expired-ca",),
     ("expired-ca-leaf",), "trusted"),
    ("a pinned leaf under a root that signed itself with SHA-1, carried above it", "sha1-root-leaf", ("sha1-root",),
     ("sha1-root-leaf",), "trusted"),
    ("a leaf under a trusted root that signed itself with SHA-1", "sha1-root-leaf", ("sha1-root",), ("sha1-root",),
     "trusted"),
    ("a leaf within the names that its trusted CA permits", "names-leaf", ("names-ca",), ("names-ca",), "trusted"),
    ("a leaf whose critical subjectAltName OpenSSL knows", "critical-san", ("ca",), ("ca",), "trusted"),
    ("a self-signed signer, not trusted", "signer", (), (), "untrusted: self-signed"),
    ("a leaf whose CA is not trusted", "leaf", ("ca",), ("signer",), "untrusted: self-signed certificate in"),
    ("a leaf without its CA, nothing trusted", "leaf", (), (), "untrusted: unable to get local issuer"),
    ("a trusted signer whose certificate has expired", "expired", (), ("expired",), "untrusted: has expired"),
    ("a trusted signer judged before it was valid", "signer", (), ("signer",), "untrusted: not yet valid", -2),
    ("a leaf under a CA that expired, the CA trusted", "expired-ca-leaf", ("expired-ca",), ("expired-ca",),
     "untrusted: has expired"),
    ("a leaf under a CA for TLS servers only", "tls-leaf", ("tls-ca",), ("tls-ca",), "refused: not made for this use"),
    ("a CA that signs code itself", "ca", (), ("ca",), "refused: a CA does not sign"),
    ("a leaf whose key may only encipher", "enciphering", ("ca",), ("ca",), "refused: does not allow digitalSig"),
    ("a signer made for any purpose", "any-purpose", (), ("any-purpose",), "refused: not made for code signing"),
    ("a leaf made for TLS servers", "server-signer", ("ca",), ("ca",), "refused: not made for code signing"),
    ("a CA that demands an explicit policy", "policy-leaf", ("policy-ca",), ("policy-ca",),
     "refused: constrains policies"),
    ("a 512-bit RSA leaf", "rsa512", ("ca",), ("ca",), "refused: weak or unknown key"),
    ("a trusted key on a 192-bit curve", "p192", (), ("p192",), "refused: weak or unknown key"),
    ("a key on a curve that the crypto library lacks", "p160", (), ("p160",), "refused: weak or unknown key"),
    ("a leaf that its CA signed with SHA-1", "sha1-leaf", ("ca",), ("ca",), "refused: weak or unknown digest"),
    # As with OpenSSL's -auth_level 2, the signature on a trusted certificate is not judged.
    ("a leaf that its CA signed with SHA-1, the leaf itself trusted, its CA carried", "sha1-leaf", ("ca",),
     ("sha1-leaf",), "trusted"),
    ("a leaf that its CA signed with MD5", "md5-leaf", ("rsa-ca",), ("rsa-ca",), "refused: weak or unknown digest"),
    ("the top carried intermediate, signed with SHA-1 by a root not carried, nothing trusted", "sha1-inter-leaf",
     ("sha1-inter",), (), "refused: weak or unknown digest"),
    ("a leaf under a root of path length 0 and an intermediate, the root trusted", "path-leaf", ("path-inter",),
     ("path-root",), "refused: path length"),
    ("a leaf whose issuer is no CA", "under-no-ca", ("no-ca",), ("no-ca",), "refused: invalid CA certificate"),
    # OpenSSL validates what is carried, its top its anchor, whether or not it reaches a certificate of the user's.
    ("a leaf whose issuer is no CA, nothing trusted", "under-no-ca", ("no-ca",), (), "refused: invalid CA certificate"),
    ("a pinned intermediate under a root whose pathLen is 0, carried above it", "path-leaf",
     ("path-inter", "path-root"), ("path-inter",), "refused: path length"),
    ("a pinned leaf under a CA that constrains names, carried above it", "names-outside", ("names-ca",),
     ("names-outside",), "refused: permitted subtree violation"),
    ("a form of the trusted CA that an issuer that is no CA issued, carried with it", "leaf",
     ("ca", "ca-by-no-ca", "no-ca"), ("ca",), "refused: invalid CA certificate"),
    ("a CA whose keyUsage does not allow keyCertSign", "no-cert-sign-leaf", ("no-cert-sign-ca",),
     ("no-cert-sign-ca",), "refused: invalid CA certificate"),
    ("a leaf outside the names that its CA permits", "names-outside", ("names-ca",), ("names-ca",),
     "refused: permitted subtree violation"),
    ("a leaf with an unknown critical extension", "unknown-critical", ("ca",), ("ca",),
     "refused: unhandled critical extension"),
    # The chain carried above the signer is judged by the same rules whether or not it reaches a trusted certificate.
    ("a leaf under a CA for TLS servers only, nothing trusted", "tls-leaf", ("tls-ca",), (),
     "refused: not made for this use"),
    ("a leaf under a 1024-bit root, nothing trusted", "weak-leaf", ("weak-inter", "weak-root"), (),
     "refused: weak or unknown key"),
    ("a pinned intermediate under a 1024-bit root, carried above it", "weak-leaf", ("weak-inter", "weak-root"),
     ("weak-inter",), "refused: weak or unknown key"),
    ("a pinned leaf under a root with an unknown critical extension, carried above it", "critical-root-leaf",
     ("critical-root",), ("critical-root-leaf",), "refused: unhandled critical extension"),
    ("a form of the trusted CA that a 1024-bit root of anyone's issued, carried with it", "leaf",
     ("ca", "ca-by-weak", "weak-anyones-root"), ("ca",), "refused: weak or unknown key"),
    # Every signature on the path is checked before its validity is judged.
    ("a leaf that claims a trusted CA that has expired, signed by another key", "forged-expired-ca-leaf", (),
     ("expired-ca",), "refused: signature failure"),
    ("a leaf with two extendedKeyUsage, serverAuth first", "twice-eku", ("ca",), ("ca",), "refused: "),
    ("a version 2 leaf with extensions", "version-2", ("ca",), ("ca",), "refused: "),
    ("a pinned leaf under a CA whose EC key names no curve", "ec-leaf", ("no-curve-ca",), ("ec-leaf",),
     "refused: on no path"),
    ("a certificate carried twice", "leaf", ("ca", "ca"), ("ca",), "refused: carries a certificate twice"),
    ("a certificate that no path uses", "signer", ("other",), ("signer",), "refused: on no path"),
    ("a made-up form of the pinned signer: its subject and key, 128 KiB of any bytes for a signature", "signer",
     ("fake-signer",), ("signer",), "refused: on no path"),
    ("a made-up form of the trusted root", "leaf", ("ca", "fake-ca"), ("ca",), "refused: on no path"),
    ("a form of the pinned signer that anyone's root issued, carried with that root", "signer",
     ("signer-by-anyone", "anyones-root"), ("signer",), "refused: on no path"),
    ("a made-up form of the trusted root, the root not carried", "leaf", ("fake-ca",), ("ca",), "refused: on no path"),
    # Alike, byte for byte, to the made-up form above: nothing at hand verifies it.
    ("the trusted CA's cross-signed twin without the root that signed it", "leaf", ("ca-cross",), ("ca",),
     "refused: nothing at hand verifies"),
]
TIME_STAMPING_ROWS = [
    ("an authority with a critical EKU of time stamping alone", "tsa", (), ("tsa",), "trusted"),
    ("an authority whose timeStamping is not critical", "loose-tsa", (), ("loose-tsa",), "refused: time stamping alone"),
    ("an authority that signs code too", "signing-tsa", (), ("signing-tsa",), "refused: time stamping alone"),
    ("a code signer as an authority", "signer", (), ("signer",), "refused: time stamping alone"),
    ("an authority that claims a trusted root, signed by another key, judged before the root was valid",
     "forged-tsa", (), ("tsa-root",), "refused: signature failure", -3),
]


def judged(world, signer, carried, anchors, use, days):
    der = lambda name: world[name].der  # noqa: E731
    at = pki.NOW + days * DAY
    try:
        problems = judge.judging(trust.problems)(der(signer), [der(signer), *map(der, carried)], list(map(der, anchors)), use, at, at,
                                  "the signature")
    except trust.Refused as reason:
        return "refused", reason.args[0]
    return ("untrusted", problems[0]) if problems else ("trusted", "")


@pytest.fixture(scope="module")
def certificates():
    return World(IDENTITIES)


def rows(table, use):
    return [pytest.param(signer, carried, anchors, use, wanted, *(days or [0]), id=why)
            for why, signer, carried, anchors, wanted, *days in table]


@pytest.mark.parametrize("signer, carried, anchors, use, wanted, days",
                         rows(CODE_SIGNING_ROWS, CODE_SIGNING) + rows(TIME_STAMPING_ROWS, TIME_STAMPING))
def test_trust(certificates, signer, carried, anchors, use, wanted, days):
    outcome, line = judged(certificates, signer, carried, anchors, use, days)
    kind, _, text = wanted.partition(": ")
    assert (outcome, text in line) == (kind, True), f"{outcome}: {line}"


def test_no_certificate_of_the_system_is_trusted(certificates, monkeypatch, tmp_path):
    """OpenSSL's environment names the signer as a root; verify's store must not read it."""
    (tmp_path / "signer.pem").write_bytes(certificates["signer"].pem)
    subprocess.run(["openssl", "rehash", str(tmp_path)], check=True)
    monkeypatch.setenv("SSL_CERT_DIR", str(tmp_path))
    monkeypatch.setenv("SSL_CERT_FILE", str(tmp_path / "signer.pem"))
    assert judged(certificates, "signer", (), (), CODE_SIGNING, 0)[0] == "untrusted"
