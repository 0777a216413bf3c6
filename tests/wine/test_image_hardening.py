"""The hardened image: a package the builder made from either build of the stub keeps what the
stub was linked with (relocations, DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE, and
HIGH_ENTROPY_VA on x86-64), also when --icon and the version options rewrite its resources,
read by an independent PE reader (pefile), with no relocation inside the stub record or the
attached data, so the self-checks read the same values at any base.

Not here: a run at another base. Wine 8 starts a program only at its preferred base
(CreateProcess fails with error 700 when that is taken, for any MinGW program too), and a copy
rebased on disk (pefile's relocate_image) crashes in Wine's loader for an ordinary MinGW program
as well, so neither way tells anything about the stub. No Wine runs here."""

import pytest

from iconfile import SAMPLE_IMAGES, ico_file
from sfxfile import build_sfx
from winebench import BUILD, WINE64_OUT_DIR

pefile = pytest.importorskip("pefile")

MARKER = bytes([0x54, 0x56, 0x4B, 0x01, 0x73, 0x66, 0x78, 0x02])  # the stub record's first bytes
RECORD_SIZE = 58
FILES = {"a.txt": b"abc" * 100}
STUBS = {"i686": BUILD / "tvsfx32.exe", "x86-64": WINE64_OUT_DIR / "tvsfx32.exe"}
FLAGS = {"i686": ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT",
                  "IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE")}
FLAGS["x86-64"] = FLAGS["i686"] + ("IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA",)
# Rewritten resources grow their section, which the base relocations follow.
IDENTITY = {"plain": [], "icon-and-version": ["--icon", "{icon}", "--product-version", "3.1"]}


def identity_arguments(tmp_path, identity):
    icon = tmp_path / "sample.ico"
    icon.write_bytes(ico_file(SAMPLE_IMAGES))
    return [argument.format(icon=icon) for argument in IDENTITY[identity]]


def section_of(pe, rva):
    for section in pe.sections:
        if section.VirtualAddress <= rva < section.VirtualAddress + max(section.Misc_VirtualSize,
                                                                         section.SizeOfRawData):
            return section.Name.rstrip(b"\0").decode()
    return None


@pytest.mark.parametrize("identity", list(IDENTITY))
@pytest.mark.parametrize("kind", list(STUBS))
def test_package_keeps_the_hardened_image(tmp_path, kind, identity):
    if not STUBS[kind].exists():
        pytest.skip(f"{STUBS[kind]} is not built")
    exe = build_sfx(tmp_path, files=FILES, auto=True,
                         args=["--stub", str(STUBS[kind]), *identity_arguments(tmp_path, identity)]).path
    pe, stub = pefile.PE(str(exe)), pefile.PE(str(STUBS[kind]))
    for flag in FLAGS[kind]:
        assert getattr(pe.OPTIONAL_HEADER, flag), flag
    assert not pe.FILE_HEADER.IMAGE_FILE_RELOCS_STRIPPED
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    assert directory.Size > 0 and section_of(pe, directory.VirtualAddress) == ".reloc"
    # The same places are fixed as in the stub, none of them in the resources, the relocations
    # themselves or the attached data.
    targets = [(entry.rva, entry.type) for block in pe.DIRECTORY_ENTRY_BASERELOC for entry in block.entries]
    assert targets == [(entry.rva, entry.type) for block in stub.DIRECTORY_ENTRY_BASERELOC
                       for entry in block.entries]
    absolute = pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]
    assert {section_of(pe, rva) for rva, kind_ in targets if kind_ != absolute} <= {".text", ".data", ".rdata"}
    # The stub record holds no address: nothing at any base changes what the self-checks read.
    record = pe.get_rva_from_offset(exe.read_bytes().index(MARKER))
    assert not [rva for rva, _ in targets if record - 8 < rva < record + RECORD_SIZE]
    # The attached section comes last, behind the relocations, and ends the image.
    assert [s.Name.rstrip(b"\0") for s in pe.sections[-2:]] == [b".reloc", b"_tarvel_"]
    last = pe.sections[-1]
    alignment = pe.OPTIONAL_HEADER.SectionAlignment
    assert pe.OPTIONAL_HEADER.SizeOfImage == -(-(last.VirtualAddress + last.Misc_VirtualSize) // alignment) * alignment
    assert pe.OPTIONAL_HEADER.CheckSum in (0, pe.generate_checksum())
