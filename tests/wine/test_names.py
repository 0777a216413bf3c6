"""Entry names and times as their makers meant them.

- Archives of real producers (Info-ZIP zip, 7-Zip with and without -mcu=on, Python, bsdtar,
  jar) and hand-made ones where no producer runs here (Explorer-style code page 437, a German
  Windows zip program's code page 850, a macOS archive with decomposed names and __MACOSX/),
  each built once and extracted under Wine with TZ=Europe/Berlin: the extracted names are the
  Unicode names meant, the bytes and the summer and winter times those unzip gives; unzip,
  7-Zip and bsdtar list the built .exe with the Unicode names.
- Exact times: real producers' 0x5455/0x000A fields from other zones, malformed fields, a
  folder built in Berlin extracted in New York (with and without SOURCE_DATE_EPOCH), and
  DOS times alone around Berlin's clock changes (the autumn hour that repeats, the spring
  hour that never happened).
- The shared name table (tests/data/entry_names.tsv): names the stub refuses (devices, file
  streams) end the run with message 28 and nothing made for them; the names it accepts land
  where the table says.
- A Japanese name: refused for code page 1252, right under a Wine prefix whose ANSI code page
  is 932 when built with --codepage CP932, also the byte that is a superscript device number
  in code page 1252.
- What other ZIP readers read: the older Unix time fields (0x5855 as macOS tools write it,
  PKWARE's 0x000D) from a maker in Los Angeles extracted in Berlin; files dated 2038, 2050
  and 2107 from zip 3.0 and from hand-made fields cut to 32 bits; an archive behind a launcher
  script; Shift-JIS names from Info-ZIP's NTFS host (11), refused as CP437 and right as CP932.
"""

from __future__ import annotations

import os
import struct
import subprocess
import unicodedata
import zipfile
from datetime import datetime
from pathlib import Path
from zoneinfo import ZoneInfo

import pytest

from extractkit import (
    MSG_CREATE_OUTPUT, ArchiveImage, RawEntry, expect_error, expect_success, hidden_args,
    name_table_rows, raw_zip, tree_names,
)
from winebench import BUILD, Bench, locale_session

BERLIN = "Europe/Berlin"


def berlin_time(*fields) -> float:
    return datetime(*fields, tzinfo=ZoneInfo(BERLIN)).timestamp()


# Even seconds: DOS times have 2-second steps. Summer (UTC+2) and winter (UTC+1) dates.
SUMMER = berlin_time(2021, 6, 15, 14, 30, 10)
WINTER = berlin_time(2021, 1, 15, 9, 15, 20)

# Names every producer and code page here can hold: code pages 437, 850 and 1252 share them.
BASE_FILES = {
    "Büro/Übersicht.txt": (b"Sommer\r\n", SUMMER),
    "Käse & Brötchen.txt": (b"Winter\r\n", WINTER),
    "Straße/Café/Menü.txt": (bytes(range(256)) * 40, SUMMER),
}


# A legacy Unix system: file names in Latin-1, which zip and bsdtar store as they are, without
# the UTF-8 flag, made on Unix (scripts/install-deps.sh generates the locale).
LATIN1_LOCALE = "de_DE.ISO-8859-1"


def write_source(folder: Path, files: dict, normal_form: str = "NFC", encoding: str = "utf-8") -> Path:
    for name, (data, mtime) in files.items():
        path = Path(os.fsdecode(folder)) / os.fsdecode(unicodedata.normalize(normal_form, name).encode(encoding))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        os.utime(path, (mtime, mtime))
    return folder


def in_berlin(command: list, cwd: Path, env: dict | None = None) -> None:
    """Producers write DOS times in their local time."""
    result = subprocess.run(command, cwd=cwd, capture_output=True, timeout=300,
                            env={**os.environ, "TZ": BERLIN, **(env or {})})
    if result.returncode != 0:
        raise RuntimeError(f"{command} failed: {result.stderr.decode(errors='replace')}")


