"""-test: every entry is read, decrypted, decoded and checked as an extraction would, and
nothing is written (no target folder, no file, no command). The outcome is a box (the count,
or the first error with the text an extraction gives for that entry) or, with -silent, a log
line; the exit code is 0 or 2. Packages from the builder, Info-ZIP, 7-Zip and Python."""
import random
import zipfile

import pytest

from extractkit import (
    MSG_BAD_CRC, MSG_WRONG_PASSWORD, PASSWORD_CAPTION, ArchiveImage, answer_password, infozip,
    password_that, pyzip, sevenzip, tree_names,
)
from test_aes import aes_record_offset, wrong_password as aes_wrong_password
from test_spanned import EXE_NAME, build_set, insert, noise, swap_when_asked
from winebench import BOX_CAPTION, Run, exit_without_window, quote, write_tree

PASSWORD = "Pruefung"
ECHO = "setup.exe"
TESTED = "{} Datei(en) geprüft, keine Fehler"
VICTIM = "sub/b.bin"


def package_files(bench):
    """Four files and an empty folder; the command is argecho, which logs if it is started."""
    rng = random.Random(25)
    lines = b"".join(b"Zeile %d: %s\r\n" % (i, rng.randbytes(8).hex().encode()) for i in range(3000))
    return {"a.txt": "erste Datei", VICTIM: lines, "leer/": None, "null.txt": b"",
            ECHO: bench.testprog("argecho").read_bytes()}


FILE_COUNT = 4


