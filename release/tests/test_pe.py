"""The PE round trip: a signature taken off a file that a signer made and
attached to the build again gives that file back, byte for byte; and what
is not one signature at the end of a PE file of either build is refused."""
import struct

import pytest

import forge
import pe
import stamps
from errors import Refused

SIGNED = {
    "signed": lambda built, w: forge.sign(built, w["signer"]),
    "signed with its chain, SHA-512": lambda built, w: forge.sign(built, w["leaf"], [w["ca"]], digest="sha512"),
    "signed, a signature nested": lambda built, w: forge.nest(forge.sign(built, w["signer"]), w["other"]),
    "signed and time-stamped": lambda built, w: stamps.time_stamped(forge.sign(built, w["signer"]), w["tsa"]),
}


@pytest.mark.parametrize("processor", ["x86", "x64"])
@pytest.mark.parametrize("signing", SIGNED)
def test_attached_again_is_the_signed_file(builds, world, processor, signing):
    built = builds[processor]
    signed = SIGNED[signing](built, world)
    layout = pe.layout_of(signed)
    assert layout.processor == processor
    assert pe.with_signature(built, pe.signature_of(signed, layout)) == signed


@pytest.mark.parametrize("processor", ["x86", "x64"])
def test_unsigned_has_no_signature(builds, processor):
    assert pe.signature_of(builds[processor], pe.layout_of(builds[processor])) is None
    assert pe.with_signature(builds[processor], None) == builds[processor]


def with_machine(data, machine):
    changed = bytearray(data)
    struct.pack_into("<H", changed, struct.unpack_from("<I", data, 0x3C)[0] + 4, machine)
    return bytes(changed)


def with_entry_revision(data, revision):
    changed = bytearray(data)
    struct.pack_into("<H", changed, pe.layout_of(data).table + 4, revision)
    return bytes(changed)


REFUSED = [
    ("an ARM64 build", lambda signed: with_machine(signed, 0xAA64), "not a PE file for x86"),
    ("a certificate entry of another revision", lambda signed: with_entry_revision(signed, 0x0100),
     "not an Authenticode signature"),
    ("a signature that is not DER", lambda signed: with_entry_der(signed, b"\x30\x80"), "not DER"),
]


def with_entry_der(data, start):
    changed = bytearray(data)
    changed[pe.layout_of(data).table + 8:pe.layout_of(data).table + 10] = start
    return bytes(changed)


@pytest.mark.parametrize("edit, refusal", [pytest.param(edit, refusal, id=why) for why, edit, refusal in REFUSED])
def test_refused(builds, world, edit, refusal):
    data = edit(forge.sign(builds["x86"], world["signer"]))
    with pytest.raises(Refused, match=refusal):
        pe.signature_of(data, pe.layout_of(data))
