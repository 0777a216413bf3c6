"""Extraction end to end: archives of several writers, output paths and folders, names that
would leave the target folder, overwriting, cancelling a long run, file times."""

import os
import stat
import subprocess
import time
import zipfile

import pytest

from extractkit import (
    BS_DEFPUSHBUTTON, FOLDER_FIELD, IDCANCEL, IDNO, IDOK, IDYES, MSG_ASK_CANCEL, MSG_ASK_OVERWRITE,
    MSG_CREATE_FOLDER, MSG_CREATE_OUTPUT, MSG_FILES_EXTRACTED, MSG_INVALID_DRIVE, OVERWRITE_BOX,
    STATUS_LINE, ArchiveImage, RawEntry, answer_password, corpus_files, expect_error,
    expect_success, hidden_args, infozip, long_name, name_table_rows, pyzip, raw_zip, sevenzip,
    tree_names,
    unzip_reference, zip_methods,
)
from winebench import BOX_CAPTION, TIME_FACTOR, write_tree

PASSWORD = "Geheim!42"


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    return write_tree(tmp_path_factory.mktemp("corpus") / "src", corpus_files())


# ---- helpers -----------------------------------------------------------------------------------


def build_raw(bench, where, entries, *args):
    """A self-extractor of a raw archive (names and fields exactly as given)."""
    archive = where / "raw.zip"
    archive.write_bytes(raw_zip(entries))
    return bench.make_sfx(where, zip=archive, args=list(args))


OLD_TIME = time.mktime((2001, 2, 3, 4, 5, 6, 0, 0, -1))
NEW_FILES = {"a.txt": "neu a", "b.txt": "neu b", "neu.txt": "ganz neu", "c.txt": "neu c"}


def prepare_existing(out, names):
    write_tree(out, {name: (f"alt {name}", OLD_TIME) for name in names})


@pytest.fixture
def make_read_only():
    """Makes a file (or folder) impossible to replace (or to create in), as the read-only
    attribute does on Windows. Wine maps that attribute to missing write permission, which root
    does not feel, so under root it is made immutable instead (and mutable after the test)."""
    made = []

    def make(path):
        os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        if os.geteuid() == 0:
            result = subprocess.run(["chattr", "+i", str(path)], capture_output=True, text=True)
            if result.returncode != 0 and os.environ.get("TVSFX_I386_EMULATOR"):
                # The emulator's user namespace maps root, but not the capability to set
                # the immutable flag on the machine's file system.
                pytest.skip("root in the emulator's user namespace cannot make a file immutable "
                            f"(chattr +i: {result.stderr.strip()})")
            result.check_returncode()
            made.append(path)

    yield make
    for path in made:
        subprocess.run(["chattr", "-i", str(path)], check=False)


def start_interactive(bench, exe, out, overwrite_box=None):
    """Starts exe with its dialog, sets the folder (and check box 102) and presses Extract."""
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    if overwrite_box is not None:
        dialog.check(OVERWRITE_BOX, overwrite_box)
    dialog.click(IDOK)
    return run, dialog


def assert_old(out, name):
    assert (out / name).read_text() == f"alt {name}"
    assert (out / name).stat().st_mtime == OLD_TIME


def assert_new(out, source, name):
    assert (out / name).read_bytes() == (source / name).read_bytes()
    assert abs((out / name).stat().st_mtime - (source / name).stat().st_mtime) < 2


# ---- archives of several writers ---------------------------------------------------------------