def dos_fields(mtime: float) -> tuple:
    t = datetime.fromtimestamp(mtime, ZoneInfo(BERLIN))
    return ((t.hour << 11) | (t.minute << 5) | (t.second // 2),
            ((t.year - 1980) << 9) | (t.month << 5) | t.day)


def hand_made(files: dict, codepage: str) -> bytes:
    """What a Windows zip program writes: names in an OEM code page, no UTF-8 flag, made on
    host 0 (MS-DOS), DOS times in local time."""
    entries = []
    for name, (data, mtime) in files.items():
        mod_time, mod_date = dos_fields(mtime)
        entries.append(RawEntry(name.encode(codepage), data, mod_time=mod_time, mod_date=mod_date))
    return raw_zip(entries)


def python_zip(archive: Path, files: dict, normal_form: str = "NFC", macos: bool = False) -> None:
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for name, (data, mtime) in files.items():
            stamp = datetime.fromtimestamp(mtime, ZoneInfo(BERLIN)).timetuple()[:6]
            z.writestr(zipfile.ZipInfo(unicodedata.normalize(normal_form, name), stamp), data)
            if macos:
                folder, _, leaf = name.rpartition("/")
                companion = "__MACOSX/" + (folder + "/" if folder else "") + "._" + leaf
                z.writestr(zipfile.ZipInfo(unicodedata.normalize(normal_form, companion), stamp),
                           b"\0\5\26\7" + bytes(80))


def make_archive(kind: str, source: Path, archive: Path, files: dict) -> None:
    producers = {
        "infozip": ["zip", "-q", "-r", str(archive), "."],
        "7zip": ["7zz", "a", "-tzip", "-bd", str(archive), "."],
        "7zip-mcu": ["7zz", "a", "-tzip", "-bd", "-mcu=on", str(archive), "."],
        "bsdtar": ["bsdtar", "-a", "-cf", str(archive), "."],
        "jar": ["jar", "cfM", str(archive), "."],
    }
    if kind.endswith("-latin1"):
        in_berlin(producers[kind.removesuffix("-latin1")], source, {"LC_ALL": LATIN1_LOCALE})
    elif kind in producers:
        in_berlin(producers[kind], source)
    elif kind == "python":
        python_zip(archive, files)
    elif kind == "macos-nfd":
        python_zip(archive, files, "NFD", macos=True)
    elif kind == "explorer-cp437":
        archive.write_bytes(hand_made(files, "cp437"))
    elif kind == "windows-cp850":
        archive.write_bytes(hand_made(files, "cp850"))


# id, extra files, builder arguments
PRODUCERS = [
    ("infozip", {}, []),
    ("7zip", {}, []),
    ("7zip-mcu", {}, []),
    ("python", {}, []),
    ("bsdtar", {}, []),
    ("jar", {}, []),
    # Made on Unix, Latin-1 bytes: read in the target code page, so they stand as they are.
    ("infozip-latin1", {}, []),
    ("bsdtar-latin1", {}, []),
    ("explorer-cp437", {}, []),
    # Ø is 0x9D in code page 850 and the yen sign in 437: only the right code page gets it.
    ("windows-cp850", {"Ørsted.txt": (b"850", WINTER)}, ["--input-codepage", "CP850"]),
    ("macos-nfd", {}, []),
]


# 7-Zip on Linux turns a file's time into a DOS time with today's offset from UTC, so in
# December a June file's DOS time is an hour early (and in June a January file's an hour
# late); unzip takes that DOS time, the stub the NTFS times field 7-Zip also writes (in its
# central directory only; the builder copies it into the local header): the true moment.
NTFS_TIME_PRODUCERS = {"7zip", "7zip-mcu"}


def listed_names(command: list) -> set:
    out = subprocess.run(command, capture_output=True, check=True, timeout=60).stdout.decode()
    return {line.removeprefix("./") for line in out.splitlines() if line and not line.endswith("/")}


def sevenzip_names(exe: Path) -> set:
    out = subprocess.run(["7zz", "l", "-tzip", "-slt", str(exe)], capture_output=True, check=True,
                         timeout=60).stdout.decode()
    names, path = set(), None
    for line in out.splitlines():
        if line.startswith("Path = "):
            path = line[7:].removeprefix("./")
        elif line.startswith("Folder = ") and path is not None:
            if line.endswith("-"):
                names.add(path)
            path = None
    names.discard(str(exe))
    return names


def extract_in_japanese_windows(japanese_session, where: Path, exe: Path) -> None:
    """Runs a hidden package to success in the prefix whose ANSI code page is 932."""
    japanese = Bench(japanese_session, where)
    try:
        expect_success(japanese.start(exe, env={"TZ": BERLIN}))
    finally:
        japanese.close()


def file_tree(root: Path) -> dict:
    return {p.relative_to(root).as_posix(): p for p in root.rglob("*") if p.is_file()}


@pytest.mark.parametrize("kind, extra, args", PRODUCERS,
                         ids=[case[0] for case in PRODUCERS])
def test_producer_names_bytes_and_times(bench, tmp_path, kind, extra, args):
    files = {**BASE_FILES, **extra}
    if kind.endswith("-latin1") and "de_DE.iso88591" not in subprocess.run(
            ["locale", "-a"], capture_output=True, text=True).stdout.split():
        pytest.skip(f"the {LATIN1_LOCALE} locale is missing (scripts/install-deps.sh generates it)")
    source = write_source(tmp_path / "src", files, encoding="latin-1" if kind.endswith("-latin1") else "utf-8")
    archive = tmp_path / "in.zip"
    make_archive(kind, source, archive, files)
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=[*hidden_args(out), *args])

    # Other ZIP tools read the Unicode Path field of every converted name.
    meant = set(files)
    assert listed_names(["unzip", "-Z1", str(exe.path)]) == meant
    assert sevenzip_names(exe) == meant
    assert listed_names(["bsdtar", "-tf", str(exe.path)]) == meant

    expect_success(bench.start(exe, env={"TZ": BERLIN}))
    reference = tmp_path / "unzip"
    in_berlin(["unzip", "-q", str(exe), "-d", str(reference)], tmp_path)
    extracted = file_tree(out)
    assert set(extracted) == meant, "names as the producer meant them, no macOS metadata"
    for name, (data, mtime) in files.items():
        assert extracted[name].read_bytes() == data, name
        if kind not in NTFS_TIME_PRODUCERS:
            assert extracted[name].stat().st_mtime == (reference / name).stat().st_mtime, name
        assert extracted[name].stat().st_mtime == mtime, name


