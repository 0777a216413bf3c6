"""Names in every script on the NT family, and paths longer than 259 characters.

- Packages whose names are Cyrillic, Greek, Polish, Japanese, Arabic, emoji (outside the
  BMP) and combining marks (NFC and NFD kept as stored), from Info-ZIP zip, 7-Zip, Python,
  bsdtar and the builder's folder input, extract the exact names (compared as UTF-8 bytes on
  the Linux side) in the German (1252) prefix, and in a Japanese (932) and a Russian (1251) one.
- How a name is read: bit 11 as UTF-8, a Unicode Path field (0x7075) whose CRC matches the
  stored name, otherwise the ANSI code page; a field whose CRC does not match is ignored; a
  flagged name that is no valid UTF-8 stops the run with a box naming it, nothing made for it.
- A target folder outside the ANSI code page: typed in the dialog, given with -dir=, and the
  temporary folder (%TEMP%) of a package without a folder.
- A tree whose deepest path has 600 characters, and a name of 255 characters in a folder of
  300: extracted, overwritten, replaced through the temporary file, and (a --cleanup
  package) removed again.

Until the builder keeps Unicode names by itself, packages are built with --codepage raw (the
names as stored), and names the builder does not yet take (too long) are put into a built
package by hand (package_with_archive).
"""

from __future__ import annotations

import os
import struct
import subprocess
import unicodedata
import zipfile
import zlib
from pathlib import Path

import pytest

from extractkit import (
    MSG_CREATE_OUTPUT, ArchiveImage, RawEntry, expect_error, expect_success, hidden_args, raw_zip,
)
from winebench import Bench, locale_session, winpath

GP_UTF8 = 0x0800
FOLDER_FIELD = 106
IDOK = 1
IDCANCEL = 2

# Names in many scripts, and a composed (NFC) and a decomposed (NFD) name, each kept as
# stored (the builder refuses two names that differ only in their normal form).
UNICODE_FILES = {
    "Кириллица/Документ.txt": b"ru",
    "Ελληνικά/Αρχείο.txt": b"el",
    "Zażółć gęślą jaźń.txt": b"pl",
    "日本語/表計算ソフト.txt": b"ja",
    "العربية/ملف.txt": b"ar",
    "emoji/😀🎉.txt": b"emoji",
    unicodedata.normalize("NFC", "été.txt"): b"nfc",
    unicodedata.normalize("NFD", "naïve Ŝ.txt"): b"nfd",
}


def utf8_tree(root: Path) -> dict:
    """Relative path (UTF-8 bytes as Wine wrote them) -> content, files only."""
    found = {}
    for folder, _, files in os.walk(os.fsencode(root)):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, os.fsencode(root)).replace(b"\\", b"/")] = f.read()
    return found


def meant_tree(files: dict) -> dict:
    return {name.encode("utf-8"): data for name, data in files.items()}


def write_utf8_source(folder: Path, files: dict) -> Path:
    for name, data in files.items():
        path = Path(os.fsdecode(os.fsencode(folder) + b"/" + name.encode("utf-8")))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return folder


def run_producer(kind: str, source: Path, archive: Path, files: dict) -> None:
    commands = {
        "infozip": ["zip", "-q", "-r", str(archive), "."],
        "7zip": ["7zz", "a", "-tzip", "-bd", str(archive), "."],
        "bsdtar": ["bsdtar", "-a", "-cf", str(archive), "."],
    }
    if kind == "python":
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in files.items():
                z.writestr(name, data)
    else:
        subprocess.run(commands[kind], cwd=source, check=True, capture_output=True, timeout=300)


def flag_unicode_names(exe: Path) -> Path:
    """Sets bit 11 on every non-ASCII name of a package built from a folder, as the builder's
    own Unicode names will carry it (the folder's names are UTF-8 already)."""
    image = ArchiveImage(exe)
    for entry in image.entries:
        if not entry.name.isascii():
            image.put_u16(entry.offset + 6, entry.flags | GP_UTF8)
    for entry in image.central:
        if not entry.name.isascii():
            flags, = struct.unpack_from("<H", image.data, entry.offset + 8)
            image.put_u16(entry.offset + 8, flags | GP_UTF8)
    image.fix_stub_crc()
    return image.save()


