"""Crafting self-extractor files the builder refuses to write: configuration blocks of our own
(over-long fields, too large blocks), a moved entry point, a shared build for many cases.

All of it works on a winebench.StubFile and keeps the file consistent the way a builder
would: the attached section's header, SizeOfImage, the record's offsets and (when the file
had one) the stub checksum.
"""

from __future__ import annotations

import re
import struct
import zlib
from dataclasses import dataclass
from pathlib import Path

from winebench import REPO, Bench, StubFile

SECTION_HEADER_SIZE = 40
ATTACHED_SECTION_NAME = b"_tarvel_"
# Offsets from the PE signature.
PE_SECTION_COUNT = 6
PE_OPTIONAL_HEADER_SIZE = 20
PE_OPTIONAL_HEADER = 24
PE_SECTION_ALIGNMENT = PE_OPTIONAL_HEADER + 32
PE_FILE_ALIGNMENT = PE_OPTIONAL_HEADER + 36
PE_SIZE_OF_IMAGE = PE_OPTIONAL_HEADER + 56

# The stub's limits for its configuration block (stored and decoded bytes).
CONFIG_STORED_MAX = 1256
CONFIG_DECODED_MAX = 4100
# Capacities of the configuration fields including the NUL; field 3 is never copied.
FIELD_CAPACITY = {0: 261, 1: 257, 2: 257, 4: 514, 5: 65, 6: 516, 7: 512}
CODE_PAGE = "cp1252"

# A stored Deflate block: one header byte (final, type 0), LEN and NLEN, then the bytes.
STORED_BLOCK_OVERHEAD = 5


@dataclass
class Section:
    name: bytes
    header_offset: int
    virtual_size: int
    virtual_address: int
    raw_size: int
    raw_pointer: int


def align_up(value: int, alignment: int) -> int:
    return (value + alignment - 1) // alignment * alignment


def sections(stub: StubFile) -> list:
    pe = stub.e_lfanew
    count, = struct.unpack_from("<H", stub.data, pe + PE_SECTION_COUNT)
    optional_size, = struct.unpack_from("<H", stub.data, pe + PE_OPTIONAL_HEADER_SIZE)
    table = pe + PE_OPTIONAL_HEADER + optional_size
    found = []
    for index in range(count):
        at = table + index * SECTION_HEADER_SIZE
        name, vsize, vaddr, rsize, rptr = struct.unpack_from("<8sIIII", stub.data, at)
        found.append(Section(name.rstrip(b"\0"), at, vsize, vaddr, rsize, rptr))
    return found


def section(stub: StubFile, name: bytes) -> Section:
    for s in sections(stub):
        if s.name == name:
            return s
    raise KeyError(name)


def _pe_u32(stub: StubFile, offset: int) -> int:
    return struct.unpack_from("<I", stub.data, stub.e_lfanew + offset)[0]


# ---- configuration blocks --------------------------------------------------------------------


def encode(text: str | bytes) -> bytes:
    return text if isinstance(text, bytes) else text.encode(CODE_PAGE)


def config_plain(fields) -> bytes:
    """The decoded block: every field NUL-terminated, back to back."""
    return b"".join(encode(field) + b"\0" for field in fields)