# ---- exact file times -------------------------------------------------------------------------

TIME_FILES = {"sommer.txt": (b"S", SUMMER), "winter.txt": (b"W", WINTER)}


def unix_time_field(mtime: float, size: int = 5) -> bytes:
    """An extended timestamp (0x5455) with the modification time; a smaller size cuts it."""
    return (struct.pack("<HHB", 0x5455, size, 1) + struct.pack("<i", int(mtime)))[:4 + size]


def ntfs_field(mtime: float, tag: int = 1) -> bytes:
    ticks = int(mtime * 10_000_000) + 116444736000000000
    return struct.pack("<HHIHHQQQ", 0x000A, 32, 0, tag, 24, ticks, ticks, ticks)


def python_with_fields(archive: Path, files: dict, zone: str, field) -> None:
    """Python zipfile with DOS times of `zone` and the extra field `field(mtime)`."""
    with zipfile.ZipFile(archive, "w") as z:
        for name, (data, mtime) in files.items():
            info = zipfile.ZipInfo(name, datetime.fromtimestamp(mtime, ZoneInfo(zone)).timetuple()[:6])
            info.extra = field(mtime)
            z.writestr(info, data)


# id, how the archive is made, the zone the package is extracted in, the time each file must get
# (None: the true moment). Makers in another zone than the user's: only the exact field tells.
TIME_CASES = [
    ("python-5455-utc-dos", lambda a, f: python_with_fields(a, f, "UTC", unix_time_field), BERLIN, None),
    ("infozip-in-utc", "infozip-utc", BERLIN, None),
    ("7zip-ntfs", "7zip", "America/New_York", None),
    # Malformed fields are not trusted: the DOS time (here Berlin's) counts.
    ("short-5455", lambda a, f: python_with_fields(a, f, BERLIN, lambda m: unix_time_field(m + 7200, 3)),
     BERLIN, None),
    ("ntfs-wrong-tag", lambda a, f: python_with_fields(a, f, BERLIN, lambda m: ntfs_field(m + 7200, tag=2)),
     BERLIN, None),
]


@pytest.mark.parametrize("kind, maker, zone, expected", TIME_CASES, ids=[c[0] for c in TIME_CASES])
def test_exact_file_times(bench, tmp_path, kind, maker, zone, expected):
    source = write_source(tmp_path / "src", TIME_FILES)
    out = tmp_path / "out"
    if maker == "folder":
        exe = bench.make_sfx(tmp_path, folder=source, args=hidden_args(out))
    else:
        archive = tmp_path / "in.zip"
        if maker == "infozip-utc":
            in_berlin(["zip", "-q", "-r", str(archive), "."], source, {"TZ": "UTC"})
        elif maker == "7zip":
            in_berlin(["7zz", "a", "-tzip", "-bd", str(archive), "."], source)
        else:
            maker(archive, TIME_FILES)
        exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    expect_success(bench.start(exe, env={"TZ": zone}))
    for name, (_, mtime) in TIME_FILES.items():
        assert (out / name).stat().st_mtime == (mtime if expected is None else expected), name


