"""Time-stamps judged with their signature: a trusted one vouches for the
time at which the signer's chain must have been valid, and its token
obeys the rules of the signature it stamps."""
import datetime

import pytest
from asn1crypto import cms, core

import authenticode
import forge
import pki
import stamps
from conftest import World, expect
from pki import CA, CODE_SIGNING, TIME_STAMPING, issue, signer_extensions
from test_forgeries import IDENTITIES

DAY, SECOND, NOW = datetime.timedelta(days=1), datetime.timedelta(seconds=1), datetime.timedelta(0)
UNKNOWN_CRITICAL = forge.sequence(b"\x06\x03\x2a\x03\x04", b"\x01\x01\xff", b"\x04\x00")
STAMPS = {**IDENTITIES,
    "lifetime": lambda w: issue("lifetime signer", extensions=signer_extensions(CODE_SIGNING, pki.LIFETIME_SIGNING),
                                days=(-20, 20)),
    "short-lived": lambda w: issue("signer valid for 20 days", days=(-20, 20)),
    "any-expired": lambda w: issue("expired signer for any purpose", days=(-60, -30), extensions=signer_extensions(
        pki.x509.oid.ExtendedKeyUsageOID.ANY_EXTENDED_KEY_USAGE)),
    "dual-expired": lambda w: issue("expired signer for code and time stamping", days=(-60, -30),
                                    extensions=signer_extensions(CODE_SIGNING, TIME_STAMPING, critical_purposes=True)),
    "loose-tsa": lambda w: issue("authority whose EKU is not critical", extensions=signer_extensions(TIME_STAMPING)),
    "tsa-root": lambda w: issue("time-stamp root", extensions=CA),
    # Its long name makes its encoding sort after its root's, so that openssl ts writes them out of DER's order.
    "chained-tsa": lambda w: issue("time-stamp authority " + "under a root " * 20, w["tsa-root"],
                                   extensions=pki.AUTHORITY),
}


def tst_with(*more):
    """A TSTInfo maker that adds the encoded elements more inside it."""
    def made(value, when):
        sound = stamps.tst_info(value, when)
        return forge.sequence(sound[forge.header_size(sound):], *more)
    return made


def long_length(value, when):
    sound = stamps.tst_info(value, when)
    body = sound[forge.header_size(sound):]
    return b"\x30\x81" + bytes([len(body)]) + body


def long_after_signing(authority):
    """A token maker: authority signs a TSTInfo that is then written with a
    long length, which its signature does not cover, in a token whose length
    ends in 0x80 (a nonce makes it so), which asn1crypto takes for an
    indefinite length, and so encodes again in DER when it is dumped."""
    def made(value, when):
        for size in range(1, 1024):
            sound = stamps.tst_info(value, when, nonce=1 << 8 * size)
            body = sound[forge.header_size(sound):]
            token = forge.splice(stamps.time_stamp_token(authority, sound), forge.tagged(0x04, sound),
                                 forge.tagged(0x04, b"\x30\x83" + len(body).to_bytes(3, "big") + body))
            if token[forge.header_size(token) - 1] == 0x80:
                return token
    return made


def dated(text):
    """A TSTInfo whose genTime is the GeneralizedTime text, whether or not it is a time."""
    def made(value, when):
        sound = stamps.tst_info(value, datetime.datetime(2000, 1, 1, tzinfo=datetime.timezone.utc))
        return forge.splice(sound, b"\x18\x0f20000101000000Z", forge.tagged(0x18, text))
    return made


def self_stamped(f, w, name):
    """Signed by name, which time-stamps itself while its certificate was valid."""
    return stamps.time_stamped(forge.sign(f.built, w[name]), w[name], pki.NOW - 45 * DAY)


