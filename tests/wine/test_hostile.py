"""Hostile and broken input, and a target folder that changes under a run: sizes and lengths
that would move the walk backwards or past the end of the file end with the read-error box
naming its site (the time-outs only detect a hang) and make nothing for the broken entry; a
replacement that turns out damaged keeps the old file and leaves no temporary file; a folder
removed during the run is made again."""

import random
import shutil
import struct
import time
import zipfile

import pytest

from extractkit import (
    FOLDER_FIELD, IDCANCEL, IDOK, MSG_ASK_CANCEL, MSG_ASK_OVERWRITE, MSG_BAD_CRC,
    MSG_FILES_EXTRACTED, MSG_READ_FAILED, ArchiveImage, answer_password, expect_error,
    hidden_args, password_that, tree_names,
)
from winebench import TIME_FACTOR, make_zip, write_tree

# A run that does not end within this time hangs: every case here takes well under a second
# (a few under the emulator).
HANG_TIMEOUT = 30.0 * TIME_FACTOR


def build(bench, tmp_path, files, args=(), **options):
    archive = make_zip(tmp_path / "in.zip", files, zipfile.ZIP_STORED)
    exe = bench.make_sfx(tmp_path, zip=archive, args=list(args), **options)
    return exe, ArchiveImage(exe)


def start_interactive(bench, exe, out):
    """Starts exe with its dialog, sets the target folder and presses Extract."""
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    return run, dialog


def back_onto_header(entry):
    """The size that, added as a signed number at the entry's data, lands on its own header."""
    return 2**32 - (entry.data_offset - entry.offset)


def put_u32(image, offset, value):
    struct.pack_into("<I", image.data, offset, value)


# ---- steps over data, extra fields and comments --------------------------------------------

DIRECTORY_FIRST = {"d/": None, "a.txt": "eins", "b.txt": "zwei"}
FILE_FIRST = {"a.txt": "eins", "d/": None, "b.txt": "zwei"}

# id, archive, what is patched (image -> None), read error site, names in the target folder
# afterwards (a.txt made empty: its data is read until the file ends)
SEEK_CASES = [
    ("directory-back-onto-its-header", DIRECTORY_FIRST,
     lambda i: put_u32(i, i.entry("d/").offset + 18, back_onto_header(i.entry("d/"))), 2, set()),
    ("directory-2GiB", DIRECTORY_FIRST,
     lambda i: put_u32(i, i.entry("d/").offset + 18, 0x80000000), 2, set()),
    ("directory-past-end", DIRECTORY_FIRST,
     lambda i: put_u32(i, i.entry("d/").offset + 18, 0x7FFFFFF0), 2, set()),
    ("extra-field-past-end", DIRECTORY_FIRST,
     lambda i: i.put_u16(i.entry("d/").offset + 28, 0xFFFF), 4, set()),
    ("file-data-2GiB", FILE_FIRST,
     lambda i: put_u32(i, i.entry("a.txt").offset + 18, 0x80000010), 2, {"a.txt"}),
    ("central-comment-past-end", DIRECTORY_FIRST,
     lambda i: i.put_u16(i.central[0].offset + 32, 0xFFFF), 6, {"d/", "a.txt", "b.txt"}),
]


@pytest.mark.parametrize("files, patch, site, made", [c[1:] for c in SEEK_CASES],
                         ids=[c[0] for c in SEEK_CASES])
def test_step_that_leaves_the_file_is_a_read_error(bench, tmp_path, files, patch, site, made):
    out = tmp_path / "out"
    exe, image = build(bench, tmp_path, files, hidden_args(out))
    patch(image)
    image.save()
    expect_error(bench.start(exe), MSG_READ_FAILED.format(bench.winpath(exe), site),
                 timeout=HANG_TIMEOUT)
    assert (tree_names(out) if out.exists() else set()) == made
    if "a.txt" in made and "b.txt" not in made:
        assert (out / "a.txt").stat().st_size == 0


SKIP_CASES = [
    ("back-onto-its-header", back_onto_header),
    ("2GiB", lambda e: 0x80000000),
    ("past-end", lambda e: 0x7FFFFFF0),
]


@pytest.mark.parametrize("size", [c[1] for c in SKIP_CASES], ids=[c[0] for c in SKIP_CASES])
def test_skipped_file_whose_data_leaves_the_file(bench, tmp_path, size):
    """An existing file answered No is stepped over; its size must keep the walk in the file."""
    out = tmp_path / "out"
    write_tree(out, {"a.txt": "alt"})
    exe, image = build(bench, tmp_path, {"a.txt": "neu", "b.txt": "zwei"})
    entry = image.entry("a.txt")
    put_u32(image, entry.offset + 18, size(entry))
    image.save()
    run, _ = start_interactive(bench, exe, out)
    box = run.wait_message_box(timeout=HANG_TIMEOUT)
    assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / "a.txt"))
    box.click("Nein")
    expect_error(run, MSG_READ_FAILED.format(bench.winpath(exe), 2), timeout=HANG_TIMEOUT)
    assert tree_names(out) == {"a.txt"}
    assert (out / "a.txt").read_text() == "alt"


