"""Damaged archives: each damage ends the run with its own error box (error icon), and what was
extracted before stays on disk. The damage is made in a built self-extractor's archive part,
which the stub checksum does not cover."""

import random
import struct
import time
import zipfile
import zlib

import pytest

from extractkit import (
    MSG_BAD_CRC, MSG_BAD_HEADER, MSG_CREATE_OUTPUT, MSG_NAMES_TOO_LONG, MSG_READ_FAILED,
    MSG_UNSUPPORTED_METHOD, ArchiveImage, RawEntry, answer_password, expect_error, expect_success,
    hidden_args, long_name, raw_zip, tree_names,
)
from winebench import make_zip, write_tree

PASSWORD = "kaputt"
OLD_TIME = time.mktime((2001, 2, 3, 4, 5, 6, 0, 0, -1))


def victim_files():
    """a.txt is extracted before the damage, b.bin (about 80 KB, three pieces) carries it,
    c.txt comes after."""
    rng = random.Random(30)
    lines = b"".join(b"Zeile %d: %s\r\n" % (i, rng.randbytes(8).hex().encode())
                     for i in range(3000))
    return {"a.txt": "vorher", "b.bin": lines, "c.txt": "nachher"}


def build(bench, tmp_path, files=None, method=zipfile.ZIP_STORED, args=()):
    files = files or victim_files()
    source = write_tree(tmp_path / "src", files)
    archive = make_zip(tmp_path / "in.zip", files, method)
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=[*hidden_args(out), *args])
    exe.source = source
    return exe, out, ArchiveImage(exe)


def assert_extracted(out, source, complete, partial=()):
    """Exactly these files are in out: complete ones equal to the source, partial ones a
    prefix of it."""
    assert tree_names(out) == {*complete, *partial}
    for name in complete:
        assert (out / name).read_bytes() == (source / name).read_bytes(), name
    for name in partial:
        written = (out / name).read_bytes()
        assert (source / name).read_bytes().startswith(written), name


# ---- entry data ----------------------------------------------------------------------------


@pytest.mark.parametrize("method", [zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED, zipfile.ZIP_LZMA],
                         ids=["stored", "deflated", "lzma"])