# id, writer(source, archive), password, methods the archive must hold for the case to mean
# something (files only; empty files are stored by every writer)
WRITERS = [
    ("infozip-stored", lambda s, a: infozip(s, a, "-0"), None, {0}),
    ("infozip-deflated", lambda s, a: infozip(s, a, "-9"), None, {8}),
    ("infozip-encrypted", lambda s, a: infozip(s, a, "-P", PASSWORD), PASSWORD, {0, 8}),
    ("7zip-deflate", lambda s, a: sevenzip(s, a, "-mm=Deflate", "-mx=9"), None, {8}),
    ("7zip-deflate64", lambda s, a: sevenzip(s, a, "-mm=Deflate64", "-mx=9"), None, {9}),
    ("7zip-copy", lambda s, a: sevenzip(s, a, "-mm=Copy"), None, {0}),
    ("7zip-zipcrypto", lambda s, a: sevenzip(s, a, "-mem=ZipCrypto", "-p" + PASSWORD), PASSWORD,
     {8}),
    ("python-stored", lambda s, a: pyzip(s, a, zipfile.ZIP_STORED), None, {0}),
    ("python-deflated", lambda s, a: pyzip(s, a, zipfile.ZIP_DEFLATED), None, {8}),
    # bit 3 and zero sizes in every local header: the builder writes the real sizes
    ("python-streamed", lambda s, a: pyzip(s, a, zipfile.ZIP_DEFLATED, streamed=True), None, {8}),
    # LZMA (method 14): 7-Zip without the end marker at three levels and with it (bit 1),
    # encrypted with AES; Python with the marker. (bsdtar 3.6 writes no LZMA entries.)
    ("7zip-lzma1", lambda s, a: sevenzip(s, a, "-mm=LZMA", "-mx=1"), None, {14}),
    ("7zip-lzma5", lambda s, a: sevenzip(s, a, "-mm=LZMA", "-mx=5"), None, {14}),
    ("7zip-lzma9", lambda s, a: sevenzip(s, a, "-mm=LZMA", "-mx=9"), None, {14}),
    ("7zip-lzma-eos", lambda s, a: sevenzip(s, a, "-mm=LZMA:eos", "-mx=5"), None, {14}),
    ("7zip-lzma-aes256", lambda s, a: sevenzip(s, a, "-mm=LZMA", "-mem=AES256", "-p" + PASSWORD), PASSWORD,
     {99}),
    ("python-lzma", lambda s, a: pyzip(s, a, zipfile.ZIP_LZMA), None, {14}),
]


WRITERS_LZMA_AES = next(case[1] for case in WRITERS if case[0] == "7zip-lzma-aes256")


def sevenzip_reference(archive, folder, password):
    command = ["7zz", "x", "-y", f"-o{folder}", str(archive)] + ([f"-p{password}"] if password else [])
    subprocess.run(command, check=True, capture_output=True)
    return folder


@pytest.mark.parametrize("writer, password, methods", [case[1:] for case in WRITERS],
                         ids=[case[0] for case in WRITERS])
def test_archive_extracts_like_unzip(bench, tmp_path, corpus, writer, password, methods):
    archive = writer(corpus, tmp_path / "in.zip")
    assert methods <= zip_methods(archive)
    if 14 in methods or writer is WRITERS_LZMA_AES:
        reference = sevenzip_reference(archive, tmp_path / "7zz", password)  # unzip 6.0 has no LZMA
    else:
        reference = unzip_reference(archive, tmp_path / "unzip", password)
    assert tree_names(reference) == tree_names(corpus), "the writer left something out"

    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    run = bench.start(exe)
    if password:
        answer_password(run, password)
    expect_success(run)
    bench.compare_trees(out, reference)


# ---- output paths and folders ------------------------------------------------------------------


@pytest.mark.parametrize("suffix", ["", "\\", "/"], ids=["plain", "backslash", "slash"])
def test_target_folder_with_or_without_trailing_separator(bench, tmp_path, suffix):
    out = tmp_path / "out"
    files = {"a.txt": "eins", "sub/tiefer/b.bin": bytes(range(256)) * 3}
    exe = bench.make_sfx(tmp_path, files=files,
                         args=["--hidden", "--folder", bench.winpath(out) + suffix])
    expect_success(bench.start(exe))
    bench.compare_trees(out, exe.source)


def test_one_leading_separator_is_dropped_and_dos_names_are_converted(bench, tmp_path):
    out = tmp_path / "out"
    exe = build_raw(bench, tmp_path, [
        RawEntry(b"/lead.txt", b"L"),
        RawEntry(b"\\back.txt", b"B"),
        RawEntry(b"/sub/x.txt", b"X"),
        RawEntry(b"gr\x94\xe1e.txt", b"G"),        # code page 437 (made on MS-DOS), becomes 1252
        RawEntry(b"a..b/c..d.txt", b"dots"),      # dots inside names are harmless
        RawEntry(b"./dot.txt", b"."),
    ], *hidden_args(out))
    expect_success(bench.start(exe))
    assert tree_names(out) == {"lead.txt", "back.txt", "sub/", "sub/x.txt",
                               "größe.txt", "a..b/", "a..b/c..d.txt", "dot.txt"}
    assert (out / "größe.txt").read_bytes() == b"G"
    assert (out / "a..b" / "c..d.txt").read_bytes() == b"dots"


