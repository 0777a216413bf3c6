"""AES-encrypted entries end to end: archives of 7-Zip and bsdtar and the builder's own, the
password verifier (a wrong password is refused like the traditional check byte), the
authentication code (damage is refused like a CRC error, a replaced file keeps its old
content), and AES headers the stub cannot use."""

import hashlib
import random

import pytest

from extractkit import (
    bsdtar_aes,
    FOLDER_FIELD, IDOK, MSG_BAD_CRC, MSG_READ_FAILED, MSG_UNSUPPORTED_METHOD,
    MSG_WRONG_PASSWORD, ArchiveImage, answer_password, expect_error,
    expect_success, hidden_args, run_tool, sevenzip, tree_names,
)
from winebench import exit_without_window, write_tree

PASSWORD = "Sesam, oeffne dich!"
AES_RECORD = b"\x01\x99\x07\x00"  # id 0x9901, 7 bytes
OLD_TIME = 1_500_000_000


def secret_files():
    rng = random.Random(24)
    return {
        "klar.txt": "Dies ist der Klartext.\r\n" * 40,
        "zufall.bin": rng.randbytes(70_000),  # several 28,672-byte chunks, not a multiple of 16
        "leer.txt": b"",
        "unter/tief/notiz.txt": "n" * 5000,
    }


# writer, vendor version of the encrypted entries (AE-1 also checks the CRC), strength
WRITERS = [
    ("7zip-aes128-stored", lambda s, a, pw: sevenzip(s, a, "-mx0", "-mem=AES128", "-p" + pw), 2, 1),
    ("7zip-aes192-stored", lambda s, a, pw: sevenzip(s, a, "-mx0", "-mem=AES192", "-p" + pw), 2, 2),
    ("7zip-aes256-stored", lambda s, a, pw: sevenzip(s, a, "-mx0", "-mem=AES256", "-p" + pw), 2, 3),
    ("7zip-aes128-deflate", lambda s, a, pw: sevenzip(s, a, "-mem=AES128", "-p" + pw), 2, 1),
    ("7zip-aes256-deflate", lambda s, a, pw: sevenzip(s, a, "-mem=AES256", "-p" + pw), 2, 3),
    ("bsdtar-aes256-deflate", bsdtar_aes, 1, 3),
    ("builder", None, 2, 3),
]


def aes_record_offset(image, entry):
    """Offset of the 0x9901 record's data in the entry's local extra field."""
    extra_start = entry.offset + 30 + len(entry.name)
    at = bytes(image.data[extra_start:entry.data_offset]).find(AES_RECORD)
    assert at >= 0, "no AES record"
    return extra_start + at + 4


def aes_verifier(image, entry, password):
    """The 2-byte password verifier the entry's salt gives for password."""
    strength = image.data[aes_record_offset(image, entry) + 4]
    salt = bytes(image.data[entry.data_offset:entry.data_offset + 4 + 4 * strength])
    key_size = 8 + 8 * strength
    return hashlib.pbkdf2_hmac("sha1", password.encode(), salt, 1000, 2 * key_size + 2)[-2:]


def wrong_password(image, entry):
    """A wrong password that also fails the verifier (one in 65,536 would pass it)."""
    strength = image.data[aes_record_offset(image, entry) + 4]
    verifier_at = entry.data_offset + 4 + 4 * strength
    for n in range(10):
        candidate = f"{PASSWORD}{n}"
        if aes_verifier(image, entry, candidate) != bytes(image.data[verifier_at:verifier_at + 2]):
            return candidate
    raise AssertionError("no failing password found")


def build_aes(bench, where, writer, files, *args):
    """A self-extractor of files AES-encrypted by writer (None: by the builder itself)."""
    if writer is None:
        return bench.make_sfx(where, files=files, args=["--password", PASSWORD, *args])
    source = write_tree(where / "src", files)
    archive = writer(source, where / "in.zip", PASSWORD)
    exe = bench.make_sfx(where, zip=archive, args=list(args))
    exe.source = source
    return exe


@pytest.mark.parametrize("writer, version, strength", [w[1:] for w in WRITERS],
                         ids=[w[0] for w in WRITERS])
