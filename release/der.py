"""Strict DER, checked by hand: asn1crypto and OpenSSL accept BER forms and read only the parts that they
know, so no library here says that every element has DER's one form, which no two parsers read two ways."""
from asn1crypto import core

from errors import Refused

# The primitives with more than one BER form, each read and written again by asn1crypto to find DER's.
ONE_FORM = {0x01: core.Boolean, 0x02: core.Integer, 0x03: core.BitString, 0x06: core.ObjectIdentifier}


def element_end(data, offset, end, what):
    """Where the element at offset, definite, minimal and ending by end, has its contents and its end."""
    if offset + 2 > end or data[offset] & 0x1F == 0x1F:
        raise Refused(f"{what} is not DER")
    first = data[offset + 1]
    if first < 0x80:
        start, length = offset + 2, first
    else:
        count = first & 0x7F
        digits = data[offset + 2:min(offset + 2 + count, end)]
        length = int.from_bytes(digits, "big")
        if not 1 <= count <= 4 or len(digits) != count or digits[0] == 0 or length < 0x80:
            raise Refused(f"{what} is not DER (a length that is indefinite or not minimal)")
        start = offset + 2 + count
    if start + length > end:
        raise Refused(f"{what} is not DER (an element longer than what holds it)")
    return start, start + length


def check_der(data, what):
    """data is one element, and so is every element inside it, each in DER's one form."""
    if element_end(data, 0, len(data), what)[1] != len(data):
        raise Refused(f"{what} is not one DER element")
    pending = [(0, len(data))]
    while pending:
        offset, end = pending.pop()
        while offset < end:
            tag, element = data[offset], offset
            start, offset = element_end(data, offset, end, what)
            if tag >> 6 == 0 and bool(tag & 0x20) != (tag & 0x1F in (0x10, 0x11)):  # universal: SEQUENCE, SET
                raise Refused(f"{what} is not DER (a universal type in the wrong form)")
            if tag & 0x20:
                pending.append((start, offset))
            elif tag in ONE_FORM and not in_one_form(ONE_FORM[tag], data[element:offset]):
                raise Refused(f"{what} is not DER (an integer, boolean, bit string or object identifier"
                              " not in its one form)")


def in_one_form(kind, encoded):
    try:
        return kind.load(encoded, strict=True).dump(force=True) == encoded
    except (ValueError, TypeError):
        return False


def one_form(structure, data, what):
    """data read as the asn1crypto structure, the same bytes when written again: no default written out."""
    check_der(data, what)
    parsed = structure.load(data, strict=True)
    if parsed.dump(force=True) != data:
        raise Refused(f"{what} is not DER (a value not in its one form, or a default written out)")
    return parsed


def encoded(value):
    """The bytes that asn1crypto read value from: its dump() encodes a value
    again where its header ends in 0x80, which it takes for an indefinite length."""
    if isinstance(value, core.Choice):
        return value._header + encoded(value.chosen)
    return (value._header or b"") + value.contents + value._trailer


def check_fields(sequence, what):
    """The fields that asn1crypto read make up every byte of the sequence: no byte hides where no check reads."""
    if b"".join(encoded(sequence[field[0]]) for field in sequence._fields) != sequence.contents:
        raise Refused(f"{what} holds bytes outside the fields that are judged")
