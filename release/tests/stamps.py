"""Time-stamp tokens for tests: made by an authority of the run, over a
signature's value, sound or odd in the one way a row names."""
import datetime
import hashlib

from asn1crypto import algos, cms, core, tsp, x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding

import authenticode
from forge import add_attribute, first_signer, signature, spliced, unsigned_value, with_signature


def token_edited(data, edit):
    """data whose time-stamp token's SignedData edit(signed) changed."""
    old = unsigned_value(first_signer(signature(data)["content"]), authenticode.RFC3161_TIME_STAMP)
    token = cms.ContentInfo.load(old.dump())
    edit(token["content"])
    return spliced(data, old.dump(), token.dump(force=True))


def time_stamp_token(authority, tst_bytes):
    """A token in which the authority (an Identity) signs the TSTInfo tst_bytes."""
    certificate = x509.Certificate.load(authority.der)
    attributes = cms.CMSAttributes([{"type": "content_type", "values": ["tst_info"]},
                                    {"type": "message_digest", "values": [hashlib.sha256(tst_bytes).digest()]}])
    if isinstance(authority.key, ec.EllipticCurvePrivateKey):
        value, algorithm = authority.key.sign(attributes.dump(), ec.ECDSA(hashes.SHA256())), "sha256_ecdsa"
    else:
        value, algorithm = authority.key.sign(attributes.dump(), padding.PKCS1v15(), hashes.SHA256()), "sha256_rsa"
    sha256 = algos.DigestAlgorithm({"algorithm": "sha256"})
    signer_info = cms.SignerInfo({
        "version": "v1", "digest_algorithm": sha256, "signed_attrs": attributes, "signature": value,
        "sid": {"issuer_and_serial_number": {"issuer": certificate.issuer, "serial_number": certificate.serial_number}},
        "signature_algorithm": {"algorithm": algorithm}})
    signed = cms.SignedData({
        "version": "v3", "digest_algorithms": [sha256], "certificates": [certificate], "signer_infos": [signer_info],
        "encap_content_info": {"content_type": "tst_info", "content": core.ParsableOctetString(tst_bytes)}})
    return cms.ContentInfo({"content_type": "signed_data", "content": signed}).dump()


def tst_info(signature_value, when, **more):
    return tsp.TSTInfo({"version": "v1", "policy": "1.3.6.1.4.1.57264.1", "serial_number": 1, "gen_time": when,
                        "message_imprint": {"hash_algorithm": {"algorithm": "sha256"},
                                            "hashed_message": hashlib.sha256(signature_value).digest()}, **more}).dump()


def time_stamped(data, authority, when=None, tst=None, token=None):
    """data's first signature with a time-stamp by authority over it (in
    place of any), dated when. With tst, its TSTInfo is tst(signature value,
    when); with token, the token is token(signature value, when): either is
    swapped in for a sound one's so that nothing else is encoded again."""
    info = signature(data)
    signer_info = first_signer(info["content"])
    value, when = signer_info["signature"].native, when or datetime.datetime.now(datetime.timezone.utc)
    kept = [a for a in signer_info["unsigned_attrs"] or [] if a["type"].dotted != authenticode.RFC3161_TIME_STAMP]
    signer_info["unsigned_attrs"] = kept or None
    sound = time_stamp_token(authority, tst_info(value, when))
    add_attribute(signer_info, authenticode.RFC3161_TIME_STAMP, [cms.ContentInfo.load(sound)])
    stamped = with_signature(data, info)
    if tst is not None:
        token = lambda value, when: time_stamp_token(authority, tst(value, when))  # noqa: E731
    return stamped if token is None else spliced(stamped, sound, token(value, when))
