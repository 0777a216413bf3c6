"""Traditional ZIP encryption end to end (the builder's with --encryption zipcrypto): the password dialog, the one-byte check against the
CRC or (with a data descriptor) the time, the password gate's messages, decrypted data."""

import random
import time

import pytest

from extractkit import (
    bsdtar_aes,
    FOLDER_FIELD, IDCANCEL, IDOK, MSG_FILES_EXTRACTED, MSG_NO_PASSWORD, MSG_WRONG_PASSWORD,
    PASSWORD_CAPTION, PASSWORD_EDIT, ArchiveImage, answer_password, expect_error, expect_success,
    hidden_args, infozip, infozip_streamed, password_that, run_tool, sevenzip,
    tree_names,
)
from winebench import TIME_FACTOR, exit_without_window, write_tree

# ASCII: Info-ZIP and 7-Zip take the password bytes of the (UTF-8) command line, the stub
# those of the ANSI code page.
PASSWORD = "Sesam, oeffne dich!"
ES_PASSWORD = 0x20
ZIPCRYPTO = ["--encryption", "zipcrypto"]  # the builder's default is AES


def secret_files():
    rng = random.Random(43)
    return {
        "klar.txt": "Dies ist der Klartext.\r\n" * 40,
        "zufall.bin": rng.randbytes(5000),
        "leer.txt": b"",
        "unter/tiefer/notiz.txt": "n" * 70_000,  # more than two 28,672-byte pieces
    }


def encrypted_entries(image):
    return [e for e in image.entries if e.flags & 1]


# writer, bit 3 expected on the encrypted entries (check byte from the time, else the CRC)
WRITERS = [
    ("infozip-stored", lambda s, a, pw: infozip(s, a, "-0", "-P", pw), True),
    ("infozip-deflated", lambda s, a, pw: infozip(s, a, "-P", pw), True),
    ("infozip-to-pipe", lambda s, a, pw: infozip_streamed(s, a, "-P", pw), True),
    ("7zip-stored", lambda s, a, pw: sevenzip(s, a, "-mm=Copy", "-mem=ZipCrypto", "-p" + pw),
     False),
    ("builder", None, False),
]


def build_encrypted(bench, where, writer, password, files, *args):
    """A self-extractor of files encrypted by writer (None: by the builder itself)."""
    if writer is None:
        return bench.make_sfx(where, files=files, args=["--password", password, *ZIPCRYPTO, *args])
    source = write_tree(where / "src", files)
    archive = writer(source, where / "in.zip", password)
    exe = bench.make_sfx(where, zip=archive, args=list(args))
    exe.source = source
    return exe


@pytest.mark.parametrize("writer, bit3", [w[1:] for w in WRITERS], ids=[w[0] for w in WRITERS])
def test_right_password_decrypts_every_entry(bench, tmp_path, writer, bit3):
    out = tmp_path / "out"
    exe = build_encrypted(bench, tmp_path, writer, PASSWORD, secret_files(), *hidden_args(out))
    image = ArchiveImage(exe)
    entries = encrypted_entries(image)
    assert len(entries) == 4 and all(bool(e.flags & 8) == bit3 for e in entries)
    # The two candidate check bytes differ, so checking the wrong one would refuse the password.
    assert all(e.mod_time >> 8 != e.crc >> 24 for e in entries)

    run = bench.start(exe)
    dialog = run.wait_window(caption=PASSWORD_CAPTION)
    assert dialog[PASSWORD_EDIT].style & ES_PASSWORD
    answer_password(run, PASSWORD)
    expect_success(run)
    # byte for byte: none of the 12 header bytes reached an output file
    bench.compare_trees(out, exe.source)


@pytest.mark.parametrize("given, message", [(None, MSG_NO_PASSWORD), ("wrong", MSG_WRONG_PASSWORD)],
                         ids=["no-password", "wrong-password"])
def test_plain_entries_before_the_first_encrypted_one_are_extracted(bench, tmp_path, given,
                                                                    message):
    source = write_tree(tmp_path / "src", {"a-klar.txt": "offen", "b-klar/c.txt": "auch offen",
                                            "z-geheim.txt": "geheim" * 100})
    archive = tmp_path / "in.zip"
    run_tool(["zip", "-q", "-r", str(archive), ".", "-x", "z-geheim.txt"], cwd=source)
    run_tool(["zip", "-q", "-P", PASSWORD, str(archive), "z-geheim.txt"], cwd=source)
    out = tmp_path / "out"
    args = hidden_args(out) + (["--no-password-first"] if given is None else [])
    exe = bench.make_sfx(tmp_path, zip=archive, args=args)
    image = ArchiveImage(exe)
    assert [bool(e.flags & 1) for e in image.entries if not e.name.endswith(b"/")] == [
        False, False, True]

    run = bench.start(exe)
    if given is not None:
        answer_password(run, password_that(image, image.entry("z-geheim.txt"), passes=False))
    expect_error(run, message)
    assert tree_names(out) == {"a-klar.txt", "b-klar/", "b-klar/c.txt"}
    bench.compare_trees(out / "b-klar", source / "b-klar")


def long_password(length: int) -> str:
    return "".join(chr(ord("a") + i % 26) for i in range(length))