def test_right_password_decrypts_every_entry(bench, tmp_path, writer, version, strength):
    out = tmp_path / "out"
    exe = build_aes(bench, tmp_path, writer, secret_files(), *hidden_args(out))
    image = ArchiveImage(exe)
    encrypted = [e for e in image.entries if e.flags & 1]
    assert encrypted and all(e.method == 99 for e in encrypted)
    for e in encrypted:
        record = aes_record_offset(image, e)
        assert image.data[record] == version and image.data[record + 4] == strength
    run = bench.start(exe)
    answer_password(run, PASSWORD)
    expect_success(run)
    bench.compare_trees(out, exe.source)


def test_wrong_password_fails_like_the_check_byte(bench, tmp_path):
    """A verifier that does not match is a wrong password, refused as the traditional cipher's
    check byte is (same box, same exit code) before anything of the entry is written."""
    out = tmp_path / "out"
    exe = build_aes(bench, tmp_path, None, {"a.txt": "geheim", "b/c.txt": "auch"})
    image = ArchiveImage(exe)
    run = bench.start(exe)
    main = run.dialog()
    main.settext(FOLDER_FIELD, bench.winpath(out))
    main.click(IDOK)
    answer_password(run, wrong_password(image, image.entry("a.txt")))
    expect_error(run, MSG_WRONG_PASSWORD)
    assert not (out / "a.txt").exists(), "refused before any output"


def test_wrong_password_on_the_command_line_exits_2_silently(bench, tmp_path):
    out = tmp_path / "out"
    exe = build_aes(bench, tmp_path, None, {"a.txt": "geheim"}, "--folder", bench.winpath(out))
    image = ArchiveImage(exe)
    run = bench.start(exe, f'-silent -password="{wrong_password(image, image.entry("a.txt"))}"')
    assert exit_without_window(run) == 2
    assert not (out / "a.txt").exists()
    run = bench.start(exe, f'-silent -password="{PASSWORD}"')
    assert exit_without_window(run) == 0
    assert (out / "a.txt").read_text() == "geheim"


# ---- damage ------------------------------------------------------------------------------------


