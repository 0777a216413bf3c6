"""ZIP64 in the stub: sizes in the ZIP64 records of local headers (also where no field needed
one), 24-byte data descriptors behind them, the ZIP64 end record and locator in front of the end
record; hostile ZIP64 sizes end with the read-error box as 32-bit ones do, never with a hang.
The large cases (a 5 GiB file, 70,000 files) are marked `large` and run with TVSFX_LARGE=1
(`make large`); each prints how long its build and its run took."""

import random
import shutil
import struct
import subprocess
import time
import zipfile
import zlib

import pytest

from extractkit import (
    FOLDER_FIELD, IDOK, MSG_ASK_OVERWRITE, MSG_READ_FAILED, ArchiveImage, expect_error,
    expect_success, hidden_args, tree_names, unzip_reference,
)
from winebench import TIME_FACTOR, compare_trees, exit_without_window, make_zip, write_tree

HANG_TIMEOUT = 30.0 * TIME_FACTOR
MARK = 0xFFFFFFFF
ZIP64_RECORD_SIZE = 20  # id, size, both 8-byte sizes


def zip64_record(*values: int) -> bytes:
    return struct.pack("<HH", 0x0001, 8 * len(values)) + b"".join(struct.pack("<Q", v) for v in values)


def give_zip64_record(image: ArchiveImage, entry, record: bytes, mark: bool = True) -> None:
    """Appends record to the entry's extra field; with mark, both size fields defer to it."""
    image.insert(entry.data_offset, record)
    image.put_u16(entry.offset + 28, struct.unpack_from("<H", image.data, entry.offset + 28)[0] + len(record))
    image.put_u16(entry.offset + 4, 45)
    if mark:
        struct.pack_into("<II", image.data, entry.offset + 18, MARK, MARK)


def give_zip64_descriptor(image: ArchiveImage, entry) -> None:
    """Bit 3 and a 24-byte descriptor behind the data, as a ZIP64 writer that streams makes it."""
    image.insert(entry.end, b"PK\7\x08" + struct.pack("<IQQ", entry.crc, entry.compressed, entry.uncompressed))
    image.put_u16(entry.offset + 6, entry.flags | 0x0008)


def give_zip64_end_records(image: ArchiveImage, count: int) -> None:
    """The ZIP64 end record and its locator in front of the end record."""
    directory = image.central[0].offset if image.central else image.end_record
    size = image.end_record - directory
    record = (b"PK\6\6" + struct.pack("<QHHIIQQQQ", 44, 45, 45, 0, 0, count, count, size, directory))
    locator = b"PK\6\7" + struct.pack("<IQI", 0, image.end_record, 1)
    image.insert(image.end_record, record + locator)


FILES = {
    "klein.txt": "klein\n",
    "text.txt": "".join(f"Zeile {i}\n" for i in range(20000)),
    "unter/daten.bin": bytes((i * 7919) % 251 for i in range(90000)),
    "leer.txt": "",
    "ordner/": None,
}


def zip64_package(bench, tmp_path, files=FILES, method=zipfile.ZIP_DEFLATED):
    """A package of files whose local headers all carry ZIP64 records: most with both size
    fields marked, one with a 24-byte descriptor too, one with a record no field asks for
    (whose values lie: the 32-bit fields count), and ZIP64 end records in front of the end."""
    out = tmp_path / "out"
    archive = make_zip(tmp_path / "in.zip", files, method)
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    image = ArchiveImage(exe)
    count = len(image.entries)
    # Back to front, so the offsets of the entries not yet changed stay right.
    give_zip64_end_records(image, count)
    for index in reversed(range(count)):
        entry = image.entries[index]
        if index == 2:
            give_zip64_record(image, entry, zip64_record(1, 2**40), mark=False)
            continue
        if index == 1:
            give_zip64_descriptor(image, entry)
        give_zip64_record(image, entry, zip64_record(entry.uncompressed, entry.compressed))
    image.save()
    return exe, out


@pytest.mark.parametrize("method", [zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED], ids=["stored", "deflated"])
def test_zip64_records_give_the_sizes(bench, tmp_path, method):
    exe, out = zip64_package(bench, tmp_path, method=method)
    src = write_tree(tmp_path / "src", FILES)
    expect_success(bench.start(exe))
    compare_trees(out, src, times=False)
    # -test reads the same records.
    assert exit_without_window(bench.start(exe, "-test -silent")) == 0


def test_sevenzip_zip64_archive_extracts_exactly(bench, tmp_path):
    """7-Zip writes a ZIP64 record for data it reads from a pipe, whatever its size (in a new
    archive only: adding to one rewrites its entries without)."""
    archive = tmp_path / "7z.zip"
    piped = tmp_path / "piped.txt"
    piped.write_bytes(b"".join(b"%d\n" % i for i in range(30000)))
    # Through a pipe: from a file 7-Zip knows the size and writes no ZIP64 record.
    subprocess.run(f"cat '{piped}' | 7zz a -tzip -siordner/piped.txt '{archive}'", shell=True, check=True,
                   capture_output=True)
    assert b"\x01\x00\x10\x00" in archive.read_bytes(), "7-Zip wrote a ZIP64 record"
    reference = unzip_reference(archive, tmp_path / "reference")
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    expect_success(bench.start(exe))
    compare_trees(out, reference, times=False)