ROWS = [
    ("stamped now, signer and authority trusted", lambda f, w: f["stamped"], ("signer", "tsa"), "verified", NOW),
    ("stamped by an authority not trusted", lambda f, w: f["stamped"], ("signer",), "untrusted: the time-stamp", NOW),
    ("a trusted stamp dated 20 days from now", lambda f, w: stamps.time_stamped(f["pem"], w["tsa"], pki.NOW + 20 * DAY),
     ("signer", "tsa"), "untrusted: later than now", NOW),
    ("a trusted stamp dated 4 minutes 59 seconds after now", lambda f, w: stamps.time_stamped(f["pem"], w["tsa"], pki.NOW),
     ("signer", "tsa"), "verified", -299 * SECOND),
    ("a trusted stamp dated 5 minutes 1 second after now", lambda f, w: stamps.time_stamped(f["pem"], w["tsa"], pki.NOW),
     ("signer", "tsa"), "untrusted: later than now", -301 * SECOND),
    ("an expired signer, a trusted stamp from while it was valid", lambda f, w: stamps.time_stamped(
        forge.sign(f.built, w["short-lived"]), w["tsa"]), ("short-lived", "tsa"), "verified", 40 * DAY),
    ("an expired signer, a stamp from while it was valid, the authority not trusted", lambda f, w: stamps.time_stamped(
        forge.sign(f.built, w["short-lived"]), w["tsa"]), ("short-lived",), "untrusted: has expired", 40 * DAY),
    ("a Lifetime Signing signer, stamped, judged after its certificate expired", lambda f, w: stamps.time_stamped(
        forge.sign(f.built, w["lifetime"]), w["tsa"]), ("lifetime", "tsa"), "untrusted: has expired", 40 * DAY),
    ("a signer for any purpose, expired, that time-stamps itself", lambda f, w: self_stamped(f, w, "any-expired"),
     ("any-expired",), "refused: time stamping alone", NOW),
    ("a signer for code signing and time stamping, expired, that time-stamps itself", lambda f, w: self_stamped(
        f, w, "dual-expired"), ("dual-expired",), "refused: time stamping alone", NOW),
    ("an authority whose timeStamping is not critical", lambda f, w: stamps.time_stamped(f["pem"], w["loose-tsa"]),
     ("signer", "loose-tsa"), "refused: time stamping alone", NOW),
    ("a stamp whose signature is broken", lambda f, w: forge.flipped(f["stamped"], forge.unsigned_value(
        forge.first_signer(forge.signature(f["stamped"])["content"]), authenticode.RFC3161_TIME_STAMP)[
        "content"]["signer_infos"][0]["signature"].native), ("signer", "tsa"), "refused: does not verify", NOW),
    ("a TSTInfo with its length in the long form", lambda f, w: stamps.time_stamped(f["pem"], w["tsa"], tst=long_length),
     ("signer", "tsa"), "refused: not DER", NOW),
    ("a TSTInfo written with a long length after it was signed, in a token whose length ends in 0x80", lambda f, w:
     stamps.time_stamped(f["pem"], w["tsa"], token=long_after_signing(w["tsa"])), ("signer", "tsa"), "refused: not DER",
     NOW),
    ("a TSTInfo with a critical extension that nothing knows", lambda f, w: stamps.time_stamped(
        f["pem"], w["tsa"], tst=tst_with(forge.tagged(0xA1, UNKNOWN_CRITICAL))), ("signer", "tsa"),
     "refused: critical extensions", NOW),
    ("a TSTInfo that writes out ordering FALSE", lambda f, w: stamps.time_stamped(
        f["pem"], w["tsa"], tst=tst_with(b"\x01\x01\x00")), ("signer", "tsa"), "refused: default written out", NOW),
    ("a TSTInfo that names another authority", lambda f, w: stamps.time_stamped(f["pem"], w["tsa"], tst=tst_with(
        forge.tagged(0xA0, forge.tagged(0xA4, w["other"].certificate.subject.public_bytes())))), ("signer", "tsa"),
     "refused: another authority", NOW),
    ("a stamp dated in the year 0", lambda f, w: stamps.time_stamped(f["pem"], w["tsa"], tst=dated(b"00000101000000Z")),
     ("signer", "tsa"), "refused: its time cannot be read", NOW),
    ("a certificate in the token that no chain uses", lambda f, w: stamps.token_edited(
        f["stamped"], lambda s: s["certificates"].append(cms.CertificateChoices.load(w["other"].der))),
     ("signer", "tsa"), "refused: on no path", NOW),
    ("a CRL in the token", lambda f, w: stamps.token_edited(f["stamped"], lambda s: s.__setitem__(
        "crls", [forge.revocation(w["tsa"], 1)])), ("signer", "tsa"), "refused: CRLs", NOW),
    ("an unsigned attribute on the token's signer", lambda f, w: stamps.token_edited(f["stamped"], lambda s: (
        forge.add_attribute(forge.first_signer(s), forge.UNKNOWN_ATTRIBUTE, [core.Any.load(forge.PAYLOAD)]))),
     ("signer", "tsa"), "refused: not judged here", NOW),
]


@pytest.fixture(scope="module")
def files(builds):
    from test_forgeries import Files
    return Files(World(STAMPS), builds["x86"])


@pytest.mark.parametrize("make, anchors, wanted, later", [pytest.param(*row[1:], id=row[0]) for row in ROWS])
def test_time_stamp(files, make, anchors, wanted, later):
    expect(make(files, files.world), files.built, [files.world[name] for name in anchors], wanted, pki.NOW + later)
