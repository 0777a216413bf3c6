"""Spanned self-extractors on floppies: the disks of `tvsfx build --multi-volume --span`
mounted as drive A: (label from the disk folder's .windows-label), the program started as
A:\\SETUP.EXE, and the disks swapped when it asks for the next one."""

import random
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

from winebench import (BUILDER, SFX_MULTI_VOLUME, BenchError, Run, StubFile, builder_arguments,
                       quote, read_argecho_log, winpath)

SPAN = 96 * 1024
EXE_NAME = "SETUP.EXE"

INSERT_DISK = "Bitte legen Sie Datenträger {} in Laufwerk A: ein."
LABEL_PROMPT = ("Der Datenträger im Laufwerk fehlt\noder hat eine falsche Bezeichnung.\n"
                "Legen Sie Datenträger {} ein.")
DONE = "{} Datei(en) erfolgreich extrahiert"
DAMAGED = "Archiv ist beschädigt oder wurde verkürzt"
OVERWRITE = "Datei {} existiert bereits. Überschreiben"

IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO = 1, 2, 3, 4, 5, 6, 7
FOLDER_FIELD, ARCHIVER_BUTTON, CLOSE = 106, 113, 2
PASSWORD_CAPTION, PASSWORD_FIELD = "Tarvel Self-Extractor - Kennwort", 402
LOCAL_HEADER = b"PK\x03\x04"
# Insert a disk with the label the builder wrote for it.
AS_BUILT = "as built"


# A folder file's local header carries its extended timestamp (0x5455, modification time only).
TIME_FIELD = 9

def noise(size: int, seed: int) -> bytes:
    """Incompressible bytes, so the builder stores them and sizes stay predictable."""
    return random.Random(seed).randbytes(size)


@dataclass
class DiskSet:
    folder: Path
    source: Path
    exe_volumes: bool
    labels: dict  # disk number -> the label the builder wrote (inserting rewrites the file)

    @property
    def count(self) -> int:
        return len(self.labels)

    def disk(self, number: int) -> Path:
        return self.folder / f"disk{number}"

    def label(self, number: int) -> str:
        return self.labels[number]

    def part(self, number: int) -> bytes:
        """Disk `number`'s part of the archive stream."""
        data = (self.disk(number) / ("SETUP.EXE" if self.exe_volumes else "SETUP.ZIP")).read_bytes()
        if number == 1 and self.exe_volumes:
            data = data[StubFile(self.disk(1) / EXE_NAME)["archive_offset"]:]
        return data


def build_set(bench, where: Path, files: dict, exe_volumes: bool = False, span: int = SPAN,
              **options) -> DiskSet:
    source = bench.write_tree(where / "src", files)
    folder = where / "disks"
    command = [str(BUILDER), "build", "--multi-volume", "--span", str(span), "--name", "setup",
               "-o", str(folder), *builder_arguments(options), str(source)]
    if exe_volumes:
        command.insert(3, "--exe-volumes")
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise BenchError(f"builder failed: {' '.join(command)}\n{result.stderr}{result.stdout}")
    labels = {int(d.name[4:]): (d / ".windows-label").read_text() for d in folder.glob("disk*")}
    return DiskSet(folder, source, exe_volumes, labels)


def disk1_room(bench, where: Path, exe_volumes: bool) -> int:
    """Archive bytes that disk 1 holds beside the self-extractor, measured on a probe set."""
    probe = build_set(bench, where, {"a.bin": noise(SPAN, 1)}, exe_volumes)
    return len(probe.part(1))


def insert(floppy, disks: DiskSet, number: int, label: str | None = AS_BUILT) -> None:
    floppy.insert(disks.disk(number), disks.label(number) if label == AS_BUILT else label)


def start_from_floppy(bench, disks: DiskSet, label: str | None = AS_BUILT,
                      env: dict | None = None):
    """Puts disk 1 into A: and starts A:\\SETUP.EXE from there, as a user would."""
    floppy = bench.floppy()
    insert(floppy, disks, 1, label)
    driver = bench.session.driver(bench.tmp_path / f"driver-a{len(bench.runs) + 1}.log")
    run = Run(driver, disks.disk(1) / EXE_NAME)
    bench.runs.append(run)
    for name, value in (env or {}).items():
        driver.call(f"setenv {quote(name)} {quote(value)}")
    root, exe = quote("A:\\"), quote("A:\\" + EXE_NAME)
    run.pid = driver.call(f"start {root} {exe}")["pid"]
    return run, floppy