def flip_data_byte(image, entry):
    image.data[entry.data_offset + 18 + (entry.compressed - 28) // 2] ^= 0x10


def flip_code_byte(image, entry):
    image.data[entry.data_offset + entry.compressed - 1] ^= 0x01


def change_ae1_crc(image, entry):
    image.data[entry.offset + 14] ^= 0x01


# damage, writer (None: the builder, AE-2); all are refused like a CRC error
DAMAGES = [
    ("flipped-ciphertext-byte", flip_data_byte, None),
    ("flipped-code-byte", flip_code_byte, None),
    ("ae1-crc-changed", change_ae1_crc, bsdtar_aes),
]


@pytest.mark.parametrize("damage, writer", [d[1:] for d in DAMAGES], ids=[d[0] for d in DAMAGES])
@pytest.mark.parametrize("replacing", [False, True], ids=["new-file", "replaced-file"])
def test_damage_fails_like_a_crc_error(bench, tmp_path, damage, writer, replacing):
    out = tmp_path / "out"
    if replacing:
        write_tree(out, {"b.bin": ("alt", OLD_TIME)})
    files = {"a.txt": "davor", "b.bin": random.Random(5).randbytes(50_000)}
    exe = build_aes(bench, tmp_path, writer, files, *hidden_args(out), "--overwrite")
    image = ArchiveImage(exe)
    damage(image, image.entry("b.bin"))
    image.save()
    run = bench.start(exe)
    answer_password(run, PASSWORD)
    expect_error(run, MSG_BAD_CRC.format(bench.winpath(out / "b.bin")))
    assert (out / "a.txt").read_text() == "davor"
    if replacing:
        assert (out / "b.bin").read_text() == "alt"
        assert (out / "b.bin").stat().st_mtime == OLD_TIME
        assert tree_names(out) == {"a.txt", "b.bin"}, "no temporary file left"


def test_ae2_entry_ignores_its_crc_field(bench, tmp_path):
    """AE-2 stores no CRC (0): the code alone decides, so a changed CRC field is no damage."""
    out = tmp_path / "out"
    exe = build_aes(bench, tmp_path, None, {"a.txt": "nur der Code zählt"}, *hidden_args(out))
    image = ArchiveImage(exe)
    change_ae1_crc(image, image.entry("a.txt"))
    image.save()
    run = bench.start(exe)
    answer_password(run, PASSWORD)
    expect_success(run)
    bench.compare_trees(out, exe.source)


# ---- headers the stub cannot use ---------------------------------------------------------------


def cut_in_salt(image, entry):
    image.skip_end_check()
    image.cut(entry.data_offset + 5)


def cut_in_code(image, entry):
    image.skip_end_check()
    image.cut(entry.data_offset + entry.compressed - 4)


def size_below_overhead(image, entry):
    image.data[entry.offset + 18:entry.offset + 22] = (20).to_bytes(4, "little")


def set_record_byte(position, value):
    def damage(image, entry):
        image.data[aes_record_offset(image, entry) + position] = value
    return damage


def set_record_size(size):
    def damage(image, entry):
        image.put_u16(aes_record_offset(image, entry) - 2, size)
    return damage


def set_outer_method(method):
    def damage(image, entry):
        image.put_u16(entry.field_offsets["method"], method)
    return damage


UNSUPPORTED = lambda bench, exe: MSG_UNSUPPORTED_METHOD  # noqa: E731

# damage, the message it ends with (a function of bench and exe), whether b.bin is created
BAD_HEADERS = [
    ("salt-cut-short", cut_in_salt, lambda bench, exe: MSG_READ_FAILED.format(bench.winpath(exe), 14), False),
    ("code-cut-short", cut_in_code, lambda bench, exe: MSG_READ_FAILED.format(bench.winpath(exe), 2), True),
    ("size-below-salt-and-code", size_below_overhead,
     lambda bench, exe: MSG_READ_FAILED.format(bench.winpath(exe), 14), False),
    ("unknown-strength", set_record_byte(4, 4), lambda bench, exe: MSG_UNSUPPORTED_METHOD, False),
    ("unknown-vendor-version", set_record_byte(0, 3), lambda bench, exe: MSG_UNSUPPORTED_METHOD, False),
    ("unknown-vendor-id", set_record_byte(2, ord("X")), lambda bench, exe: MSG_UNSUPPORTED_METHOD, False),
    # A damaged record is no wrong password: no password opens such an entry.
    ("record-of-0-bytes", set_record_size(0), UNSUPPORTED, False),
    ("record-of-6-bytes", set_record_size(6), UNSUPPORTED, False),
    ("record-of-8-bytes", set_record_size(8), UNSUPPORTED, False),
    ("record-of-255-bytes", set_record_size(255), UNSUPPORTED, False),
    ("outer-method-12", set_outer_method(12), UNSUPPORTED, False),
]


@pytest.mark.parametrize("damage, message, created", [b[1:] for b in BAD_HEADERS],
                         ids=[b[0] for b in BAD_HEADERS])
def test_unusable_aes_header_fails_clearly(bench, tmp_path, damage, message, created):
    out = tmp_path / "out"
    files = {"a.txt": "davor", "b.bin": random.Random(6).randbytes(3000)}
    exe = build_aes(bench, tmp_path, None, files, *hidden_args(out))
    image = ArchiveImage(exe)
    damage(image, image.entry("b.bin"))
    image.save()
    run = bench.start(exe)
    answer_password(run, PASSWORD)
    expect_error(run, message(bench, exe))
    assert (out / "a.txt").read_text() == "davor"
    assert (out / "b.bin").exists() == created


# ---- the real method, outside the authenticated data -------------------------------------------

# The AES record's method field is not covered by the authentication code: set to another
# method, an AE-2 entry (no CRC) decodes to output of the wrong size or content, which must be
# the damaged-data outcome, never a success. The old file stays.
@pytest.mark.parametrize("method", [0, 9], ids=["stored", "deflate64"])
def test_changed_real_method_is_damaged_data(bench, tmp_path, method):
    out = tmp_path / "out"
    write_tree(out, {"b.txt": ("alt", OLD_TIME)})
    files = {"a.txt": "davor", "b.txt": "Zeile für Zeile.\r\n" * 700}
    exe = build_aes(bench, tmp_path, None, files, *hidden_args(out), "--overwrite")
    image = ArchiveImage(exe)
    entry = image.entry("b.txt")
    record = aes_record_offset(image, entry)
    assert image.data[record] == 2 and image.data[record + 5] == 8, "AE-2, Deflate"
    set_record_byte(5, method)(image, entry)
    image.save()
    run = bench.start(exe)
    answer_password(run, PASSWORD)
    expect_error(run, MSG_BAD_CRC.format(bench.winpath(out / "b.txt")))
    assert (out / "a.txt").read_text() == "davor"
    assert (out / "b.txt").read_text() == "alt"
    assert tree_names(out) == {"a.txt", "b.txt"}, "no temporary file left"
