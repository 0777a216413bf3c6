"""Hostile archives: sizes and lengths that would move the walk backwards or past the end of
the file. Every run ends with the read-error box naming its site (the time-outs only detect a
hang), nothing is made for the broken entry, and no existing file is touched."""

import struct
import zipfile

import pytest

from extractkit import (
    FOLDER_FIELD, IDOK, MSG_ASK_OVERWRITE, MSG_READ_FAILED, ArchiveImage, expect_error,
    hidden_args, tree_names,
)
from winebench import make_zip, write_tree

# A run that does not end within this time hangs: every case here takes well under a second.
HANG_TIMEOUT = 30.0


def build(bench, tmp_path, files, args=()):
    archive = make_zip(tmp_path / "in.zip", files, zipfile.ZIP_STORED)
    exe = bench.make_sfx(tmp_path, zip=archive, args=list(args))
    return exe, ArchiveImage(exe)


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
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    box = run.wait_message_box(timeout=HANG_TIMEOUT)
    assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / "a.txt"))
    box.click("Nein")
    expect_error(run, MSG_READ_FAILED.format(bench.winpath(exe), 2), timeout=HANG_TIMEOUT)
    assert tree_names(out) == {"a.txt"}
    assert (out / "a.txt").read_text() == "alt"
