"""Helpers of the extraction tests (test_extract.py, test_encryption.py, test_damage.py).

- Texts of the boxes the extraction shows.
- A corpus that makes the decoder and the pipeline work: text, binary, empty files, nested and
  empty folders, a file above the 64 KiB window and one above 1 MB (many 28,672-byte pieces).
- Archive makers: Info-ZIP zip, 7-Zip, Python's zipfile (also onto a non-seekable stream), and
  raw records for names and fields no tool writes. unzip extracts the reference tree.
- ArchiveImage: a built self-extractor read as the stub reads it (local headers front to back
  from archive_offset), to flip, patch, cut or insert bytes at named places.
- The traditional cipher's check byte, to pick passwords that pass or fail it for certain.
- Runs: hidden-mode extraction, the password dialog, error boxes.
"""

from __future__ import annotations

import io
import random
import struct
import subprocess
import time
import zipfile
import zlib
from dataclasses import dataclass
from pathlib import Path

from winebench import (BOX_CAPTION, DEFAULT_TIMEOUT, TIME_FACTOR, BenchError, MessageBox, Run,
                       StubFile, winpath)

# ---- texts -------------------------------------------------------------------------------------

MSG_NO_PASSWORD = "Kein Kennwort angegeben"
MSG_WRONG_PASSWORD = "Falsches Kennwort angegeben"
MSG_ASK_CANCEL = "Extrahieren abbrechen?"
MSG_ASK_OVERWRITE = "Datei {} existiert bereits. Überschreiben"
MSG_FILES_EXTRACTED = "{} Datei(en) erfolgreich extrahiert"
MSG_CREATE_OUTPUT = "Ausgabedatei konnte nicht erstellt werden: {}"
MSG_UNSUPPORTED_METHOD = "Nicht unterstützte Kompressionsmethode"
MSG_CREATE_FOLDER = '"{}" konnte nicht erstellt werden - Extrahieren abgebrochen.'
MSG_BAD_CRC = ("ZIP-Archiv beschädigt: Datei {}: Fehlerhafter CRC. "
               "Mögliche Ursache: Dateiübertragungsfehler.")
MSG_BAD_HEADER = "Ungültiger Header im Archiv. Mögliche Ursache: Dateiübertragungsfehler."
MSG_READ_FAILED = ("Fehler beim Lesen von {}. Mögliche Ursache: Fehlerhafter Datenträger "
                   "oder Dateiübertragungsfehler. <{}>")
MSG_INVALID_DRIVE = "Laufwerk {} ist ungültig, Extrahieren abgebrochen."
MSG_NAMES_TOO_LONG = ("Das Archiv enthält Dateien, deren Namen die in Windows\nzulässige Länge "
                      "überschreiten, und kann daher\nvom Tarvel Self-Extractor nicht "
                      "verarbeitet werden.")

PASSWORD_CAPTION = "Tarvel Self-Extractor - Kennwort"
PASSWORD_EDIT = 402
STATUS_LINE = 109
FOLDER_FIELD = 106
OVERWRITE_BOX = 102
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
BS_DEFPUSHBUTTON = 1

# ---- corpus ------------------------------------------------------------------------------------

# Even seconds (DOS times have 2-second steps), one per file so a mix-up of times shows.
# Names are ASCII: tools disagree on the code page of other names (see the cp1252 test).
BASE_TIME = time.mktime((2019, 3, 14, 15, 9, 26, 0, 0, -1))


def _prose(rng: random.Random, size: int) -> bytes:
    words = ("Ordner Datei Archiv entpacken Fenster Kennwort Laufwerk Pfad Größe Fehler "
             "the of window stream block literal length distance code table bit").split()
    out = []
    length = 0
    while length < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randrange(3, 14))) + "\r\n"
        out.append(line)
        length += len(line.encode("utf-8"))
    return "".join(out).encode("utf-8")[:size]