def deflate_raw(data: bytes, level: int = 9) -> bytes:
    """A raw Deflate stream (no zlib header), as the stub reads it."""
    packer = zlib.compressobj(level, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def stored_deflate(data: bytes) -> bytes:
    """data as one final stored block: exactly len(data) + 5 bytes."""
    assert len(data) <= 0xFFFF
    return bytes([1]) + struct.pack("<HH", len(data), len(data) ^ 0xFFFF) + data


def fields_with(overrides: dict, base=("", "", "", "", "", "", "", "")) -> list:
    """Eight fields: base with the given {index: text} replaced."""
    fields = list(base)
    for index, text in overrides.items():
        fields[index] = text
    return fields


def replace_config_block(stub: StubFile, block: bytes) -> None:
    """Puts block where the configuration block was and moves the archive behind it: the
    record's archive_offset and end_record_offset, the attached section's sizes and
    SizeOfImage follow, and a file with a stub checksum gets a fresh one (the checksum
    covers the block)."""
    attached = section(stub, ATTACHED_SECTION_NAME)
    config_at, archive_at = stub["config_offset"], stub["archive_offset"]
    assert config_at == attached.raw_pointer, "the block starts the attached section"
    # The archive ends with its end record and comment; the section maps only the first bytes.
    end_record = stub["end_record_offset"]
    archive_end = end_record + 22 + struct.unpack_from("<H", stub.data, end_record + 20)[0]
    archive = bytes(stub.data[archive_at:archive_end])
    shift = config_at + len(block) - archive_at

    data_size = len(block) + len(archive)
    raw_size = align_up(data_size, _pe_u32(stub, PE_FILE_ALIGNMENT))
    stub.data[config_at:] = block + archive + bytes(raw_size - data_size)
    mapped = min(data_size, CONFIG_STORED_MAX)
    struct.pack_into("<I", stub.data, attached.header_offset + 8, mapped)
    struct.pack_into("<I", stub.data, attached.header_offset + 16, raw_size)
    image_size = align_up(attached.virtual_address + mapped,
                          _pe_u32(stub, PE_SECTION_ALIGNMENT))
    struct.pack_into("<I", stub.data, stub.e_lfanew + PE_SIZE_OF_IMAGE, image_size)

    stub["archive_offset"] = archive_at + shift
    if stub["end_record_offset"]:
        stub["end_record_offset"] += shift
    if stub["stub_crc"]:
        stub.fix_stub_crc()


def with_config(source: Path, target: Path, block: bytes, **record) -> Path:
    """A copy of the self-extractor source with its configuration block replaced and record
    fields set (before the checksum is recomputed)."""
    stub = StubFile(source)
    for name, value in record.items():
        stub[name] = value
    replace_config_block(stub, block)
    return stub.save(target)


# ---- entry point -------------------------------------------------------------------------------

JMP_REL32 = 0xE9
JMP_SIZE = 5


SECTION_CHARACTERISTICS = 36
SCN_CODE_EXECUTE = 0x00000020 | 0x20000000  # contains code, may be executed


def padded_section(stub: StubFile, size: int) -> Section:
    """The code section when at least `size` bytes of zero padding lie behind its contents,
    else the first other section of the stub that has them: how much padding each section
    has changes with every build (a 32-bit stub's code once filled its section exactly)."""
    for s in sorted(sections(stub), key=lambda s: s.name != b".text"):
        if s.name != ATTACHED_SECTION_NAME and s.raw_size >= s.virtual_size + size:
            return s
    raise AssertionError(f"no section of the stub has {size} bytes of padding")


def redirect_entry_point(stub: StubFile) -> int:
    """Moves the image's entry point into a section's padding, where a jump leads on to the
    old one: the program still starts as before, but its header no longer carries the entry
    point the record remembers (the way an infected file looks). Returns the new RVA."""
    code = padded_section(stub, JMP_SIZE)
    old = stub.pe_entry_point
    new = code.virtual_address + code.virtual_size
    at = code.raw_pointer + code.virtual_size
    assert stub.data[at:at + JMP_SIZE] == bytes(JMP_SIZE)
    stub.data[at:at + JMP_SIZE] = bytes([JMP_REL32]) + struct.pack("<i", old - (new + JMP_SIZE))
    # The loader maps the section's virtual size: it has to reach over the jump, and the
    # section has to be executable when it is not the code section.
    struct.pack_into("<I", stub.data, code.header_offset + 8, code.virtual_size + JMP_SIZE)
    flags_at = code.header_offset + SECTION_CHARACTERISTICS
    flags, = struct.unpack_from("<I", stub.data, flags_at)
    struct.pack_into("<I", stub.data, flags_at, flags | SCN_CODE_EXECUTE)
    stub.pe_entry_point = new
    return new


# ---- texts -----------------------------------------------------------------------------------

HEADER_ERROR = ("Tarvel Self-Extractor-Dateikopf ungültig. Mögliche Ursache: Fehlerhafter "
                "Datenträger oder Dateiübertragungsfehler.")
ARCHIVE_DAMAGED = ("Archiv ist beschädigt oder wurde verkürzt bzw. nach dem Anlegen geändert. "
                   "Wenn diese Datei aus einer Online-Quelle stammt, laden Sie sie erneut "
                   "herunter.")
INCOMPLETE = ("Das selbstextrahierende Archiv ist unvollständig;\nErstellen Sie bitte die Datei "
              "erneut und wiederholen Sie den Vorgang.")
REPORT_NAME = "TVSFX32.RPT"


def fixed_text(name: str) -> str:
    """A text of resources/fixed_texts.txt (its wording is ours to change, so tests read it)."""
    for line in (REPO / "resources" / "fixed_texts.txt").read_text(encoding="utf-8").splitlines():
        if line.split(" ", 1)[0] == name:
            quoted = line[line.index('"') + 1:line.rindex('"')]
            return re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1), quoted)
    raise KeyError(name)


# ---- shared builds -----------------------------------------------------------------------------


def build_sfx(where: Path, **arguments):
    """bench.make_sfx without a bench, for files that several tests share (a module-scoped
    fixture); starting them still needs the test's own bench."""
    return Bench(None, where).make_sfx(where, **arguments)


def copy_sfx(source, target: Path) -> Path:
    """A private copy of a shared self-extractor, for a run that writes beside it."""
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_bytes(Path(source).read_bytes())
    return target