def start_extraction(run: Run, target: Path, password: str | None = None):
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, winpath(target))
    dialog.click(IDOK)
    if password is not None:
        asked = run.wait_window(caption=PASSWORD_CAPTION)
        asked.settext(PASSWORD_FIELD, password)
        asked.click(IDOK)
        asked.wait_gone()
    return dialog


def expect_box(run: Run, text: str, buttons: list, icon: str = "none"):
    """The next message box (the one before it has gone), with this text, icon and buttons."""
    box = run.wait_message_box()
    assert (box.text, box.icon, box.button_ids) == (text, icon, buttons)
    return box


def swap_when_asked(run: Run, floppy, disks: DiskSet, number: int) -> None:
    box = expect_box(run, INSERT_DISK.format(number), [IDOK, IDCANCEL])
    insert(floppy, disks, number)
    box.click(IDOK)


def finish(run: Run, dialog, files: int) -> None:
    expect_box(run, DONE.format(files), [IDOK]).click(IDOK)
    dialog.click(CLOSE)
    assert run.wait_exit() == 0


# ---- whole sets ---------------------------------------------------------------------------------


THREE_DISK_CASES = [
    # id, .EXE volumes, password, cipher (encrypted data is decrypted on across the disks; an
    # AES chunk that ends with its disk ends inside a keystream block)
    ("zip-volumes", False, None, None),
    ("exe-volumes", True, None, None),
    ("encrypted-zip-volumes", False, "geheim", None),
    ("zipcrypto-zip-volumes", False, "geheim", "zipcrypto"),
]


@pytest.mark.parametrize("exe_volumes, password, encryption", [c[1:] for c in THREE_DISK_CASES],
                         ids=[c[0] for c in THREE_DISK_CASES])
def test_three_disks_extract_like_the_single_file(bench, tmp_path, exe_volumes, password, encryption):
    files = {f"daten/teil{i}.bin": noise(70000 + 9000 * i, i) for i in range(5)}
    files.update({"liesmich.txt": "Zeile\r\n" * 3000, "leer/": None, "null.txt": b""})
    disks = build_set(bench, tmp_path / "set", files, exe_volumes, span=200 * 1024, password=password,
                      encryption=encryption)
    assert disks.labels == {1: "PKBACK# 001", 2: "PKBACK# 002", 3: "PKBACK# 003"}

    run, floppy = start_from_floppy(bench, disks)
    dialog = start_extraction(run, tmp_path / "out", password)
    swap_when_asked(run, floppy, disks, 2)
    swap_when_asked(run, floppy, disks, 3)
    finish(run, dialog, 7)

    single = bench.make_sfx(tmp_path / "single", files=files, password=password, encryption=encryption)
    run = bench.start(single)
    dialog = start_extraction(run, tmp_path / "single-out", password)
    finish(run, dialog, 7)
    bench.compare_trees(tmp_path / "out", tmp_path / "single-out")
    bench.compare_trees(tmp_path / "out", disks.source)


@pytest.mark.parametrize("exe_volumes", [False, True], ids=["zip-volumes", "exe-volumes"])
def test_data_that_ends_exactly_at_the_disk_end(bench, tmp_path, exe_volumes):
    """a.bin's data fills disk 1 to its last byte; the signature read there comes up empty
    and is read again from the start of disk 2."""
    room = disk1_room(bench, tmp_path / "probe", exe_volumes)
    a_size = room - 4 - (30 + len("a.bin") + TIME_FIELD)
    disks = build_set(bench, tmp_path / "set", {"a.bin": noise(a_size, 1), "b.bin": noise(5000, 2)},
                      exe_volumes)
    first, second = disks.part(1), disks.part(2)
    assert len(first) == room and first.endswith(noise(a_size, 1)[-64:])
    assert second[:4] == LOCAL_HEADER and second[30:35] == b"b.bin"

    run, floppy = start_from_floppy(bench, disks)
    dialog = start_extraction(run, tmp_path / "out")
    swap_when_asked(run, floppy, disks, 2)
    finish(run, dialog, 2)
    bench.compare_trees(tmp_path / "out", disks.source)


def four_bit_text(size: int, seed: int) -> bytes:
    """Letters of a 16-letter alphabet at random: LZMA keeps about half of them, so a few
    hundred KiB make LZMA streams that run over several disks."""
    return bytes(random.Random(seed).choices(b"abcdefghijklmnop", k=size))