def test_flipped_data_byte_fails_crc_and_leaves_dated_file(bench, tmp_path, method):
    exe, out, image = build(bench, tmp_path, method=method)
    victim = image.entry("b.bin")
    image.data[victim.data_offset + victim.compressed // 2] ^= 0x10
    image.save()
    expect_error(bench.start(exe), MSG_BAD_CRC.format(bench.winpath(out / "b.bin")))
    assert tree_names(out) == {"a.txt", "b.bin"}
    assert (out / "a.txt").read_bytes() == (exe.source / "a.txt").read_bytes()
    assert (out / "b.bin").read_bytes() != (exe.source / "b.bin").read_bytes()
    assert abs((out / "b.bin").stat().st_mtime - (exe.source / "b.bin").stat().st_mtime) < 2


# An LZMA entry (the builder's) damaged in its data: the CRC error, and the file it was to
# replace keeps its content and time (the new data went to a temporary file, now gone).
def test_flipped_lzma_byte_keeps_the_old_file(bench, tmp_path):
    out = tmp_path / "out"
    write_tree(out, {"b.bin": ("alt", OLD_TIME)})
    files = victim_files()
    exe = bench.make_sfx(tmp_path, files=files, args=[*hidden_args(out), "--method", "lzma"], overwrite=True)
    image = ArchiveImage(exe)
    victim = image.entry("b.bin")
    assert struct.unpack_from("<H", image.data, victim.field_offsets["method"])[0] == 14
    image.data[victim.data_offset + victim.compressed // 2] ^= 0x10
    image.save()
    expect_error(bench.start(exe), MSG_BAD_CRC.format(bench.winpath(out / "b.bin")))
    assert tree_names(out) == {"a.txt", "b.bin"}
    assert (out / "b.bin").read_text() == "alt"
    assert (out / "b.bin").stat().st_mtime == OLD_TIME


# ---- where a Deflate stream ends ---------------------------------------------------------------


def fixed_stream_with_end_code_alone_in_its_last_byte():
    """Text and its fixed-Huffman stream whose last byte holds only the end-of-block code: cut
    that byte and every byte of the text still decodes (zeros past the input read as that code)."""
    text = b"".join(b"Zeile %d\r\n" % n for n in range(400))
    for size in range(len(text) - 200, len(text)):
        c = zlib.compressobj(9, zlib.DEFLATED, -15, 9, zlib.Z_FIXED)
        stream = c.compress(text[:size]) + c.flush()
        d = zlib.decompressobj(-15)
        if d.decompress(stream[:-1]) == text[:size] and not d.eof:
            return text[:size], stream
    raise AssertionError("no such stream")


def drop_last_data_byte(image, entry):
    """The entry's data one byte shorter, its local header's compressed size too."""
    struct.pack_into("<I", image.data, entry.offset + 18, entry.compressed - 1)
    del image.data[entry.data_offset + entry.compressed - 1]
    image["end_record_offset"] -= 1
    image.cut(len(image.data))  # the last section and the stub checksum follow


@pytest.mark.parametrize("test_switch", [False, True], ids=["extract", "test"])
def test_stream_without_its_end_of_block_code_is_damaged(bench, tmp_path, test_switch):
    """All data and its CRC are right, only the final block's end is missing: damaged data,
    as 7-Zip and zlib judge it, in an extraction and in -test."""
    text, stream = fixed_stream_with_end_code_alone_in_its_last_byte()
    entries = [RawEntry(b"a.txt", b"vorher"), RawEntry(b"b.txt", stream, method=8, crc=zlib.crc32(text),
                                                      uncompressed=len(text))]
    archive = tmp_path / "in.zip"
    archive.write_bytes(raw_zip(entries))
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, zip=archive, args=hidden_args(out))
    image = ArchiveImage(exe)
    drop_last_data_byte(image, image.entry("b.txt"))
    image.save()
    assert ArchiveImage(exe).entry("b.txt").compressed == len(stream) - 1
    if test_switch:
        box = bench.start(exe, "-test").wait_message_box()
        assert (box.text, box.icon) == (MSG_BAD_CRC.format("b.txt"), "error")
        return
    expect_error(bench.start(exe), MSG_BAD_CRC.format(bench.winpath(out / "b.txt")))
    assert (out / "a.txt").read_text() == "vorher"


@pytest.mark.parametrize("method, password", [(12, None), (99, None), (99, PASSWORD)],
                         ids=["bzip2", "aes", "aes-encrypted"])
def test_unknown_method_fails_after_creating_empty_file(bench, tmp_path, method, password):
    # method 99 on a traditionally encrypted entry: no AES record, so not an AES entry
    encryption = ["--password", password, "--encryption", "zipcrypto"] if password else []
    exe, out, image = build(bench, tmp_path, args=encryption)
    image.put_u16(image.entry("b.bin").field_offsets["method"], method)
    image.save()
    run = bench.start(exe)
    if password:
        answer_password(run, password)  # an encrypted entry passes the password gate first
    expect_error(run, MSG_UNSUPPORTED_METHOD)
    assert_extracted(out, exe.source, ["a.txt"], partial=["b.bin"])
    assert (out / "b.bin").stat().st_size == 0


def test_unknown_method_without_data_gives_empty_file(bench, tmp_path):
    files = {"a.txt": "vorher", "leer.txt": "", "c.txt": "x"}
    exe, out, image = build(bench, tmp_path, files=files)
    image.put_u16(image.entry("leer.txt").field_offsets["method"], 12)
    image.save()
    expect_success(bench.start(exe))
    bench.compare_trees(out, exe.source)


# ---- file cut short ------------------------------------------------------------------------

# where the file ends (a function of the walked image), read error site code, files complete
# and partly written when the run stops
CUT_CASES = [
    ("in-data", lambda i: i.entry("b.bin").data_offset + 40_000, 2, ["a.txt"], ["b.bin"]),
    ("between-records", lambda i: i.entry("b.bin").end, 9, ["a.txt", "b.bin"], []),
    ("in-signature", lambda i: i.entry("c.txt").offset + 2, 9, ["a.txt", "b.bin"], []),
    ("in-local-header", lambda i: i.entry("c.txt").offset + 14, 4, ["a.txt", "b.bin"], []),
    ("in-local-name", lambda i: i.entry("c.txt").offset + 32, 1, ["a.txt", "b.bin"], []),
    ("in-central-header", lambda i: i.central[0].offset + 24, 6, ["a.txt", "b.bin", "c.txt"], []),
    ("in-central-name", lambda i: i.central[1].offset + 47, 1, ["a.txt", "b.bin", "c.txt"], []),
    ("in-end-record", lambda i: i.end_record + 9, 7, ["a.txt", "b.bin", "c.txt"], []),
]


@pytest.mark.parametrize("cut, code, complete, partial", [c[1:] for c in CUT_CASES],
                         ids=[c[0] for c in CUT_CASES])
def test_file_cut_short_reports_read_site(bench, tmp_path, cut, code, complete, partial):
    exe, out, image = build(bench, tmp_path)
    image.skip_end_check()
    image.cut(cut(image))
    image.save()
    expect_error(bench.start(exe), MSG_READ_FAILED.format(bench.winpath(exe), code))
    assert_extracted(out, exe.source, complete, partial)


@pytest.mark.parametrize("encryption", ["zipcrypto", "aes256"])
def test_encryption_header_cut_short(bench, tmp_path, encryption):
    """The 12-byte header of the traditional cipher, or an AES entry's salt."""
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files=victim_files(),
                         args=[*hidden_args(out), "--password", PASSWORD, "--encryption", encryption])
    image = ArchiveImage(exe)
    first = image.entries[0]
    assert first.flags & 1
    image.skip_end_check()
    image.cut(first.data_offset + 5)
    image.save()
    run = bench.start(exe)
    answer_password(run, PASSWORD)
    expect_error(run, MSG_READ_FAILED.format(bench.winpath(exe), 14))
    assert not out.exists() or tree_names(out) == set()