# ---- the meter past 4 GiB ---------------------------------------------------------------------

METER = 201
METER_GETPOS = 0x0403


def test_meter_counts_the_high_part_of_the_total(bench, tmp_path):
    """A total of exactly 4 GiB (total_size 0, total_size_high 1): after 90.6 MB the meter
    stands at 2 %, read while the run waits at an overwrite question. Without the high part the
    total would be 0 and the meter full."""
    out = tmp_path / "out"
    write_tree(out, {"c.txt": "alt"})
    files = {"a.bin": bytes(random.Random(3).randbytes(600_000)), "b.bin": bytes(90_000_000), "c.txt": "neu"}
    exe = bench.make_sfx(tmp_path, zip=make_zip(tmp_path / "in.zip", files))
    image = ArchiveImage(exe)
    image["total_size"] = 0
    image["total_size_high"] = 1
    image.fix_stub_crc()
    image.save()
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    box = run.wait_message_box()
    assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / "c.txt"))
    done = 90_600_000
    assert run.driver.call(f"send {dialog.hwnd} {METER} {METER_GETPOS} 0")["result"] == done * 100 // 2**32
    box.click("Nein")
    run.wait_message_box(exclude=[box.hwnd]).click("OK")


# ---- hostile ZIP64 records -------------------------------------------------------------------

# id, entry, its record, read-error site, names in the target folder afterwards (a.txt made
# empty: its data is read until the file ends; d/ comes first)
HOSTILE = [
    ("file-data-1TiB", "a.txt", lambda e: zip64_record(e.uncompressed, 2**40), 2, {"d/", "a.txt"}),
    ("directory-wraps-to-its-header", "d/", lambda e: zip64_record(0, 2**64 - (e.data_offset + 20 - e.offset)),
     2, set()),
    ("directory-past-end", "d/", lambda e: zip64_record(0, 2**63), 2, set()),
    # Both fields marked, only one value: the record is not used, the marks stay sizes.
    ("record-too-short", "d/", lambda e: zip64_record(0), 2, set()),
]


@pytest.mark.parametrize("name, record, site, made", [c[1:] for c in HOSTILE], ids=[c[0] for c in HOSTILE])
def test_hostile_zip64_size_is_a_read_error(bench, tmp_path, name, record, site, made):
    out = tmp_path / "out"
    archive = make_zip(tmp_path / "in.zip", {"d/": None, "a.txt": "eins", "b.txt": "zwei"}, zipfile.ZIP_STORED)
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    image = ArchiveImage(exe)
    entry = image.entry(name)
    give_zip64_record(image, entry, record(entry))
    image.save()
    expect_error(bench.start(exe), MSG_READ_FAILED.format(bench.winpath(exe), site), timeout=HANG_TIMEOUT)
    assert (tree_names(out) if out.exists() else set()) == made
    if "a.txt" in made:
        assert (out / "a.txt").stat().st_size == 0


# ---- large packages (make large) -------------------------------------------------------------

FIVE_GIB = 5 << 30


def report_time(what: str, started: float) -> None:
    print(f"\n{what}: {time.monotonic() - started:.1f} s", flush=True)


@pytest.mark.large
def test_five_gib_file_extracts_exactly(bench, tmp_path):
    """A folder with one 5 GiB file of zeros (sparse on the Linux side; the package stays
    small) and a small one; the output is compared on the Linux side and removed."""
    src = tmp_path / "src"
    src.mkdir()
    with open(src / "gross.bin", "wb") as f:
        f.truncate(FIVE_GIB)
    (src / "klein.txt").write_text("klein\n")
    out = tmp_path / "out"
    started = time.monotonic()
    exe = bench.make_sfx(tmp_path, folder=src, args=hidden_args(out))
    report_time("5 GiB: build", started)
    (src / "gross.bin").unlink()
    assert exe.path.stat().st_size < 16 << 20
    try:
        started = time.monotonic()
        expect_success(bench.start(exe), timeout=3600 * TIME_FACTOR)
        report_time("5 GiB: extraction", started)
        big = out / "gross.bin"
        assert big.stat().st_size == FIVE_GIB
        same = subprocess.run(["cmp", "-n", str(FIVE_GIB), str(big), "/dev/zero"], capture_output=True)
        assert same.returncode == 0, same.stdout + same.stderr
        assert (out / "klein.txt").read_text() == "klein\n"
    finally:
        shutil.rmtree(out, ignore_errors=True)


@pytest.mark.large
def test_seventy_thousand_files_extract_exactly(bench, tmp_path):
    src = tmp_path / "src"
    for i in range(70000):
        folder = src / f"d{i // 1000:02d}"
        if i % 1000 == 0:
            folder.mkdir(parents=True)
        (folder / f"f{i:05d}.txt").write_bytes(b"%d %08x\n" % (i, zlib.crc32(b"%d" % i)))
    out = tmp_path / "out"
    started = time.monotonic()
    exe = bench.make_sfx(tmp_path, folder=src, args=hidden_args(out))
    report_time("70,000 files: build", started)
    try:
        started = time.monotonic()
        expect_success(bench.start(exe), timeout=3600 * TIME_FACTOR)
        report_time("70,000 files: extraction", started)
        compare_trees(out, src, times=False)
    finally:
        shutil.rmtree(out, ignore_errors=True)
        shutil.rmtree(src, ignore_errors=True)
