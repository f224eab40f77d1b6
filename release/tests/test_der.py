"""The DER table: the encodings that two parsers could read two ways, each
refused, beside the one form that is accepted."""
import pytest

import authenticode
import der
import pki
from errors import Refused
from identities import extension_value

ONE_BYTE_OID = "06 03 2a 03 04"
ELEMENTS = [
    ("a sequence of an integer", "30 03 02 01 05", None),
    ("a length in the long form where the short one fits", "30 81 03 02 01 05", "not minimal"),
    ("an indefinite length", "30 80 02 01 05 00 00", "indefinite"),
    ("a length of five bytes", "30 85 00 00 00 00 03 02 01 05", "indefinite or not minimal"),
    ("an element longer than what holds it", "30 05 02 01 05", "longer than what holds it"),
    ("bytes after the element", "30 03 02 01 05 00", "not one DER element"),
    ("a high tag number", "1f 81 01 00", "not DER"),
    ("a constructed integer", "30 05 22 03 02 01 05", "wrong form"),
    ("a primitive sequence", "30 02 10 00", "wrong form"),
    ("a boolean TRUE as FF", "30 03 01 01 ff", None),
    ("a boolean TRUE as 01", "30 03 01 01 01", "one form"),
    ("an integer padded with a zero", "30 04 02 02 00 7f", "one form"),
    ("an integer padded with FF", "30 04 02 02 ff 80", "one form"),
    ("an integer whose zero keeps it positive", "30 04 02 02 00 80", None),
    ("an empty integer", "30 02 02 00", "one form"),
    ("a bit string with 8 unused bits", "30 04 03 02 08 00", "one form"),
    ("a bit string whose unused bits are set", "30 04 03 02 03 09", "one form"),
    ("a bit string whose unused bits are zero", "30 04 03 02 03 08", None),
    ("an object identifier", f"30 05 {ONE_BYTE_OID}", None),
    ("an object identifier with a subidentifier padded by 0x80", "30 06 06 04 2a 80 03 04", "one form"),
    ("an object identifier that ends inside a subidentifier", "30 05 06 03 2a 03 84", "one form"),
    ("an octet string, whose contents are not read here", "30 04 04 02 30 80", None),
]


@pytest.mark.parametrize("encoded, refusal", [pytest.param(encoded, refusal, id=why) for why, encoded, refusal in ELEMENTS])
def test_element(encoded, refusal):
    data = bytes.fromhex(encoded)
    if refusal is None:
        der.check_der(data, "it")
    else:
        with pytest.raises(Refused, match=refusal):
            der.check_der(data, "it")


CERTIFICATE_EDITS = [
    ("a sound leaf", None, None),
    ("an OCTET STRING after the extendedKeyUsage inside its value", ("extended_key_usage",
     "300a06082b06010505070303" "04034a4e4b"), "not DER"),
    ("basicConstraints with cA FALSE written out, which DER leaves out as the default", ("basic_constraints",
     "3003010100"), "default written out"),
    ("keyUsage with its trailing zero bits kept", ("key_usage", "03020080"), "default written out"),
]


@pytest.mark.parametrize("edit, refusal", [pytest.param(edit, refusal, id=why) for why, edit, refusal in CERTIFICATE_EDITS])
def test_certificate(world, edit, refusal):
    leaf = world["leaf"]
    if edit is not None:
        leaf = pki.edited(leaf, world["ca"], extension_value(edit[0], bytes.fromhex(edit[1])))
    if refusal is None:
        authenticode.check_certificate(leaf.der, "it")
    else:
        with pytest.raises(Refused, match=refusal):
            authenticode.check_certificate(leaf.der, "it")
