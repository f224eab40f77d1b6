"""Where an Authenticode signature sits in a notice.exe, and attaching one as a signer attaches it."""
import hashlib
import struct
from collections import namedtuple

import pefile

from der import element_end
from errors import Refused

SECURITY_DIRECTORY = 4
WIN_CERTIFICATE = (0x0200, 0x0002)  # revision 2.0, PKCS#7 SignedData
PROCESSORS = {(0x014C, 0x10B): "x86", (0x8664, 0x20B): "x64"}  # by machine and optional header magic
# Which build a file is ("x86", "x64"), the offsets of its CheckSum field, of its security directory entry and of
# its certificate table (0: unsigned), and the table's size.
Layout = namedtuple("Layout", "processor checksum security_entry table table_size")


def layout_of(data):
    try:
        image = pefile.PE(data=data, fast_load=True)
        entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY_DIRECTORY]
        processor = PROCESSORS.get((image.FILE_HEADER.Machine, image.OPTIONAL_HEADER.Magic))
    except (pefile.PEFormatError, IndexError, AttributeError) as error:
        raise Refused("not a PE file") from error
    if processor is None:
        raise Refused("not a PE file for x86 (PE32) or x64 (PE32+)")
    return Layout(processor, image.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), entry.get_file_offset(),
                  entry.VirtualAddress, entry.Size)


def signature_of(data, layout):
    """The signature (DER) in the one certificate entry that ends the file, laid out as a signer writes it."""
    table, size = layout.table, layout.table_size
    if table == size == 0:
        return None
    if table + size != len(data) or size < 8:
        raise Refused("its certificate table does not end the file")
    length, revision, kind = struct.unpack_from("<IHH", data, table)
    if (revision, kind) != WIN_CERTIFICATE:
        raise Refused("its certificate entry is not an Authenticode signature")
    blob = data[table + 8:table + size]
    end = element_end(blob, 0, len(blob), "the signature")[1]
    if length != size or size != (8 + end + 7) & ~7 or any(blob[end:]):
        raise Refused("its certificate table holds bytes besides one signature and its padding")
    return blob[:end]


def with_signature(unsigned, signature):
    """The unsigned file and signature, each padded to 8 bytes, as one certificate entry, with a checksum."""
    if signature is None:
        return unsigned
    layout = layout_of(unsigned)
    body = unsigned + bytes(-len(unsigned) % 8)
    entry = signature + bytes(-len(signature) % 8)
    signed = bytearray(body + struct.pack("<IHH", 8 + len(entry), *WIN_CERTIFICATE) + entry)
    struct.pack_into("<II", signed, layout.security_entry, len(body), 8 + len(entry))
    struct.pack_into("<I", signed, layout.checksum, pefile.PE(data=bytes(signed), fast_load=True).generate_checksum())
    return bytes(signed)


def digest(data, layout, name):
    """The digest that a signature covers: the file less what signing changes."""
    return hashlib.new(name, data[:layout.checksum] + data[layout.checksum + 4:layout.security_entry] +
                       data[layout.security_entry + 8:layout.table or len(data)]).digest()