# folder + "\" + name may have 259 characters on Windows 95, 98 and Me; on the NT family (the
# bench) up to 32,767 (test_unicode_names.py): 260 is taken there. The leading separator of a
# name does not count.
PATH_LENGTH_CASES = [
    # trailing separator of the folder, leading separator of the name, path length, accepted
    ("", "", 259, True),
    ("", "", 260, True),
    ("\\", "", 259, True),
    ("\\", "", 260, True),
    ("", "/", 259, True),
]


@pytest.mark.parametrize("folder_suffix, lead, length, accepted", PATH_LENGTH_CASES)
def test_output_path_length_limit(bench, tmp_path, folder_suffix, lead, length, accepted):
    out = tmp_path / "out"
    folder = bench.winpath(out)
    name = long_name(length - len(folder) - 1)  # the room behind "folder\"
    assert len(folder) + 1 + len(name) == length
    exe = build_raw(bench, tmp_path, [RawEntry(b"vorher.txt", b"1"),
                                      RawEntry((lead + name).encode(), b"lang")],
                    "--hidden", "--folder", folder + folder_suffix)
    run = bench.start(exe)
    if accepted:
        expect_success(run)
        assert (out / name).read_bytes() == b"lang"
    else:
        expect_error(run, MSG_CREATE_OUTPUT.format(lead + name))
        assert tree_names(out) == {"vorher.txt"}


def test_directory_entries_make_folders_and_are_not_counted(bench, tmp_path):
    empty_deflate = b"\x03\x00"
    exe = build_raw(bench, tmp_path, [
        RawEntry(b"d1/"),
        RawEntry(b"d1/a.txt", b"a"),
        RawEntry(b"d2/unter/"),                     # creates its parent too
        RawEntry(b"d3/", b"0123456789"),            # data of a directory is stepped over...
        RawEntry(b"d4\\"),
        RawEntry(b"d5/", empty_deflate, method=8, uncompressed=0, crc=0),  # ...whatever sizes
        RawEntry(b"b.txt", b"b"),
    ])
    out = tmp_path / "out"
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    box = run.wait_message_box()
    done = MSG_FILES_EXTRACTED.format(2)
    assert (box.text, box.icon, box.button_ids) == (done, "none", [IDOK])
    assert dialog.live_text(STATUS_LINE) == done
    box.click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
    assert tree_names(out) == {"d1/", "d1/a.txt", "d2/", "d2/unter/", "d3/", "d4/", "d5/",
                               "b.txt"}


def test_directory_entry_with_leading_separator_stays_inside(bench, tmp_path):
    # The name keeps its separator behind the target folder: the empty component between
    # the two separators names the target folder again, and the folder is made inside it.
    out = tmp_path / "out"
    exe = build_raw(bench, tmp_path, [
        RawEntry(b"/docs/"),
        RawEntry(b"\\tools\\bin\\"),
        RawEntry(b"/docs/a.txt", b"a"),
        RawEntry(b"tools/b.txt", b"b"),
        RawEntry(b"docs/c.txt", b"c"),                # back to a folder handled before
    ], *hidden_args(out))
    expect_success(bench.start(exe))
    assert tree_names(out) == {"docs/", "docs/a.txt", "docs/c.txt", "tools/", "tools/bin/",
                               "tools/b.txt"}


@pytest.mark.parametrize("length, accepted", [(259, True), (260, True)])
def test_directory_path_length_limit(bench, tmp_path, length, accepted):
    """A directory entry keeps its name as read, final separator included (259 characters was
    the limit of the ANSI program; the NT family's is 32,767)."""
    out = tmp_path / "out"
    folder = bench.winpath(out)
    name = long_name(length - len(folder) - 2) + "/"
    assert len(folder) + 1 + len(name) == length
    exe = build_raw(bench, tmp_path, [RawEntry(b"vorher.txt", b"1"), RawEntry(name.encode())],
                    *hidden_args(out))
    run = bench.start(exe)
    if accepted:
        expect_success(run)
        assert (out / name).is_dir()
    else:
        expect_error(run, MSG_CREATE_FOLDER.format(name))
        assert tree_names(out) == {"vorher.txt"}


def test_file_in_the_way_of_a_folder(bench, tmp_path):
    """A file of a folder's name counts as existing; the output file then cannot be made."""
    out = tmp_path / "out"
    write_tree(out, {"sub": "eine Datei"})
    exe = bench.make_sfx(tmp_path, files={"a.txt": "1", "sub/x.txt": "2"}, args=hidden_args(out))
    expect_error(bench.start(exe), MSG_CREATE_OUTPUT.format(bench.winpath(out / "sub" / "x.txt")))
    assert (out / "sub").read_text() == "eine Datei"