@pytest.mark.parametrize("password", [None, "geheim"], ids=["plain", "aes"])
def test_lzma_entries_run_across_disks(bench, tmp_path, password):
    """The LZMA decoder reads on from the next disk in the middle of its stream (through the
    AES cipher too) and every file comes out exactly."""
    files = {"eins.txt": four_bit_text(260000, 1), "zwei.txt": four_bit_text(90000, 2), "leer.txt": b""}
    disks = build_set(bench, tmp_path / "set", files, password=password, method="lzma")
    assert disks.count >= 3
    first = disks.part(1)[4:]  # after the spanning signature
    assert first[:4] == LOCAL_HEADER and int.from_bytes(first[8:10], "little") == (99 if password else 14)

    run, floppy = start_from_floppy(bench, disks)
    dialog = start_extraction(run, tmp_path / "out", password)
    for number in range(2, disks.count + 1):
        swap_when_asked(run, floppy, disks, number)
    finish(run, dialog, 3)
    bench.compare_trees(tmp_path / "out", disks.source)


SKIP_CASES = [
    # id, b.bin's data starts: inside disk 1 and runs on, or exactly at disk 2's start
    ("data-runs-on", False),
    ("data-starts-disk-2", True),
]


@pytest.mark.parametrize("at_disk_start", [c[1] for c in SKIP_CASES], ids=[c[0] for c in SKIP_CASES])
def test_skipped_entry_is_stepped_over_on_the_next_disk(bench, tmp_path, at_disk_start):
    """No at the overwrite prompt for b.bin, whose data continues on disk 2: the rest is
    stepped over there and c.bin, behind it on disk 2, is extracted."""
    room = disk1_room(bench, tmp_path / "probe", False)
    header = 30 + len("a.bin") + TIME_FIELD
    a_size = room - 4 - 2 * header if at_disk_start else 3000
    # b.bin's size is no multiple of 4: a walk that missed its data and stepped over it 4 bytes
    # at a time, as over unknown bytes, would not meet c.bin's header.
    files = {"a.bin": noise(a_size, 1), "b.bin": noise(40001, 2), "c.bin": noise(3000, 3)}
    disks = build_set(bench, tmp_path / "set", files)
    assert disks.count == 2
    first, second = disks.part(1), disks.part(2)
    b_start = files["b.bin"][:64]
    if at_disk_start:
        assert len(first) == room and first[-header:][:4] == LOCAL_HEADER
        assert first[-header:][30:35] == b"b.bin" and second.startswith(b_start)
    else:
        assert b_start in first and not second.startswith(LOCAL_HEADER)

    out = tmp_path / "out"
    bench.write_tree(out, {"b.bin": b"alt"})
    run, floppy = start_from_floppy(bench, disks)
    dialog = start_extraction(run, out)
    box = expect_box(run, OVERWRITE.format(winpath(out / "b.bin")), [IDYES, IDNO, IDCANCEL])
    box.click(IDNO)
    swap_when_asked(run, floppy, disks, 2)
    finish(run, dialog, 2)
    assert (out / "b.bin").read_bytes() == b"alt"
    assert (out / "a.bin").read_bytes() == files["a.bin"]
    assert (out / "c.bin").read_bytes() == files["c.bin"]


# ---- start-up -----------------------------------------------------------------------------------

STARTUP_CASES = [
    # id, disk 1's label, the box start-up shows, whether the disk is relabelled before the
    # answer, the answer, how often the box comes. An unlabelled disk taken by Ignore is
    # asked for twice: start-up opens disk 1, and so does the configuration reader.
    ("wrong-number", "PKBACK# 002", (INSERT_DISK.format(1), [IDOK, IDCANCEL], "none"), True, IDOK, 1),
    ("no-label-ignored", None, (LABEL_PROMPT.format(1), [IDABORT, IDRETRY, IDIGNORE], "question"), False,
     IDIGNORE, 2),
]


@pytest.mark.parametrize("label, box_seen, relabel, answer, times", [c[1:] for c in STARTUP_CASES],
                         ids=[c[0] for c in STARTUP_CASES])