# ---- replacing an existing file ------------------------------------------------------------

OLD_TIME = time.mktime((2001, 2, 3, 4, 5, 6, 0, 0, -1))
PASSWORD = "ersetzen"


def replacement():
    """About 80 KB: three output pieces, so a cut or a cancel meets the entry half written."""
    rng = random.Random(12)
    return b"".join(b"Zeile %d: %s\r\n" % (i, rng.randbytes(8).hex().encode())
                    for i in range(3000))


def flip_data_byte(image):
    entry = image.entry("a.txt")
    image.data[entry.data_offset + entry.compressed // 2] ^= 0x10


def cut_in_data(image):
    image.skip_end_check()
    image.cut(image.entry("a.txt").data_offset + 40_000)


def bad_crc_box(bench, exe, out):
    return MSG_BAD_CRC.format(bench.winpath(out / "a.txt"))


def cancel_at_first_piece(run, dialog):
    """A click posted right behind Extract meets the run at its first written piece."""
    dialog.lbuttondown(FOLDER_FIELD)
    box = run.wait_message_box(timeout=HANG_TIMEOUT)
    assert box.text == MSG_ASK_CANCEL
    box.click("Ja", wait_gone=False)
    assert run.wait_exit(HANG_TIMEOUT) == 3, "a cancelled run ends as declined"


# id, damage to the archive, encrypted (then answered with a wrong password that passes the
# check byte), the error box that ends the run (bench, exe, out -> text; None: the user cancels)
REPLACEMENT_FAILURES = [
    ("bad-crc", flip_data_byte, False, bad_crc_box),
    ("read-error", cut_in_data, False,
     lambda bench, exe, out: MSG_READ_FAILED.format(bench.winpath(exe), 2)),
    ("cancel", None, False, None),
    ("wrong-password-passing-the-check", None, True, bad_crc_box),
]


@pytest.mark.parametrize("damage, encrypted, error", [c[1:] for c in REPLACEMENT_FAILURES],
                         ids=[c[0] for c in REPLACEMENT_FAILURES])
def test_failed_replacement_keeps_the_old_file(bench, tmp_path, damage, encrypted, error):
    out = tmp_path / "out"
    write_tree(out, {"a.txt": ("alt", OLD_TIME)})
    args = hidden_args(out) if error else []
    if encrypted:
        # the traditional cipher: password_that finds a wrong password passing its check byte
        args += ["--password", PASSWORD, "--encryption", "zipcrypto"]
    exe, image = build(bench, tmp_path, {"a.txt": replacement(), "b.txt": "danach"}, args,
                       overwrite=True)
    if damage:
        damage(image)
        image.save()
    if error is None:
        cancel_at_first_piece(*start_interactive(bench, exe, out))
    else:
        run = bench.start(exe)
        if encrypted:
            answer_password(run, password_that(image, image.entry("a.txt"), passes=True))
        expect_error(run, error(bench, exe, out), timeout=HANG_TIMEOUT)
    assert tree_names(out) == {"a.txt"}, "no temporary file, nothing after the failed entry"
    assert (out / "a.txt").read_text() == "alt"
    assert (out / "a.txt").stat().st_mtime == OLD_TIME


# ---- a folder removed during the run -------------------------------------------------------


# the answer about sub/x.txt, the entry behind it, what is in sub/ at the end
REMOVED_FOLDER_CASES = [
    ("Ja", "sub/z.txt", {"x.txt", "z.txt"}),
    ("Nein", "sub/z.txt", {"z.txt"}),
    ("Nein", "sub/", set()),
]


@pytest.mark.parametrize("answer, behind, made", REMOVED_FOLDER_CASES,
                         ids=["yes-then-file", "no-then-file", "no-then-directory"])
def test_folder_removed_during_the_run_is_made_again(bench, tmp_path, answer, behind, made):
    """The overwrite question about sub/x.txt holds the run after sub/ has been made and
    looked at; the folder is removed meanwhile. The next entry in it makes it again."""
    out = tmp_path / "out"
    write_tree(out, {"sub/x.txt": "alt"})
    files = {"sub/a.txt": "eins", "sub/x.txt": "neu",
             behind: None if behind.endswith("/") else "drei"}
    exe = bench.make_sfx(tmp_path, zip=make_zip(tmp_path / "in.zip", files))
    run, dialog = start_interactive(bench, exe, out)
    box = run.wait_message_box(timeout=HANG_TIMEOUT)
    assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / "sub" / "x.txt"))
    shutil.rmtree(out / "sub")
    box.click(answer)
    done = run.wait_message_box(exclude=[box.hwnd], timeout=HANG_TIMEOUT)
    assert done.text == MSG_FILES_EXTRACTED.format(1 + len(made))
    done.click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
    assert tree_names(out) == {"sub/", *(f"sub/{name}" for name in made)}
    for name in made:
        assert (out / "sub" / name).read_text() == files[f"sub/{name}"]