@pytest.mark.parametrize("extra", ["", "x"], ids=["254-characters", "255-characters"])
def test_password_length_limit(bench, tmp_path, extra):
    """254 bytes is the one limit: the dialog and -password= take it; one more is never cut to
    a password nobody gave (the dialog stays open, the switch is an invalid parameter)."""
    out = tmp_path / "out"
    password = long_password(254)
    exe = bench.make_sfx(tmp_path, files={"a.txt": "lang geschützt"},
                         args=["--password", password, *ZIPCRYPTO, "--folder", bench.winpath(out)])
    entered = password + extra
    run = bench.start(exe)
    main = run.dialog()
    main.click(IDOK)
    dialog = run.wait_window(caption=PASSWORD_CAPTION)
    dialog.settext(PASSWORD_EDIT, entered)
    dialog.click(IDOK)
    if extra:
        time.sleep(0.5 * TIME_FACTOR)
        assert dialog.refresh().visible
        dialog.click(IDCANCEL)
        dialog.wait_gone()
        assert not (out / "a.txt").exists()
    else:
        dialog.wait_gone()
        done = run.wait_message_box()
        assert done.text == MSG_FILES_EXTRACTED.format(1)
        done.click("OK")
        bench.compare_trees(out, exe.source)
    main.click(IDCANCEL)
    assert run.wait_exit() == (3 if extra else 0)
    switch = bench.start(exe, f'-silent -overwrite -password="{entered}"')
    assert exit_without_window(switch) == (2 if extra else 0)


# Other tools' archives whose passwords pass 99 characters (7-Zip writes AES only up to 99, so
# its long password is a traditional one): the dialog and -password= both open them.
LONG_PASSWORD_WRITERS = [
    ("bsdtar-aes256-100", bsdtar_aes, 100),
    ("bsdtar-aes256-200", bsdtar_aes, 200),
    ("infozip-200", lambda s, a, pw: infozip(s, a, "-P", pw), 200),
    ("7zip-zipcrypto-200", lambda s, a, pw: sevenzip(s, a, "-mem=ZipCrypto", "-p" + pw), 200),
]


@pytest.mark.parametrize("writer, length", [w[1:] for w in LONG_PASSWORD_WRITERS],
                         ids=[w[0] for w in LONG_PASSWORD_WRITERS])
@pytest.mark.parametrize("entered", ["dialog", "switch"])
def test_long_password_of_other_tools_opens(bench, tmp_path, writer, length, entered):
    out = tmp_path / "out"
    password = long_password(length)
    exe = build_encrypted(bench, tmp_path, writer, password, {"a.txt": "lang geschützt", "b/c.txt": "auch"},
                          *hidden_args(out))
    if entered == "dialog":
        run = bench.start(exe)
        answer_password(run, password)
        expect_success(run)
    else:
        assert exit_without_window(bench.start(exe, f'-silent -password="{password}"')) == 0
    bench.compare_trees(out, exe.source)


def test_cancel_and_empty_ok_keep_the_run_from_starting(bench, tmp_path):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"a.txt": "geheim", "b/c.txt": "auch"},
                         args=["--password", PASSWORD])
    run = bench.start(exe)
    main = run.dialog()
    main.settext(FOLDER_FIELD, bench.winpath(out))

    main.click(IDOK)
    password = run.wait_window(caption=PASSWORD_CAPTION)
    assert password.owner == main.hwnd
    password.click(IDCANCEL)
    password.wait_gone()
    run.wait_until(lambda: main.refresh()[IDOK].enabled, what="Extract enabled again")
    assert not out.exists()

    main.click(IDOK)
    password = run.wait_window(caption=PASSWORD_CAPTION)
    password.click(IDOK)  # empty field: nothing happens
    time.sleep(0.5 * TIME_FACTOR)
    assert password.refresh().visible
    assert not out.exists()
    answer_password(run, PASSWORD)
    done = run.wait_message_box()
    assert done.text == MSG_FILES_EXTRACTED.format(2)
    done.click("OK")
    main.click(IDCANCEL)
    assert run.wait_exit() == 0
    bench.compare_trees(out, exe.source)


@pytest.mark.parametrize("writer", ["infozip", "builder"],
                         ids=["with-descriptor", "without-descriptor"])
def test_skipped_encrypted_entry_is_stepped_over_whole(bench, tmp_path, writer):
    """No at the overwrite question steps over the encryption header, the data and (bit 3)
    the data descriptor: the next entries still decrypt."""
    out = tmp_path / "out"
    files = {"a.txt": "neu a", "b.bin": random.Random(7).randbytes(40_000), "c.txt": "neu c"}
    make = (lambda s, a, pw: infozip(s, a, "-P", pw)) if writer == "infozip" else None
    exe = build_encrypted(bench, tmp_path, make, PASSWORD, files)
    assert all(bool(e.flags & 8) == (writer == "infozip") for e in ArchiveImage(exe).entries)
    write_tree(out, {"b.bin": "alt"})
    run = bench.start(exe)
    main = run.dialog()
    main.settext(FOLDER_FIELD, bench.winpath(out))
    main.click(IDOK)
    answer_password(run, PASSWORD)
    run.wait_message_box().click("Nein")
    done = run.wait_message_box()
    assert done.text == MSG_FILES_EXTRACTED.format(2)
    done.click("OK")
    main.click(IDCANCEL)
    assert run.wait_exit() == 0
    assert (out / "b.bin").read_text() == "alt"
    for name in ("a.txt", "c.txt"):
        assert (out / name).read_bytes() == (exe.source / name).read_bytes()


def test_cancelled_password_ends_a_hidden_run(bench, tmp_path):
    """A hidden dialog has no button left to press: Cancel in the password dialog ends the
    program with exit code 3 instead of leaving it waiting for ever."""
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"a.txt": "geheim"},
                         args=["--password", PASSWORD, "--hidden", "--folder", bench.winpath(out)])
    run = bench.start(exe)
    password = run.wait_window(caption=PASSWORD_CAPTION)
    password.click(IDCANCEL)
    assert run.wait_exit() == 3
    assert not out.exists()