def _far_repeats(rng: random.Random, size: int) -> bytes:
    """Random blocks that come back 40-60 KiB later: matches beyond Deflate's 32 KiB reach,
    which only Deflate64 can take, and copies across the window's wrap."""
    blocks = [rng.randbytes(4096) for _ in range(12)]
    out = bytearray()
    while len(out) < size:
        out += blocks[len(out) // 4096 % len(blocks)]
        if rng.random() < 0.3:
            out += _prose(rng, 700)
    return bytes(out[:size])


def _mixed(rng: random.Random, size: int) -> bytes:
    """Text, random bytes and zero runs in turn: stored, fixed and dynamic blocks alike."""
    out = bytearray()
    while len(out) < size:
        kind = rng.randrange(3)
        if kind == 0:
            out += _prose(rng, rng.randrange(2000, 40000))
        elif kind == 1:
            out += rng.randbytes(rng.randrange(500, 30000))
        else:
            out += bytes(rng.randrange(100, 70000))
    return bytes(out[:size])


def corpus_files(seed: int = 1951) -> dict:
    """{name: (content, mtime)} for write_tree; "name/" is a folder. About 1.6 MB."""
    rng = random.Random(seed)
    contents = {
        "liesmich.txt": _prose(rng, 5000),
        "leer.txt": b"",
        "bin/zufall.bin": rng.randbytes(3001),
        "bin/null.bin": bytes(100_000),
        "bin/ein byte.dat": b"\xff",
        "tief/a/b/c/notiz.txt": _prose(rng, 300),
        "tief/a/b/leer.dat": b"",
        "gross/fenster.bin": _far_repeats(rng, 70_000),
        "gross/megabyte.bin": _mixed(rng, 1_300_000),
    }
    files = {name: (data, BASE_TIME + 2 * i * 3607)
             for i, (name, data) in enumerate(contents.items())}
    files["leerer ordner/"] = None
    files["tief/a/leer/"] = None
    return files


def long_name(length: int) -> str:
    """A relative name of exactly length characters: folders of 99 characters (no Unix name
    gets too long) made of words (so that a message box can wrap it on the screen)."""
    parts = []
    while length > 0:
        take = min(99, length) if length != 100 else 98  # never leave a lone "/" behind
        parts.append(("wort " * 20)[:take - 1] + "x")
        length -= take + 1
    return "/".join(parts)


def tree_names(root: Path) -> set:
    return {p.relative_to(root).as_posix() + ("/" if p.is_dir() else "") for p in root.rglob("*")}


# ---- the shared name table ----------------------------------------------------------------------

NAME_TABLE = Path(__file__).resolve().parents[1] / "data" / "entry_names.tsv"


def name_table_rows(codepage: str, *verdicts: str) -> list:
    """Rows of tests/data/entry_names.tsv for a code page ("1252", "932") and verdicts:
    (raw name bytes, verdict, extracted path or "-")."""
    rows = []
    for line in NAME_TABLE.read_text(encoding="utf-8").splitlines():
        if not line or line.startswith("#"):
            continue
        name, page, verdict, extracted = line.split("\t")
        if page == codepage and verdict in verdicts:
            raw = name.encode("ascii").decode("unicode_escape").encode("latin-1")
            rows.append((raw, verdict, extracted))
    return rows


# ---- archive makers ----------------------------------------------------------------------------


def run_tool(command: list, cwd: Path | None = None) -> None:
    result = subprocess.run(command, cwd=cwd, capture_output=True, timeout=300)
    if result.returncode != 0:
        raise RuntimeError(f"{command} failed: {result.stderr.decode(errors='replace')}")


def infozip(source: Path, archive: Path, *options: str) -> Path:
    """Info-ZIP zip of the whole folder (names relative to it, folders included)."""
    run_tool(["zip", "-q", "-r", *options, str(archive), "."], cwd=source)
    return archive


def infozip_streamed(source: Path, archive: Path, *options: str) -> Path:
    """Info-ZIP zip onto a pipe: it cannot seek back, so every file entry gets bit 3 (and an
    encrypted one the time's high byte as its check byte)."""
    with subprocess.Popen(["zip", "-q", "-r", *options, "-", "."], cwd=source,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE) as zip_process:
        data, errors = zip_process.communicate(timeout=300)
    if zip_process.returncode != 0:
        raise RuntimeError(f"zip to a pipe failed: {errors.decode(errors='replace')}")
    archive.write_bytes(data)
    return archive


def bsdtar_aes(source: Path, archive: Path, password: str) -> Path:
    """An AES-256 ZIP of source's top-level files by bsdtar (libarchive)."""
    names = sorted(p.name for p in source.iterdir())
    run_tool(["bsdtar", "-c", "--format", "zip", "--options", "zip:encryption=aes256",
              "--passphrase", password, "-f", str(archive), *names], cwd=source)
    return archive


def sevenzip(source: Path, archive: Path, *options: str) -> Path:
    run_tool(["7zz", "a", "-tzip", "-bd", *options, str(archive), "."], cwd=source)
    return archive


class _NonSeekable(io.RawIOBase):
    """A write-only stream that cannot tell or seek, as a pipe."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, chunk):
        self.data += chunk
        return len(chunk)


def pyzip(source: Path, archive: Path, method: int, streamed: bool = False) -> Path:
    """Python's zipfile over the folder. streamed: written to a non-seekable stream, which
    gives bit 3 and zero sizes in every local header."""
    sink = _NonSeekable() if streamed else open(archive, "wb")
    with zipfile.ZipFile(sink, "w", compression=method) as out:
        for path in sorted(source.rglob("*")):
            name = path.relative_to(source).as_posix()
            info = zipfile.ZipInfo.from_file(path, name)
            info.compress_type = method
            if path.is_dir():
                info.CRC = info.compress_size = info.file_size = 0
                out.mkdir(info)
            else:
                out.writestr(info, path.read_bytes())
    if streamed:
        archive.write_bytes(bytes(sink.data))
    else:
        sink.close()
    return archive


def unzip_reference(archive: Path, target: Path, password: str | None = None) -> Path:
    """What Info-ZIP unzip extracts: the tree every self-extractor run is compared with."""
    command = ["unzip", "-q", "-o"]
    if password is not None:
        command += ["-P", password]
    run_tool([*command, str(archive), "-d", str(target)])
    return target


def zip_methods(archive: Path) -> set:
    with zipfile.ZipFile(archive) as z:
        return {info.compress_type for info in z.infolist() if not info.is_dir()}


@dataclass
class RawEntry:
    """One entry as it will stand in the archive: raw name bytes, raw data (already
    compressed and/or encrypted), fields as given."""

    name: bytes
    data: bytes = b""
    method: int = 0
    flags: int = 0
    crc: int | None = None          # None: CRC-32 of data
    uncompressed: int | None = None  # None: len(data)
    mod_time: int = 0x6000           # 12:00:00
    mod_date: int = (41 << 9) | (6 << 5) | 15  # 2021-06-15


def raw_zip(entries: list) -> bytes:
    """An archive of local headers, central directory and end record, field by field."""
    out = bytearray()
    central = bytearray()
    for e in entries:
        crc = zlib.crc32(e.data) if e.crc is None else e.crc
        size = len(e.data) if e.uncompressed is None else e.uncompressed
        fields = struct.pack("<HHHHHIIIHH", 20, e.flags, e.method, e.mod_time, e.mod_date, crc,
                             len(e.data), size, len(e.name), 0)
        central += (b"PK\1\2" + struct.pack("<H", 20) + fields
                    + struct.pack("<HHHII", 0, 0, 0, 0, len(out)) + e.name)
        out += b"PK\3\4" + fields + e.name + e.data
    count = len(entries)
    end = b"PK\5\6" + struct.pack("<HHHHIIH", 0, 0, count, count, len(central), len(out), 0)
    return bytes(out + central + end)


# ---- the archive inside a built self-extractor ----------------------------------------------


@dataclass
class LocalEntry:
    offset: int          # of the local header signature
    flags: int
    method: int
    mod_time: int
    mod_date: int
    crc: int
    compressed: int
    uncompressed: int
    name: bytes
    data_offset: int     # first byte after name and extra field
    end: int             # first byte after the data (and the descriptor)

    @property
    def field_offsets(self) -> dict:
        return {"flags": self.offset + 6, "method": self.offset + 8, "mod_time": self.offset + 10,
                "mod_date": self.offset + 12, "name_length": self.offset + 26,
                "name": self.offset + 30}


@dataclass
class CentralEntry:
    offset: int
    name: bytes
    end: int


class ArchiveImage(StubFile):
    """A self-extractor whose archive is walked as the stub walks it: local headers from
    archive_offset, then the central directory and the end record. Offsets are absolute."""

    def __init__(self, path):
        super().__init__(path)
        self.entries: list[LocalEntry] = []
        self.central: list[CentralEntry] = []
        self.end_record = -1
        self._walk()

    def _walk(self) -> None:
        at = self["archive_offset"]
        data = self.data
        while data[at:at + 4] == b"PK\3\4":
            flags, method, mtime, mdate, crc, csize, usize, nlen, elen = struct.unpack_from(
                "<HHHHIIIHH", data, at + 6)
            data_offset = at + 30 + nlen + elen
            end = data_offset + csize + (16 if flags & 8 else 0)
            self.entries.append(LocalEntry(at, flags, method, mtime, mdate, crc, csize, usize,
                                           bytes(data[at + 30:at + 30 + nlen]), data_offset, end))
            at = end
        while data[at:at + 4] == b"PK\1\2":
            nlen, elen, clen = struct.unpack_from("<HHH", data, at + 28)
            end = at + 46 + nlen + elen + clen
            self.central.append(CentralEntry(at, bytes(data[at + 46:at + 46 + nlen]), end))
            at = end
        if data[at:at + 4] != b"PK\5\6":
            raise AssertionError(f"{self.path}: no end record where the walk ends ({at:#x})")
        self.end_record = at

    def entry(self, name: str) -> LocalEntry:
        for e in self.entries:
            if e.name == name.encode("cp1252"):
                return e
        raise KeyError(name)

    def put_u16(self, offset: int, value: int) -> None:
        struct.pack_into("<H", self.data, offset, value)

    def insert(self, offset: int, chunk: bytes) -> None:
        """Inserts bytes inside the archive. The stub never reads the archive's own offsets, so
        only the stub record's end_record_offset needs to follow (and with it the stub CRC)."""
        self.data[offset:offset] = chunk
        if self["end_record_offset"] >= offset:
            self["end_record_offset"] += len(chunk)
            self.fix_stub_crc()
        self._fit_last_section()

    def cut(self, length: int) -> None:
        """Ends the file at length, inside the archive."""
        self.truncate(length)
        self._fit_last_section()

    def _fit_last_section(self) -> None:
        """The archive lies in the image's last section, whose raw size must match the file, or
        Windows (and Wine) refuse to load the program. The section table is covered by the
        stub checksum, so that follows."""
        pe = self.e_lfanew
        sections, = struct.unpack_from("<H", self.data, pe + 6)
        optional_size, = struct.unpack_from("<H", self.data, pe + 20)
        last = pe + 24 + optional_size + 40 * (sections - 1)
        raw_offset, = struct.unpack_from("<I", self.data, last + 20)
        struct.pack_into("<I", self.data, last + 16, len(self.data) - raw_offset)
        self.fix_stub_crc()

    def skip_end_check(self) -> None:
        """end_record_offset 0: start-up does not look for the end record, so a file cut short
        starts and fails only where the walk meets the cut."""
        self["end_record_offset"] = 0
        self.fix_stub_crc()


# ---- traditional ZIP encryption ---------------------------------------------------------------


def _crc_step(crc: int, byte: int) -> int:
    return zlib.crc32(bytes([byte]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


def zipcrypto_check_byte(password: bytes, header: bytes) -> int:
    """The 12th plain byte of an encryption header under password: the byte the stub compares
    with the entry's check byte."""
    k0, k1, k2 = 305419896, 591751049, 878082192

    def update(plain: int) -> None:
        nonlocal k0, k1, k2
        k0 = _crc_step(k0, plain)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = _crc_step(k2, k1 >> 24)

    for c in password:
        update(c)
    plain = 0
    for c in header[:12]:
        t = (k2 & 0xFFFF) | 2
        plain = c ^ (((t * (t ^ 1)) >> 8) & 0xFF)
        update(plain)
    return plain


def expected_check_byte(entry: LocalEntry) -> int:
    return entry.mod_time >> 8 if entry.flags & 8 else entry.crc >> 24


def passes_check(image: ArchiveImage, entry: LocalEntry, password: str) -> bool:
    header = bytes(image.data[entry.data_offset:entry.data_offset + 12])
    return zipcrypto_check_byte(password.encode("cp1252"), header) == expected_check_byte(entry)


def password_that(image: ArchiveImage, entry: LocalEntry, passes: bool, length: int = 8) -> str:
    """A password of the given length (at least 7) that passes, or fails, the one-byte check
    of entry: chosen here so that a test never depends on the 1-in-256 chance."""
    for n in range(100_000):
        candidate = (f"K{n}-" + "geheimnisvoll" * 8)[:length]
        if passes_check(image, entry, candidate) == passes:
            return candidate
    raise AssertionError("no such password")


# ---- runs --------------------------------------------------------------------------------------


def answer_password(run: Run, password: str, timeout: float = DEFAULT_TIMEOUT) -> None:
    dialog = run.wait_window(caption=PASSWORD_CAPTION, timeout=timeout)
    dialog.settext(PASSWORD_EDIT, password)
    dialog.click(IDOK)
    dialog.wait_gone()


def expect_error(run: Run, text: str, timeout: float = 30.0 * TIME_FACTOR) -> MessageBox:
    """The run ends with an error box of this text; it is confirmed and the program exits 2."""
    box = run.wait_message_box(timeout=timeout)
    assert (box.text, box.caption, box.icon) == (text, BOX_CAPTION, "error"), box.summary()
    assert box.button_ids == [IDOK]
    box.click("OK")
    assert run.wait_exit(timeout) == 2
    return box


def expect_success(run: Run, timeout: float = 60.0 * TIME_FACTOR) -> None:
    """A hidden or automatic run ends by itself with exit code 0. A message box (an error, or
    a question nobody answers) fails the test as soon as it shows."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            assert run.wait_exit(1.0) == 0
            return
        except BenchError:
            boxes = [w for w in run.windows() if isinstance(w, MessageBox)]
            if boxes or time.monotonic() > deadline:
                raise BenchError("the run did not end by itself:\n"
                                 + "\n".join(w.summary() for w in boxes or run.windows()))


def hidden_args(target: Path) -> list:
    """Builder arguments of a hidden-mode self-extractor that extracts into target."""
    return ["--hidden", "--folder", winpath(target)]