def unicode_package(bench, where: Path, kind: str, args: list) -> Path:
    source = write_utf8_source(where / "src", UNICODE_FILES)
    if kind == "folder":
        exe = bench.make_sfx(where, folder=source, args=[*args, "--codepage", "raw"])
        return flag_unicode_names(exe.path)
    archive = where / "in.zip"
    run_producer(kind, source, archive, UNICODE_FILES)
    return bench.make_sfx(where, zip=archive, args=[*args, "--codepage", "raw"]).path


PRODUCERS = ["infozip", "7zip", "python", "bsdtar", "folder"]


@pytest.mark.parametrize("kind", PRODUCERS)
def test_unicode_names_from_every_producer(bench, tmp_path, kind):
    out = tmp_path / "out"
    exe = unicode_package(bench, tmp_path, kind, hidden_args(out))
    expect_success(bench.start(exe))
    assert utf8_tree(out) == meant_tree(UNICODE_FILES)


# ---- other code pages --------------------------------------------------------------------------

LOCALES = {"japanese": "ja_JP.UTF-8", "russian": "ru_RU.UTF-8"}


@pytest.fixture(scope="module", params=sorted(LOCALES))
def foreign_session(request, wine_session):
    """A second prefix whose ANSI code page is 932 or 1251."""
    yield from locale_session(wine_session, request.param, LOCALES[request.param])


@pytest.mark.parametrize("kind", ["python", "folder"])
def test_unicode_names_on_other_code_pages(bench, foreign_session, tmp_path, kind):
    out = tmp_path / "out"
    exe = unicode_package(bench, tmp_path, kind, hidden_args(out))
    foreign = Bench(foreign_session, tmp_path)
    try:
        expect_success(foreign.start(exe))
    finally:
        foreign.close()
    assert utf8_tree(out) == meant_tree(UNICODE_FILES)


# ---- how a name is read -------------------------------------------------------------------------


def local_header(name: bytes, data: bytes, flags: int = 0, extra: bytes = b"") -> tuple:
    fields = struct.pack("<HHHHHIIIHH", 20, flags, 0, 0x6000, (41 << 9) | (6 << 5) | 15,
                         zlib.crc32(data), len(data), len(data), len(name), len(extra))
    return fields, name, extra, data


def zip_with_extras(entries: list) -> bytes:
    """Stored entries (fields, name, extra, data) with their extra fields in both headers."""
    out, central = bytearray(), bytearray()
    for fields, name, extra, data in entries:
        central += (b"PK\1\2" + struct.pack("<H", 20) + fields + struct.pack("<HHHII", 0, 0, 0, 0, len(out))
                    + name + extra)
        out += b"PK\3\4" + fields + name + extra + data
    count = len(entries)
    return bytes(out + central + b"PK\5\6" + struct.pack("<HHHHIIH", 0, 0, count, count, len(central),
                                                            len(out), 0))


def unicode_path_field(stored: bytes, name: str, crc: int | None = None) -> bytes:
    body = b"\1" + struct.pack("<I", zlib.crc32(stored) if crc is None else crc) + name.encode("utf-8")
    return struct.pack("<HH", 0x7075, len(body)) + body


def package_with_archive(bench, where: Path, archive: bytes, args: list) -> Path:
    """A package built from a stand-in archive whose archive is then replaced: the stub never
    reads the archive's own offsets, only the stub record's end record offset."""
    stand_in = where / "stand-in.zip"
    stand_in.write_bytes(raw_zip([RawEntry(b"stand-in.txt", b"s")]))
    image = ArchiveImage(bench.make_sfx(where, zip=stand_in, args=args).path)
    start = image["archive_offset"]
    image.data[start:] = archive
    image["end_record_offset"] = start + archive.rindex(b"PK\5\6")
    image.cut(len(image.data))  # fits the last section to the file, and the stub checksum
    return image.save()