# DOS times alone around Berlin's clock changes (Python's zipfile writes no exact field). In the
# autumn overlap (02:00-03:00 happens twice) the later, standard-time reading counts; the
# minutes around it keep their one reading. A time in the spring gap (02:00-03:00 never
# happens) gets one of its two readings: Windows takes standard time, Wine daylight time.
def utc_time(*fields):
    return datetime(*fields, tzinfo=ZoneInfo("UTC")).timestamp()


DST_CASES = [
    # id, local DOS time in Berlin, the UTC moment the file must get (or a set of them)
    ("autumn-before", (2024, 10, 27, 1, 30, 0), utc_time(2024, 10, 26, 23, 30)),
    ("autumn-overlap", (2024, 10, 27, 2, 30, 0), utc_time(2024, 10, 27, 1, 30)),
    ("autumn-overlap-end", (2024, 10, 27, 2, 59, 58), utc_time(2024, 10, 27, 1, 59, 58)),
    ("autumn-after", (2024, 10, 27, 3, 0, 0), utc_time(2024, 10, 27, 2, 0)),
    ("spring-before", (2024, 3, 31, 1, 59, 58), utc_time(2024, 3, 31, 0, 59, 58)),
    ("spring-gap", (2024, 3, 31, 2, 30, 0), {utc_time(2024, 3, 31, 1, 30), utc_time(2024, 3, 31, 0, 30)}),
    ("spring-after", (2024, 3, 31, 3, 0, 0), utc_time(2024, 3, 31, 1, 0)),
]


def test_dos_times_around_clock_changes(bench, tmp_path):
    archive = tmp_path / "in.zip"
    with zipfile.ZipFile(archive, "w") as z:
        for name, fields, _ in DST_CASES:
            z.writestr(zipfile.ZipInfo(f"{name}.txt", fields), name)
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    expect_success(bench.start(exe, env={"TZ": BERLIN}))
    got = {name: (out / f"{name}.txt").stat().st_mtime for name, _, _ in DST_CASES}
    wrong = {name: (got[name], meant) for name, _, meant in DST_CASES
             if got[name] not in (meant if isinstance(meant, set) else {meant})}
    assert not wrong


# A folder's files carry their true moment to the second (extended timestamp): built in Berlin,
# extracted in New York, odd seconds and all; SOURCE_DATE_EPOCH caps the times after it.
FOLDER_TIMES = {"sommer.txt": (b"S", SUMMER + 1), "winter.txt": (b"W", WINTER + 3)}
SOURCE_DATE = int(berlin_time(2021, 3, 1, 12, 0, 1))


@pytest.mark.parametrize("source_date", [None, SOURCE_DATE], ids=["own-time", "source-date-epoch"])
def test_folder_times_are_exact_in_another_zone(bench, tmp_path, monkeypatch, source_date):
    source = write_source(tmp_path / "src", FOLDER_TIMES)
    out = tmp_path / "out"
    with monkeypatch.context() as builder_env:
        builder_env.setenv("TZ", BERLIN)
        if source_date is not None:
            builder_env.setenv("SOURCE_DATE_EPOCH", str(source_date))
        exe = bench.make_sfx(tmp_path, folder=source, args=hidden_args(out))
    expect_success(bench.start(exe, env={"TZ": "America/New_York"}))
    for name, (_, mtime) in FOLDER_TIMES.items():
        wanted = mtime if source_date is None else min(mtime, source_date)
        assert (out / name).stat().st_mtime == wanted, name


# ---- the shared name table ---------------------------------------------------------------------


def patched_sfx(bench, where: Path, name: bytes, args: list) -> Path:
    """A self-extractor whose second entry has a name the builder refuses: it is built with a
    stand-in name of the same length, which is then replaced in both headers."""
    stand_in = b"p" * len(name)
    archive = where / "raw.zip"
    archive.write_bytes(raw_zip([RawEntry(b"vorher.txt", b"1"), RawEntry(stand_in, b"boese")]))
    exe = bench.make_sfx(where, zip=archive, args=args)
    image = ArchiveImage(exe.path)
    for entries, header_size in ((image.entries, 30), (image.central, 46)):
        for entry in entries:
            if entry.name == stand_in:
                image.data[entry.offset + header_size:entry.offset + header_size + len(name)] = name
    return image.save()


