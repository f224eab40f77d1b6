"""Keys and certificates made for one test run, with cryptography's
builders: signers, CAs and time-stamp authorities, sound or broken in the
one way a row names."""
import datetime
import os
from dataclasses import dataclass

from asn1crypto import pem
from asn1crypto import x509 as asn1_x509
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

NOW = datetime.datetime.now(datetime.timezone.utc)
CODE_SIGNING, TIME_STAMPING = ExtendedKeyUsageOID.CODE_SIGNING, ExtendedKeyUsageOID.TIME_STAMPING
LIFETIME_SIGNING = x509.ObjectIdentifier("1.3.6.1.4.1.311.10.3.13")
DER = serialization.Encoding.DER


def key_usage(**allowed):
    uses = ["digital_signature", "content_commitment", "key_encipherment", "data_encipherment", "key_agreement",
            "key_cert_sign", "crl_sign", "encipher_only", "decipher_only"]
    return x509.KeyUsage(**{use: allowed.get(use, False) for use in uses})


def signer_extensions(*purposes, critical_purposes=False):
    return [(x509.BasicConstraints(False, None), True), (key_usage(digital_signature=True), True),
            (x509.ExtendedKeyUsage(list(purposes)), critical_purposes)]


SIGNER = signer_extensions(CODE_SIGNING)
AUTHORITY = signer_extensions(TIME_STAMPING, critical_purposes=True)
CA = [(x509.BasicConstraints(True, None), True), (key_usage(key_cert_sign=True, crl_sign=True), True)]


def ca_extensions(path_length=None, usage=True, extra=()):
    usage_extension = [(key_usage(key_cert_sign=True, crl_sign=True), True)] if usage else []
    return [(x509.BasicConstraints(True, path_length), True), *usage_extension, *extra]


@dataclass
class Identity:
    key: object
    der: bytes  # its certificate, which cryptography may not read when a row breaks it

    @property
    def certificate(self):
        return x509.load_der_x509_certificate(self.der)

    @property
    def pem(self):
        return pem.armor("CERTIFICATE", self.der)

    def write(self, folder, name):
        """name.pem and name.key in folder (the key unencrypted, PKCS#8); their paths."""
        certificate, key = os.path.join(folder, f"{name}.pem"), os.path.join(folder, f"{name}.key")
        with open(certificate, "wb") as file:
            file.write(self.pem)
        with open(key, "wb") as file:
            file.write(self.key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                              serialization.NoEncryption()))
        return certificate, key


KEYS = {}


def new_key(kind):
    """A key of kind: "ec" (P-256), "p384", "p521", "p192", or "rsa" with its bits ("rsa", "rsa1024", "rsa512")."""
    curves = {"ec": ec.SECP256R1, "p384": ec.SECP384R1, "p521": ec.SECP521R1, "p192": ec.SECP192R1}
    if kind in curves:
        return ec.generate_private_key(curves[kind]())
    return rsa.generate_private_key(65537, int(kind[3:] or 2048))


def shared_key(name, kind):
    """The key of name, made once: another certificate of the same name and kind has the same key."""
    if (name, kind) not in KEYS:
        KEYS[name, kind] = new_key(kind)
    return KEYS[name, kind]


def issue(name, issuer=None, extensions=SIGNER, key="ec", days=(-1, 30), digest=hashes.SHA256, serial=None,
          subject=None):
    """A certificate for name (its CN), issued by the Identity issuer or, without one, by itself."""
    private = shared_key(name, key) if isinstance(key, str) else key
    subject = subject or x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, f"notice throwaway {name}")])
    issuer_name = issuer.certificate.subject if issuer else subject
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer_name)
               .public_key(private.public_key()).serial_number(serial or x509.random_serial_number())
               .not_valid_before(NOW + datetime.timedelta(days=days[0]))
               .not_valid_after(NOW + datetime.timedelta(days=days[1])))
    builder = builder.add_extension(x509.SubjectKeyIdentifier.from_public_key(private.public_key()), False)
    issuing_key = issuer.key if issuer else private
    builder = builder.add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(issuing_key.public_key()), False)
    for extension, critical in extensions:
        builder = builder.add_extension(extension, critical)
    return Identity(private, builder.sign(issuing_key, digest() if digest else None).public_bytes(DER))


def edited(identity, issuer, edit):
    """identity's certificate with its to-be-signed part edited by edit
    (asn1crypto's TbsCertificate to DER), signed again by issuer."""
    certificate = asn1_x509.Certificate.load(identity.der)
    tbs_der = edit(certificate["tbs_certificate"])
    if isinstance(issuer.key, ec.EllipticCurvePrivateKey):
        value = issuer.key.sign(tbs_der, ec.ECDSA(hashes.SHA256()))
    else:
        value = issuer.key.sign(tbs_der, padding.PKCS1v15(), hashes.SHA256())
    return Identity(identity.key, asn1_x509.Certificate({
        "tbs_certificate": asn1_x509.TbsCertificate.load(tbs_der),
        "signature_algorithm": certificate["signature_algorithm"], "signature_value": value}).dump())