def test_startup_asks_for_disk_one_before_reading_the_configuration(bench, tmp_path, label, box_seen,
                                                                    relabel, answer, times):
    disks = build_set(bench, tmp_path / "set", {"a.bin": noise(90000, 1)}, prompt="Weiter?",
                      folder="C:\\Ziel")
    run, floppy = start_from_floppy(bench, disks, label)
    for _ in range(times):
        box = expect_box(run, *box_seen)
        if relabel:
            insert(floppy, disks, 1)
        box.click(answer)
    # Next comes the start-up prompt of the configuration, read from disk 1.
    expect_box(run, "Weiter?", [IDOK]).click(IDOK)
    dialog = run.dialog()
    assert dialog[FOLDER_FIELD].text == "C:\\Ziel"
    dialog.click(CLOSE)
    assert run.wait_exit() == 0


REFUSE_CASES = [
    # id, disk 1's label, the prompt it gets, the answer
    ("cancel", "PKBACK# 003", INSERT_DISK.format(1), IDCANCEL),
    ("abort", "BACKUP", LABEL_PROMPT.format(1), IDABORT),
]


@pytest.mark.parametrize("label, text, answer", [c[1:] for c in REFUSE_CASES], ids=[c[0] for c in REFUSE_CASES])
def test_startup_ends_when_disk_one_is_refused(bench, tmp_path, label, text, answer):
    disks = build_set(bench, tmp_path / "set", {"a.bin": noise(90000, 1)})
    run, _ = start_from_floppy(bench, disks, label)
    box = run.wait_message_box()
    assert box.text == text
    box.click(answer, wait_gone=False)
    assert run.wait_exit() == 3, "the program ends without its dialog, declined"


@pytest.mark.parametrize("spanned", [True, False], ids=["spanned", "single"])
def test_end_record_is_not_checked_for_a_spanned_file(bench, tmp_path, spanned):
    """end_record_offset made to point at the PE headers: a spanned file starts anyway, the
    same file read as a single volume stops with message 39."""
    disks = build_set(bench, tmp_path / "set", {"a.bin": noise(90000, 1)})
    exe = bench.patch(disks.disk(1) / EXE_NAME)
    exe["end_record_offset"] = 0x80
    if not spanned:
        exe["flags"] &= ~SFX_MULTI_VOLUME
    exe.fix_stub_crc()
    exe.save()
    run, _ = start_from_floppy(bench, disks)
    if spanned:
        run.dialog().click(CLOSE)
    else:
        box = run.wait_message_box()
        assert box.text.startswith(DAMAGED) and box.icon == "error"
        box.click(IDOK)
    assert run.wait_exit() == (0 if spanned else 2)


# ---- disk labels --------------------------------------------------------------------------------


OUTPUT_PIECE = 28672  # the stub writes its output in pieces of this size


def data_on_disk1(disks: DiskSet) -> int:
    """Bytes of the first entry's data on disk 1 (behind its local header)."""
    part = disks.part(1)
    header = part.index(LOCAL_HEADER)
    name_size = int.from_bytes(part[header + 26:header + 28], "little")
    extra_size = int.from_bytes(part[header + 28:header + 30], "little")
    return len(part) - (header + 30 + name_size + extra_size)


def two_disk_set(bench, tmp_path: Path, exe_volumes: bool = False) -> DiskSet:
    """a.bin runs from disk 1 onto disk 2, where b.txt follows."""
    disks = build_set(bench, tmp_path / "set", {"a.bin": noise(60000, 1), "b.txt": "b\r\n" * 100},
                      exe_volumes)
    assert disks.count == 2
    return disks


LABEL_CASES = [
    # label of disk 2 when the program asks for it, and what the program makes of it
    ("PKBACK# 002", "disk 2"),
    ("PKBACK#.002", "disk 2"),
    ("PKBACK# 2X", "disk 2"),
    ("PKBACK# 003", "another disk"),
    ("PKBACK#.003", "another disk"),
    ("PKBACK#003", "no label"),
    ("BACKUP", "no label"),
    (None, "no label"),
]