# stored name bytes, flags, extra field, the name extracted (UTF-8 bytes)
NAME_READING = [
    ("flagged-utf8", "Ω-ström.txt".encode(), GP_UTF8, b"", "Ω-ström.txt".encode()),
    ("unicode-path-field", "Stroem.txt".encode(), 0, unicode_path_field(b"Stroem.txt", "Ström-Ж.txt"),
     "Ström-Ж.txt".encode()),
    # The field was written for another name (a tool renamed the entry): the stored name counts.
    ("stale-unicode-path-field", b"neu.txt", 0, unicode_path_field(b"alt.txt", "alt-Ж.txt"), b"neu.txt"),
    # Unflagged bytes are read in the system's ANSI code page (1252 here).
    ("ansi", "Straße.txt".encode("cp1252"), 0, b"", "Straße.txt".encode()),
]


def test_how_names_are_read(bench, tmp_path):
    out = tmp_path / "out"
    archive = zip_with_extras([local_header(stored, b"%d" % i, flags, extra)
                               for i, (_, stored, flags, extra, _) in enumerate(NAME_READING)])
    exe = package_with_archive(bench, tmp_path, archive, hidden_args(out))
    expect_success(bench.start(exe))
    assert utf8_tree(out) == {meant: b"%d" % i for i, (*_, meant) in enumerate(NAME_READING)}


DAMAGED_UTF8 = [
    ("overlong-slash", b"a\xc0\xaf.txt"),       # '/' in two bytes: would pass a separator check
    ("surrogate", b"b\xed\xa0\x80.txt"),
    ("truncated", b"c\xe2\x82.txt"),
    ("no-lead-byte", b"d\xf5\x80\x80\x80.txt"),
]


@pytest.mark.parametrize("stored", [row[1] for row in DAMAGED_UTF8], ids=[row[0] for row in DAMAGED_UTF8])
def test_damaged_utf8_name_makes_nothing(bench, tmp_path, stored):
    out = tmp_path / "out"
    archive = zip_with_extras([local_header(b"vorher.txt", b"1"), local_header(stored, b"x", GP_UTF8)])
    exe = package_with_archive(bench, tmp_path, archive, hidden_args(out))
    # The box shows the bytes as the ANSI code page reads them.
    expect_error(bench.start(exe), MSG_CREATE_OUTPUT.format(stored.decode("cp1252")))
    assert utf8_tree(out) == {b"vorher.txt": b"1"}


# ---- the target folder ---------------------------------------------------------------------------

FOLDER = "Łódź-Ψ-日本"


def test_folder_given_with_dir_switch(bench, tmp_path):
    target = tmp_path / FOLDER
    exe = unicode_package(bench, tmp_path, "python", hidden_args(tmp_path / "elsewhere"))
    expect_success(bench.start(exe, args=f'-dir="{winpath(target)}"'))
    assert utf8_tree(target) == meant_tree(UNICODE_FILES)
    assert not (tmp_path / "elsewhere").exists()


def test_folder_typed_in_the_dialog(bench, tmp_path):
    target = tmp_path / FOLDER
    exe = unicode_package(bench, tmp_path, "python", ["--folder", winpath(tmp_path / "vorgabe")])
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, winpath(target))
    assert dialog.live_text(FOLDER_FIELD) == winpath(target), "the field holds every character"
    dialog.click(IDOK)
    run.wait_message_box().click("OK")
    dialog.click(IDCANCEL)  # the dialog stays after an extraction: Close ends it
    assert run.wait_exit() == 0
    assert utf8_tree(target) == meant_tree(UNICODE_FILES)
    assert not (tmp_path / "vorgabe").exists()


def test_temporary_folder_outside_the_code_page(bench, tmp_path):
    temp = tmp_path / "Users" / "Łukasz" / "Temp"
    temp.mkdir(parents=True)
    exe = unicode_package(bench, tmp_path, "python", [])
    run = bench.start(exe, "-silent", env={"TEMP": winpath(temp), "TMP": winpath(temp)})
    assert run.wait_exit() == 0
    made = [p for p in temp.iterdir() if p.name.startswith("tvsfx-")]
    assert len(made) == 1, list(temp.iterdir())
    assert utf8_tree(made[0]) == meant_tree(UNICODE_FILES)