def test_folder_that_cannot_be_made(bench, tmp_path, make_read_only):
    locked = tmp_path / "gesperrt"
    locked.mkdir()
    make_read_only(locked)
    exe = bench.make_sfx(tmp_path, files={"a.txt": "1"}, args=hidden_args(locked / "out"))
    expect_error(bench.start(exe), MSG_CREATE_FOLDER.format(bench.winpath(locked / "out")))
    assert not (locked / "out").exists()


def test_unknown_drive_in_target_folder_is_named_by_its_letter(bench, tmp_path):
    assert not (bench.session.prefix / "dosdevices" / "q:").exists()
    exe = bench.make_sfx(tmp_path, files={"a.txt": "x"}, args=["--hidden", "--folder", "Q:\\ziel"])
    expect_error(bench.start(exe), MSG_INVALID_DRIVE.format("Q"))


# From the name table the native tests read too (tests/data/entry_names.tsv).
ESCAPING_NAMES = [raw for raw, _, _ in name_table_rows("1252", "leaves")]


@pytest.mark.parametrize("name", ESCAPING_NAMES, ids=[n.decode("cp1252") for n in ESCAPING_NAMES])
def test_name_that_leaves_target_folder_is_refused(bench, tmp_path, name):
    box = tmp_path / "box"
    out = box / "out"
    # The name's bytes as they stand (--codepage raw), as an archive of the system's code page.
    exe = build_raw(bench, tmp_path, [RawEntry(b"vorher.txt", b"1"), RawEntry(name, b"boese")],
                    *hidden_args(out), "--codepage", "raw")
    expect_error(bench.start(exe), MSG_CREATE_OUTPUT.format(name.decode("cp1252")))
    assert tree_names(box) == {"out/", "out/vorher.txt"}
    drive_c = bench.unixpath("C:\\")
    assert not [p for p in drive_c.iterdir() if "evil" in p.name]


# ---- overwriting -------------------------------------------------------------------------------

# answers to the questions about a.txt, b.txt and c.txt (neu.txt is not asked about)
OVERWRITE_CASES = [
    # answers, files replaced, files kept old, files missing, completion count (None: cancelled)
    ([IDYES, IDYES, IDYES], ["a.txt", "b.txt", "c.txt", "neu.txt"], [], [], 4),
    ([IDYES, IDNO, IDYES], ["a.txt", "c.txt", "neu.txt"], ["b.txt"], [], 3),
    ([IDNO, IDCANCEL], [], ["a.txt", "b.txt", "c.txt"], ["neu.txt"], None),
]


@pytest.mark.parametrize("answers, replaced, kept, missing, count", OVERWRITE_CASES,
                         ids=["yes", "no-goes-on", "cancel-ends"])
def test_existing_files_are_asked_about_one_by_one(bench, tmp_path, answers, replaced, kept,
                                                   missing, count):
    out = tmp_path / "out"
    prepare_existing(out, ["a.txt", "b.txt", "c.txt"])
    exe = bench.make_sfx(tmp_path, files=NEW_FILES)
    run, dialog = start_interactive(bench, exe, out)
    seen = []
    for name, answer in zip(["a.txt", "b.txt", "c.txt"], answers):
        box = run.wait_message_box(exclude=seen)
        seen.append(box.hwnd)
        path = bench.winpath(out / name)
        assert (box.text, box.caption, box.icon) == (MSG_ASK_OVERWRITE.format(path), BOX_CAPTION,
                                                     "none")
        assert (box.button_ids, box.owner) == ([IDYES, IDNO, IDCANCEL], dialog.hwnd)
        box.click(answer)
    if count is None:
        # the run ends and with it the dialog, without a completion box; cancelled: code 3
        assert run.wait_exit() == 3
    else:
        done = run.wait_message_box(exclude=seen)
        assert done.text == MSG_FILES_EXTRACTED.format(count)
        done.click("OK")
        dialog.click(IDCANCEL)
        assert run.wait_exit() == 0
    for name in replaced:
        assert_new(out, exe.source, name)
    for name in kept:
        assert_old(out, name)
    for name in missing:
        assert not (out / name).exists()