@pytest.mark.parametrize("label, taken_as", LABEL_CASES, ids=[str(c[0]) for c in LABEL_CASES])
def test_disk_label_decides_the_prompt(bench, tmp_path, label, taken_as):
    """Another disk is asked for again (OK) until disk 2 is in; a disk without a valid label
    gets the label prompt, repeated (Retry) until disk 2 is in."""
    disks = two_disk_set(bench, tmp_path)
    run, floppy = start_from_floppy(bench, disks)
    dialog = start_extraction(run, tmp_path / "out")
    box = expect_box(run, INSERT_DISK.format(2), [IDOK, IDCANCEL])
    insert(floppy, disks, 2, label)
    box.click(IDOK)
    if taken_as != "disk 2":
        if taken_as == "another disk":
            prompt, answer = (INSERT_DISK.format(2), [IDOK, IDCANCEL], "none"), IDOK
        else:
            prompt, answer = (LABEL_PROMPT.format(2), [IDABORT, IDRETRY, IDIGNORE], "question"), IDRETRY
        expect_box(run, *prompt).click(answer)
        box = expect_box(run, *prompt)
        insert(floppy, disks, 2)
        box.click(answer)
    finish(run, dialog, 2)
    bench.compare_trees(tmp_path / "out", disks.source)


def test_ignore_takes_the_unlabelled_disk_as_the_wanted_one(bench, tmp_path):
    disks = two_disk_set(bench, tmp_path)
    run, floppy = start_from_floppy(bench, disks)
    dialog = start_extraction(run, tmp_path / "out")
    box = expect_box(run, INSERT_DISK.format(2), [IDOK, IDCANCEL])
    insert(floppy, disks, 2, "BACKUP")
    box.click(IDOK)
    expect_box(run, LABEL_PROMPT.format(2), [IDABORT, IDRETRY, IDIGNORE], "question").click(IDIGNORE)
    finish(run, dialog, 2)
    bench.compare_trees(tmp_path / "out", disks.source)


GIVE_UP_CASES = [
    # id, disk in the drive when disk 2 is asked for, the prompt then, the answer
    ("cancel", "PKBACK# 001", INSERT_DISK.format(2), IDCANCEL),
    ("abort", "BACKUP", LABEL_PROMPT.format(2), IDABORT),
]


@pytest.mark.parametrize("label, prompt, answer", [c[1:] for c in GIVE_UP_CASES],
                         ids=[c[0] for c in GIVE_UP_CASES])
def test_giving_up_a_disk_ends_the_run(bench, tmp_path, label, prompt, answer):
    """The run is abandoned: a.bin stays as far as it was written (the output goes out in
    whole 28,672-byte pieces, so as many as disk 1 holds of it; how many depends on the size of
    the stub beside them), b.txt is never written, no completion box comes and the dialog ends
    (its status line says "Extrahieren abgebrochen" only for the moment before it closes)."""
    disks = two_disk_set(bench, tmp_path)
    out = tmp_path / "out"
    run, floppy = start_from_floppy(bench, disks)
    start_extraction(run, out)
    box = expect_box(run, INSERT_DISK.format(2), [IDOK, IDCANCEL])
    insert(floppy, disks, 2, label)
    box.click(IDOK)
    box = run.wait_message_box()
    assert box.text == prompt
    box.click(answer, wait_gone=False)
    assert run.wait_exit() == 3
    assert (out / "a.bin").stat().st_size == data_on_disk1(disks) // OUTPUT_PIECE * OUTPUT_PIECE
    assert not (out / "b.txt").exists()


# ---- the archiver button --------------------------------------------------------------------------


@pytest.fixture
def archiver(bench):
    """The archiver's open command is argecho.exe for this test only: other tests in the
    session expect none to be registered."""
    env = bench.session.env
    key = r"HKCR\tarvel\shell\open\command"
    command = winpath(bench.testprog("argecho")) + " %1"
    subprocess.run(["wine", "reg", "add", key, "/ve", "/d", command, "/f"], env=env, check=True,
                   capture_output=True)
    yield
    subprocess.run(["wine", "reg", "delete", r"HKCR\tarvel", "/f"], env=env, check=True,
                   capture_output=True)


@pytest.mark.parametrize("exe_volumes, opened", [(False, "A:\\SETUP.zip"), (True, "A:\\SETUP.EXE")],
                         ids=["zip-volumes", "exe-volumes"])
def test_archiver_opens_the_file_that_holds_the_archive(bench, tmp_path, archiver, exe_volumes,
                                                        opened):
    disks = build_set(bench, tmp_path / "set", {"a.bin": noise(90000, 1)}, exe_volumes)
    log = tmp_path / "argecho.log"
    run, _ = start_from_floppy(bench, disks, env={"ARGECHO_LOG": winpath(log)})
    run.dialog().click(ARCHIVER_BUTTON)
    assert run.wait_exit() == 0
    started = run.wait_until(lambda: read_argecho_log(log), what="the archiver's start")
    assert started[0]["args"] == f'"{opened}"'