# ---- long paths ----------------------------------------------------------------------------------

# A tree of 96-character folders down to a path of 600 characters below the target folder.
DEEP_NAME = "/".join(f"{i}" + "d" * 95 for i in range(6)) + "/" + "f" * 14 + ".txt"
LONG_NAME = "n" * 251 + ".txt"  # 255 characters, the longest NTFS name


def test_long_paths_are_extracted_and_overwritten(bench, tmp_path):
    assert len(DEEP_NAME) == 600 and len(LONG_NAME) == 255
    folder = tmp_path / ("f" * 99) / ("g" * 99) / ("h" * 99)  # 300 characters of its own
    archive = zip_with_extras([local_header(DEEP_NAME.encode(), b"deep"),
                               local_header(LONG_NAME.encode(), b"long"),
                               local_header("Ж/".encode() * 40 + LONG_NAME.encode(), b"both", GP_UTF8)])
    # The package's own folder field takes 259 characters: the long folder comes with -dir=.
    exe = package_with_archive(bench, tmp_path, archive, [*hidden_args(tmp_path / "vorgabe"), "--overwrite"])
    switch = f'-dir="{winpath(folder)}"'
    expected = {DEEP_NAME.encode(): b"deep", LONG_NAME.encode(): b"long",
                "Ж/".encode() * 40 + LONG_NAME.encode(): b"both"}
    expect_success(bench.start(exe, switch))
    assert utf8_tree(folder) == expected

    # Again over the same files: each is replaced through a temporary file beside it, which
    # keeps the old file's attributes and leaves no temporary file behind.
    for name in expected:
        Path(os.fsdecode(os.fsencode(folder) + b"/" + name)).write_bytes(b"old")
    expect_success(bench.start(exe, switch))
    assert utf8_tree(folder) == expected


def name_of_length(length: int) -> str:
    """A name of length characters in components of at most 201."""
    parts = []
    while length > 201:
        parts.append("p" * 200)
        length -= 201
    return "/".join([*parts, "q" * length])


def test_path_over_32767_characters_is_refused(bench, tmp_path):
    """Folder, separator and name of 32,768 characters: refused before anything is made for
    the entry (message 28 with the name), the entries before it stay."""
    out = tmp_path / "out"
    name = name_of_length(32768 - len(winpath(out)) - 1)
    assert len(winpath(out)) + 1 + len(name) == 32768
    archive = zip_with_extras([local_header(b"vorher.txt", b"1"), local_header(name.encode(), b"x")])
    exe = package_with_archive(bench, tmp_path, archive, hidden_args(out))
    run = bench.start(exe)
    box = run.wait_message_box()
    # The box shows the start of the name; a line of 32,768 characters does not fit on screen.
    assert box.text.startswith(MSG_CREATE_OUTPUT.format(name[:2000])), box.text[:100]
    box.click("OK")
    assert run.wait_exit() == 2
    assert utf8_tree(out) == {b"vorher.txt": b"1"}


def test_long_paths_are_cleaned_up(bench, tmp_path):
    temp = tmp_path / "temp"
    temp.mkdir()
    echo_log = tmp_path / "echo.jsonl"
    echo = bench.testprog("argecho").read_bytes()
    archive = zip_with_extras([local_header(b"echo.exe", echo),
                               local_header(DEEP_NAME.encode(), b"deep"),
                               local_header(LONG_NAME.encode(), b"long")])
    exe = package_with_archive(bench, tmp_path, archive, ["--command", "echo.exe", "--cleanup"])
    env = {"TEMP": winpath(temp), "TMP": winpath(temp), "ARGECHO_LOG": winpath(echo_log)}
    run = bench.start(exe, "-silent", env=env)
    assert run.wait_exit(timeout=60) == 0
    assert echo_log.exists(), "the command ran"
    assert list(temp.iterdir()) == [], "the run's folder and everything in it are gone"