@pytest.mark.parametrize("how", ["builder-flag", "check-box"])
def test_silent_overwrite_asks_nothing(bench, tmp_path, how):
    out = tmp_path / "out"
    prepare_existing(out, ["a.txt", "b.txt", "c.txt"])
    exe = bench.make_sfx(tmp_path, files=NEW_FILES, overwrite=how == "builder-flag")
    run, dialog = start_interactive(bench, exe, out,
                                    overwrite_box=True if how == "check-box" else None)
    done = run.wait_message_box()
    assert done.text == MSG_FILES_EXTRACTED.format(4)
    done.click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
    bench.compare_trees(out, exe.source)


# what stands in the way of b.txt, and whether the question is skipped
BLOCKED_CASES = [("read-only", False), ("read-only", True), ("folder", False)]


@pytest.mark.parametrize("blocker, overwrite", BLOCKED_CASES,
                         ids=["read-only-after-yes", "read-only-silently", "folder-after-yes"])
def test_existing_file_that_cannot_be_replaced(bench, tmp_path, make_read_only, blocker,
                                               overwrite):
    out = tmp_path / "out"
    if blocker == "folder":
        (out / "b.txt").mkdir(parents=True)
    else:
        prepare_existing(out, ["b.txt"])
        make_read_only(out / "b.txt")
    exe = bench.make_sfx(tmp_path, files={"a.txt": "neu a", "b.txt": "neu b", "c.txt": "neu c"},
                         overwrite=overwrite)
    run, _ = start_interactive(bench, exe, out)
    path = bench.winpath(out / "b.txt")
    if not overwrite:
        box = run.wait_message_box()
        assert box.text == MSG_ASK_OVERWRITE.format(path)
        box.click("Ja")
    expect_error(run, MSG_CREATE_OUTPUT.format(path))
    assert_new(out, exe.source, "a.txt")
    if blocker == "folder":
        assert (out / "b.txt").is_dir()
    else:
        assert_old(out, "b.txt")
    assert not (out / "c.txt").exists()
    # refused before anything was written: no temporary file beside it
    assert tree_names(out) == {"a.txt", "b.txt/" if blocker == "folder" else "b.txt"}


# ---- cancelling a long run, file times ---------------------------------------------------------

BIG_SIZE = 60_000_000


@pytest.fixture(scope="module")
def big_archive(tmp_path_factory):
    """60 MB of incompressible data, stored: a run long enough to click into."""
    where = tmp_path_factory.mktemp("big")
    archive = where / "gross.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as out:
        out.writestr(zipfile.ZipInfo("gross.bin", (2022, 2, 22, 22, 22, 22)), os.urandom(BIG_SIZE))
    return archive


VK_SPACE = 0x20


def interrupt_run(run, dialog, how):
    """Input for the dialog, posted right behind the Extract click: it waits in the queue until
    the first poll after the first written piece, so it always meets the run under way."""
    if how == "click":
        dialog.lbuttondown(FOLDER_FIELD)
    else:
        dialog.key(IDOK, VK_SPACE)
    box = run.wait_message_box()
    assert (box.text, box.caption, box.icon) == (MSG_ASK_CANCEL, BOX_CAPTION, "question")
    assert box.button_ids == [IDYES, IDNO]
    assert box[IDNO].style & 0xF == BS_DEFPUSHBUTTON, "No is the default button"
    return box


@pytest.mark.parametrize("how", ["click", "key"])
def test_input_during_run_asks_and_no_goes_on(bench, tmp_path, big_archive, how):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=big_archive)
    run, dialog = start_interactive(bench, exe, out)
    box = interrupt_run(run, dialog, how)
    assert 0 < (out / "gross.bin").stat().st_size < BIG_SIZE
    box.click("Nein")
    done = run.wait_message_box(exclude=[box.hwnd], timeout=60 * TIME_FACTOR)
    assert done.text == MSG_FILES_EXTRACTED.format(1)
    done.click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
    with zipfile.ZipFile(big_archive) as archive:
        assert (out / "gross.bin").read_bytes() == archive.read("gross.bin")


def test_click_during_run_and_yes_cancels(bench, tmp_path, big_archive):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=big_archive)
    run, dialog = start_interactive(bench, exe, out)
    interrupt_run(run, dialog, "click").click("Ja", wait_gone=False)
    assert run.wait_exit() == 3  # cancelled; the dialog ends with the run, no completion box
    written = (out / "gross.bin").stat().st_size
    assert 0 < written < BIG_SIZE and written % 28672 == 0


def dos_fields(year, month, day, hours, minutes, two_seconds):
    return ((hours << 11) | (minutes << 5) | two_seconds,
            ((year - 1980) << 9) | (month << 5) | day)