REFUSED_ROWS = name_table_rows("1252", "device", "stream")


@pytest.mark.parametrize("name", [row[0] for row in REFUSED_ROWS],
                         ids=[row[0].decode("cp1252") for row in REFUSED_ROWS])
def test_device_and_stream_names_are_refused(bench, tmp_path, name):
    box = tmp_path / "box"
    out = box / "out"
    exe = patched_sfx(bench, tmp_path, name, hidden_args(out))
    expect_error(bench.start(exe), MSG_CREATE_OUTPUT.format(name.decode("cp1252")))
    assert tree_names(box) == {"out/", "out/vorher.txt"}


def test_table_names_the_stub_accepts_land_inside(bench, tmp_path):
    rows = name_table_rows("1252", "ok")
    out = tmp_path / "out"
    archive = tmp_path / "ok.zip"
    archive.write_bytes(raw_zip([RawEntry(raw, b"" if raw.endswith(b"/") else raw) for raw, _, _ in rows]))
    # Bytes as the stub reads them: no conversion.
    exe = bench.make_sfx(tmp_path, zip=archive, args=[*hidden_args(out), "--codepage", "raw"])
    expect_success(bench.start(exe))
    assert {extracted for _, _, extracted in rows} <= tree_names(out)
    for raw, _, extracted in rows:
        if not extracted.endswith("/"):
            assert (out / extracted).read_bytes() == raw


# ---- a Japanese system -------------------------------------------------------------------------

JAPANESE_FILES = {
    "ポート/表.txt": (b"hyou", SUMMER),          # 0x95 0x5C: a trail byte equal to '\'
    "ポート/ソフト/説明書.txt": (b"setsumei", WINTER),
    # 0xB9 in code page 932: a superscript one in code page 1252 ("COM¹" is a device), here
    # a katakana, so the stub, asking the system's code page, makes the file.
    "COMｹ.txt": (b"ke", SUMMER),
}


@pytest.fixture(scope="module")
def japanese_session(wine_session):
    """A second prefix whose ANSI code page is 932."""
    yield from locale_session(wine_session, "ja", "ja_JP.UTF-8")


def test_japanese_names_need_code_page_932(bench, japanese_session, tmp_path):
    source = write_source(tmp_path / "src", JAPANESE_FILES)
    archive = tmp_path / "in.zip"
    python_zip(archive, JAPANESE_FILES)
    out = tmp_path / "out"
    refused = subprocess.run([str(BUILD / "tvsfx"), "build", "-o", str(tmp_path / "x.exe"), "--win9x",
                              str(archive)], capture_output=True, text=True)
    assert refused.returncode == 1
    assert 'entry "ポート/表.txt": the character "ポ" (U+30DD) has no place in code page CP1252' \
        in refused.stderr
    assert "--codepage" in refused.stderr and not (tmp_path / "x.exe").exists()

    exe = bench.make_sfx(tmp_path, zip=archive, args=[*hidden_args(out), "--codepage", "CP932"])
    extract_in_japanese_windows(japanese_session, tmp_path, exe)
    extracted = file_tree(out)
    assert set(extracted) == set(JAPANESE_FILES)
    for name, (data, mtime) in JAPANESE_FILES.items():
        assert extracted[name].read_bytes() == data
        assert (source / name).read_bytes() == data


# ---- what other ZIP readers read ------------------------------------------------------------

def old_unix_field(mtime: float) -> bytes:
    """Info-ZIP's older Unix field (0x5855) in its local form, as macOS tools write it."""
    return struct.pack("<HHIIHH", 0x5855, 12, int(mtime), int(mtime), 501, 20)


def pkware_unix_field(mtime: float) -> bytes:
    return struct.pack("<HHIIHH", 0x000D, 12, int(mtime), int(mtime), 501, 20)


def cut_unix_time_field(mtime: float) -> bytes:
    """An extended timestamp as zip 3.0 and Go write it after 2038: cut to 32 bits."""
    return struct.pack("<HHBI", 0x5455, 5, 1, int(mtime) & 0xFFFFFFFF)