# ---- records -------------------------------------------------------------------------------

SIGNATURE_CASES = [
    # bytes written over ("put") or put in front of ("insert") c.txt's local header, and
    # whether the walk refuses them
    ("spanning-signature", "put", b"PK\x07\x08", True),
    ("garbage", "put", b"PK\x03\x03", True),
    ("zeros-between-records", "insert", bytes(4), True),
    ("temporary-spanning-marker", "insert", b"PK00", False),
]


@pytest.mark.parametrize("how, chunk, refused", [c[1:] for c in SIGNATURE_CASES],
                         ids=[c[0] for c in SIGNATURE_CASES])
def test_unexpected_signature(bench, tmp_path, how, chunk, refused):
    exe, out, image = build(bench, tmp_path)
    at = image.entry("c.txt").offset
    if how == "put":
        image.data[at:at + 4] = chunk
    else:
        image.insert(at, chunk)
    image.save()
    run = bench.start(exe)
    if refused:
        expect_error(run, MSG_BAD_HEADER)
        assert_extracted(out, exe.source, ["a.txt", "b.bin"])
    else:
        expect_success(run)
        bench.compare_trees(out, exe.source)


def lengthen_name(image, name_offset, length_offset, new_length):
    """Pads a name in place (a local or central header) to new_length bytes."""
    old_length = struct.unpack_from("<H", image.data, length_offset)[0]
    image.insert(name_offset + old_length, b"y" * (new_length - old_length))
    image.put_u16(length_offset, new_length)


@pytest.mark.parametrize("length", [32768, 65535])
def test_name_length_in_local_header(bench, tmp_path, length):
    # The builder takes names of up to 259 bytes, so the name is lengthened in the built file.
    # On the NT family a name of more than 32,767 characters can never be a path: refused as
    # too long when read (259 bytes was the limit of the ANSI program; what a shorter name's
    # long component meets is the file system's matter).
    name = long_name(259)
    exe, out, image = build(bench, tmp_path, files={"a.txt": "vorher", name: "lang", "c.txt": "x"})
    entry = image.entry(name)
    lengthen_name(image, entry.field_offsets["name"], entry.field_offsets["name_length"], length)
    image.save()
    run = bench.start(exe)
    expect_error(run, MSG_NAMES_TOO_LONG)
    assert_extracted(out, exe.source, ["a.txt"])


# The central directory is only stepped over: on the NT family no name length stops it.
@pytest.mark.parametrize("length", [260, 261, 65535])
def test_name_length_in_central_header_after_all_entries(bench, tmp_path, length):
    exe, out, image = build(bench, tmp_path)
    last = image.central[-1]
    lengthen_name(image, last.offset + 46, last.offset + 28, length)
    image.save()
    run = bench.start(exe)
    expect_success(run)
    bench.compare_trees(out, exe.source)