TIME_REPAIR_CASES = [
    # fields as stored (year, month, day, hours, minutes, two-second count), time expected
    ((2010, 0, 0, 24, 60, 31), (2010, 1, 1, 23, 59, 58)),
    ((2010, 13, 31, 31, 63, 30), (2010, 12, 31, 23, 59, 58)),
    ((1999, 15, 0, 0, 0, 29), (1999, 12, 1, 0, 0, 58)),
    ((2107, 12, 31, 23, 59, 29), (2107, 12, 31, 23, 59, 58)),  # in range: taken as it is
]


@pytest.mark.parametrize("stored, expected", TIME_REPAIR_CASES,
                         ids=["24-60-62-month0-day0", "month13-hour31", "month15", "last-valid"])
def test_out_of_range_dos_time_is_repaired_field_by_field(bench, tmp_path, stored, expected):
    out = tmp_path / "out"
    # Python's zipfile writes no exact time field, so the DOS time is all the stub has (a
    # folder's files carry an extended timestamp, which would win).
    source = write_tree(tmp_path / "src", {"vorher.txt": "1", "zeit.txt": "t"})
    archive = pyzip(source, tmp_path / "in.zip", zipfile.ZIP_STORED)
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    image = ArchiveImage(exe)
    entry = image.entry("zeit.txt")
    mod_time, mod_date = dos_fields(*stored)
    image.put_u16(entry.field_offsets["mod_time"], mod_time)
    image.put_u16(entry.field_offsets["mod_date"], mod_date)
    image.save()
    expect_success(bench.start(exe))
    assert (out / "zeit.txt").read_text() == "t"
    assert (out / "zeit.txt").stat().st_mtime == time.mktime((*expected, 0, 0, -1))
    assert_new(out, source, "vorher.txt")  # the entry before keeps its own time


# ---- progress meter of an archive whose sizes add up to 0 --------------------------------------

METER = 201


def meter_white_share(dialog, box, where):
    """Share of white (unfilled) pixels of the meter, leaving out what the question box covers."""
    image = dialog.capture(where)
    meter = dialog.refresh()[METER]
    assert meter.visible
    left, top = dialog.rect[0], dialog.rect[1]
    bl, bt, br, bb = box.rect
    pixels = [image.pixels[y - top][x - left]
              for y in range(meter.rect[1] + 2, meter.rect[3] - 2)
              for x in range(meter.rect[0] + 2, meter.rect[2] - 2)
              if not (bl <= x < br and bt <= y < bb)]
    assert len(pixels) > 200, "the question box covers the meter"
    return sum(p == (255, 255, 255) for p in pixels) / len(pixels)


@pytest.mark.parametrize("existing, filled", [("a.bin", False), ("b.txt", True)],
                         ids=["nothing-written-0", "written-100"])
def test_meter_with_total_size_zero(bench, tmp_path, existing, filled):
    """total_size 0 cannot be divided by: the meter shows 0 % before anything was written and
    100 % after. It is brought up to date before an overwrite question."""
    out = tmp_path / "out"
    prepare_existing(out, [existing])
    # above 512 KiB, so the meter shows at once; a.bin fills 20 pieces before b.txt
    exe = bench.make_sfx(tmp_path, zip=bench.make_zip(
        tmp_path / "in.zip", {"a.bin": os.urandom(600_000), "b.txt": "b"}, zipfile.ZIP_STORED))
    image = ArchiveImage(exe)
    image["total_size"] = 0
    image.fix_stub_crc()
    image.save()
    run, dialog = start_interactive(bench, exe, out)
    box = run.wait_message_box()
    assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / existing))
    white = meter_white_share(dialog, box, tmp_path / "meter.bmp")
    assert white < 0.2 if filled else white > 0.8
    box.click("Ja")
    run.wait_message_box(exclude=[box.hwnd]).click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0


# ---- the builder's LZMA packages in other ZIP readers ------------------------------------------


@pytest.mark.parametrize("reader", [["7zz", "t"], ["bsdtar", "-tf"]], ids=["7zz", "bsdtar"])
def test_builder_lzma_package_is_read_by_other_tools(bench, tmp_path, corpus, reader):
    exe = bench.make_sfx(tmp_path, folder=corpus, args=["--method", "lzma"])
    assert 14 in zip_methods(exe.path)
    result = subprocess.run([*reader, str(exe.path)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    if reader[0] == "7zz":
        assert "Everything is Ok" in result.stdout