# Made in California (DOS times of Los Angeles, 9 hours behind Berlin in summer), extracted in
# Berlin: only the Unix field tells the moment.
OLD_UNIX_CASES = [
    ("macos-5855", old_unix_field),
    ("pkware-000d", pkware_unix_field),
]


@pytest.mark.parametrize("field", [c[1] for c in OLD_UNIX_CASES], ids=[c[0] for c in OLD_UNIX_CASES])
def test_older_unix_time_fields(bench, tmp_path, field):
    archive = tmp_path / "in.zip"
    python_with_fields(archive, TIME_FILES, "America/Los_Angeles", field)
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    expect_success(bench.start(exe, env={"TZ": BERLIN}))
    for name, (_, mtime) in TIME_FILES.items():
        assert (out / name).stat().st_mtime == mtime, name


LATE_FILES = {
    "y2038.txt": (b"a", utc_time(2038, 6, 1, 12, 34, 56)),
    "y2050.txt": (b"b", utc_time(2050, 3, 4, 12, 34, 56)),
    "y2107.txt": (b"c", utc_time(2107, 7, 8, 12, 34, 56)),
}


# A folder's files after 2038 get NTFS times from the builder.
@pytest.mark.parametrize("maker", ["infozip", "python-cut-5455", "folder"])
def test_times_after_2038_come_out_in_their_year(bench, tmp_path, maker):
    archive = tmp_path / "in.zip"
    out = tmp_path / "out"
    if maker == "folder":
        exe = bench.make_sfx(tmp_path, folder=write_source(tmp_path / "src", LATE_FILES), args=hidden_args(out))
    else:
        if maker == "infozip":
            in_berlin(["zip", "-q", "-r", str(archive), "."], write_source(tmp_path / "src", LATE_FILES),
                      {"TZ": "UTC"})
        else:
            python_with_fields(archive, LATE_FILES, "UTC", cut_unix_time_field)
        exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    expect_success(bench.start(exe, env={"TZ": BERLIN}))
    for name, (_, mtime) in LATE_FILES.items():
        assert (out / name).stat().st_mtime == mtime, name


def test_archive_with_bytes_in_front(bench, tmp_path):
    """A launcher script glued to an archive whose offsets count from its own start."""
    source = write_source(tmp_path / "src", BASE_FILES)
    plain = tmp_path / "plain.zip"
    in_berlin(["zip", "-q", "-r", str(plain), "."], source)
    archive = tmp_path / "in.zip"
    archive.write_bytes(b'#!/bin/sh\nexec java -jar "$0" "$@"\n' + plain.read_bytes())
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    expect_success(bench.start(exe, env={"TZ": BERLIN}))
    extracted = file_tree(out)
    assert set(extracted) == set(BASE_FILES)
    for name, (data, mtime) in BASE_FILES.items():
        assert extracted[name].read_bytes() == data, name
        assert extracted[name].stat().st_mtime == mtime, name


def test_infozip_ntfs_host_with_shift_jis_names(bench, japanese_session, tmp_path):
    """Host 11 (Info-ZIP's NTFS) names in Shift-JIS: "表" ends in the byte 0x5C, which a
    single-byte reading would take for a folder separator."""
    name = "一覧表.txt"
    stored = name.encode("cp932")
    placeholder = b"x" * (len(stored) - 4) + b".txt"  # zipfile writes non-ASCII names as UTF-8
    archive = tmp_path / "in.zip"
    with zipfile.ZipFile(archive, "w") as z:
        info = zipfile.ZipInfo(placeholder.decode(), (2021, 6, 15, 14, 30, 10))
        info.create_system = 11
        z.writestr(info, b"Liste")
    archive.write_bytes(archive.read_bytes().replace(placeholder, stored))
    refused = subprocess.run([str(BUILD / "tvsfx"), "build", "-o", str(tmp_path / "x.exe"), str(archive)],
                             capture_output=True, text=True)
    assert refused.returncode == 1, refused.stderr
    assert "made on Windows (NTFS, Info-ZIP), read as CP437" in refused.stderr
    assert "--input-codepage CP932" in refused.stderr and not (tmp_path / "x.exe").exists()

    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive,
                         args=[*hidden_args(out), "--input-codepage", "CP932", "--codepage", "CP932"])
    extract_in_japanese_windows(japanese_session, tmp_path, exe)
    extracted = file_tree(out)
    assert set(extracted) == {name}
    assert extracted[name].read_bytes() == b"Liste"