class Package:
    """A built package, its target folder (which a test must never create) and the password
    that opens it."""

    def __init__(self, bench, where, zip_writer=None, password=None, **options):
        self.out = where / "out"
        self.password = password
        files = package_files(bench)
        options = {"command": ECHO, "wait": True, "prompt": "Installieren?", "prompt_ask": True,
                   **options}
        args = ["--folder", bench.winpath(self.out)]
        if zip_writer is None:
            if password:
                args += ["--password", password]
            self.exe = bench.make_sfx(where, files=files, args=args, **options)
        else:
            archive = zip_writer(write_tree(where / "src", files), where / "in.zip", password)
            self.exe = bench.make_sfx(where, zip=archive, args=args, **options)
        self.image = ArchiveImage(self.exe)

    def flip_data_byte(self, name=VICTIM):
        entry = self.image.entry(name)
        self.image.data[entry.data_offset + entry.compressed // 2] ^= 0x10
        self.image.save()


def python_stored(source, archive, password):
    return pyzip(source, archive, zipfile.ZIP_STORED)


def infozip_deflated(source, archive, password):
    return infozip(source, archive, *(["-P", password] if password else []))


def sevenzip_aes(source, archive, password):
    return sevenzip(source, archive, "-mem=AES256", "-p" + password)


# ---- packages and what -test makes of them ------------------------------------------------------


def builder_plain(bench, where):
    return Package(bench, where)


def builder_aes(bench, where):
    return Package(bench, where, password=PASSWORD)


def builder_zipcrypto(bench, where):
    return Package(bench, where, password=PASSWORD, encryption="zipcrypto")


def infozip_zipcrypto(bench, where):
    return Package(bench, where, infozip_deflated, PASSWORD)


def sevenzip_aes256(bench, where):
    return Package(bench, where, sevenzip_aes, PASSWORD)


def python_stored_zip(bench, where):
    return Package(bench, where, python_stored)


def infozip_deflated_zip(bench, where):
    return Package(bench, where, infozip_deflated)


def flipped(make):
    def build(bench, where):
        package = make(bench, where)
        package.flip_data_byte()
        return package
    return build


def real_method(method):
    """The AES record's method (outside the authenticated data) of the victim set to another."""
    def build(bench, where):
        package = builder_aes(bench, where)
        entry = package.image.entry(VICTIM)
        package.image.data[aes_record_offset(package.image, entry) + 5] = method
        package.image.save()
        return package
    return build


def right_password(package):
    return f'-password="{package.password}"' if package.password else ""


def wrong_zipcrypto_password(package):
    return f'-password="{password_that(package.image, package.image.entry("a.txt"), passes=False)}"'


def wrong_aes_password(package):
    return f'-password="{aes_wrong_password(package.image, package.image.entry("a.txt"))}"'


def all_passed(bench, package):
    return TESTED.format(FILE_COUNT)


def bad_crc(bench, package):
    return MSG_BAD_CRC.format(VICTIM)


def wrong_password(bench, package):
    return MSG_WRONG_PASSWORD


# id, package, switches behind -test, exit code, the box's (or log line's) text
CASES = [
    ("builder", builder_plain, right_password, 0, all_passed),
    ("builder-aes", builder_aes, right_password, 0, all_passed),
    ("builder-zipcrypto", builder_zipcrypto, right_password, 0, all_passed),
    ("infozip-zipcrypto", infozip_zipcrypto, right_password, 0, all_passed),
    ("7zip-aes256", sevenzip_aes256, right_password, 0, all_passed),
    ("python-stored-flipped", flipped(python_stored_zip), right_password, 2, bad_crc),
    ("infozip-deflated-flipped", flipped(infozip_deflated_zip), right_password, 2, bad_crc),
    # the authentication code catches it (the builder's AE-2 entries have no CRC)
    ("builder-aes-flipped", flipped(builder_aes), right_password, 2, bad_crc),
    # AE-2 has no CRC: the size the header gives must catch data read by the wrong method.
    # (Read as Deflate64 this entry gives the same bytes: it has no match of length 258.)
    ("builder-aes-real-method-stored", real_method(0), right_password, 2, bad_crc),
    ("builder-aes-wrong-password", builder_aes, wrong_aes_password, 2, wrong_password),
    ("builder-zipcrypto-wrong-password", builder_zipcrypto, wrong_zipcrypto_password, 2,
     wrong_password),
]


def assert_nothing_written(package, echo_log):
    assert not package.out.exists(), tree_names(package.out)
    assert not echo_log.exists(), "the command ran"


def log_lines(path):
    return path.read_bytes().decode("utf-8").split("\r\n")[:-1]


@pytest.mark.parametrize("silent", [False, True], ids=["box", "silent"])
@pytest.mark.parametrize("make, switches, code, text", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_outcome_without_writing_anything(bench, tmp_path, silent, make, switches, code, text):
    package = make(bench, tmp_path)
    log, echo_log = tmp_path / "test.log", tmp_path / "echo.log"
    line = f'-test {switches(package)} -log="{bench.winpath(log)}"'
    run = bench.start(package.exe, line + (" -silent" if silent else ""),
                      env={"ARGECHO_LOG": bench.winpath(echo_log)})
    expected = text(bench, package)
    if silent:
        assert exit_without_window(run) == code
    else:
        # No start-up prompt: the first box is the outcome.
        box = run.wait_message_box(timeout=30)
        assert (box.text, box.caption, box.icon) == (expected, BOX_CAPTION, "error" if code else "none")
        box.click("OK")
        assert run.wait_exit() == code
    assert log_lines(log) == [f"Meldung: {expected}", f"Ende: Exitcode {code}"]
    assert_nothing_written(package, echo_log)


def test_other_switches_change_nothing_of_a_test(bench, tmp_path):
    """-dir=, -wait, -extract-only and -overwrite are accepted and neither write nor start."""
    package = builder_plain(bench, tmp_path)
    elsewhere, echo_log = tmp_path / "elsewhere", tmp_path / "echo.log"
    run = bench.start(package.exe, f'/TEST -wait -extract-only -overwrite -dir="{bench.winpath(elsewhere)}" '
                      '-args="x"', env={"ARGECHO_LOG": bench.winpath(echo_log)})
    box = run.wait_message_box()
    assert box.text == TESTED.format(FILE_COUNT)
    box.click("OK")
    assert run.wait_exit() == 0
    assert not elsewhere.exists()
    assert_nothing_written(package, echo_log)


def test_password_is_asked_as_for_an_extraction(bench, tmp_path):
    package = builder_zipcrypto(bench, tmp_path)
    run = bench.start(package.exe, "-Test")
    run.wait_window(caption=PASSWORD_CAPTION)
    answer_password(run, PASSWORD)
    box = run.wait_message_box()
    assert box.text == TESTED.format(FILE_COUNT)
    box.click("OK")
    assert run.wait_exit() == 0
    assert not package.out.exists()


def test_a_package_that_passes_extracts(bench, tmp_path):
    """The same package, tested and then extracted silently: the test's verdict holds."""
    package = builder_aes(bench, tmp_path)
    run = bench.start(package.exe, f'-test -silent -password="{PASSWORD}"')
    assert exit_without_window(run) == 0
    assert not package.out.exists()
    run = bench.start(package.exe, f'-silent -extract-only -password="{PASSWORD}"')
    assert exit_without_window(run) == 0
    bench.compare_trees(package.out, package.exe.source)


def test_spanned_package_is_tested_across_its_disks(bench, tmp_path):
    """Three floppies: the test asks for each disk as an extraction does and writes nothing."""
    out = tmp_path / "out"
    files = {f"daten/teil{i}.bin": noise(70000 + 9000 * i, i) for i in range(5)}
    disks = build_set(bench, tmp_path / "set", files, span=200 * 1024, password=PASSWORD,
                      encryption="zipcrypto", folder=bench.winpath(out))
    assert disks.count == 3
    floppy = bench.floppy()
    insert(floppy, disks, 1)
    driver = bench.session.driver(tmp_path / "driver-a.log")
    run = Run(driver, disks.disk(1) / EXE_NAME)
    bench.runs.append(run)
    root, exe, args = quote("A:\\"), quote("A:\\" + EXE_NAME), quote(f'-test -password="{PASSWORD}"')
    run.pid = driver.call(f"start {root} {exe} {args}")["pid"]
    swap_when_asked(run, floppy, disks, 2)
    swap_when_asked(run, floppy, disks, 3)
    box = run.wait_message_box()
    assert box.text == TESTED.format(len(files))
    box.click("OK")
    assert run.wait_exit() == 0
    assert not out.exists()
