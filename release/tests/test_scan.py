"""Every byte of a signed file's certificate table changed in turn: no
changed copy comes out verified, and each ends in a verdict."""
import datetime
import multiprocessing

import pytest

import forge
import judge
import pe
import stamps

SCANNED = {}


def judged(position):
    data = bytearray(SCANNED["data"])
    data[position] ^= 0x01  # every byte: lengths, padding and the entry's header too
    return position, judge.judge_release(bytes(data), SCANNED["built"], SCANNED["anchors"], SCANNED["now"]).outcome


@pytest.mark.slow
def test_no_changed_byte_is_verified(builds, world):
    """A CA-issued signer, time-stamped, with a nested signature: each kind of element that a signature holds."""
    data = forge.nest(stamps.time_stamped(forge.sign(builds["x86"], world["leaf"], [world["ca"]]), world["tsa"]),
                      world["other"])
    SCANNED.update(data=data, built=builds["x86"], anchors=[world[name].der for name in ("ca", "tsa", "other")],
                   now=datetime.datetime.now(datetime.timezone.utc))
    assert judge.judge_release(data, builds["x86"], SCANNED["anchors"], SCANNED["now"]).outcome == "verified"
    table = pe.layout_of(data).table
    with multiprocessing.get_context("fork").Pool() as pool:
        outcomes = dict(pool.map(judged, range(table, len(data)), chunksize=64))
    assert [position for position, outcome in outcomes.items() if outcome == "verified"] == []
