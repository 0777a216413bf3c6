"""Checks of the program's own file at start-up (stub checksum, end record, entry point,
complete mark) and the internal-error box and report.

Most cases start the file with "-info": the command line is handled after every check of
the file, so the info box means the file passed them, and an error box shows which failed.
"""

import os
import re
import zlib
from datetime import datetime, timezone

import pytest

from sfxfile import (ARCHIVE_DAMAGED, HEADER_ERROR, INCOMPLETE, REPORT_NAME, build_sfx,
                     config_plain, deflate_raw, fields_with, fixed_text, padded_section,
                     redirect_entry_point, with_config)
from winebench import (BOX_CAPTION, EMULATED, OUT_DIR, RECORD_FIELDS, SFX_USE_TITLE,
                       MessageBox, StubFile)

INFO = "Info-Text"
FILES = {"a.txt": b"abc" * 100, "sub/b.txt": b"b"}
DOS_STUB_BYTE = 0x50  # inside "This program cannot be run in DOS mode"
PE_TIME_STAMP = 8     # from the PE signature
WARNING_BOX_WAIT = 5.0


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    """Two self-extractors from the same files: the builder's default checksum (after the PE
    headers) and one from offset 0."""
    where = tmp_path_factory.mktemp("selfcheck")
    return {
        "after": build_sfx(where / "after", files=FILES, info=INFO),
        "from_start": build_sfx(where / "from_start", files=FILES, info=INFO, crc_from_start=True),
    }


def expect_box(run, text, icon, buttons=(1,)):
    """The one box the program shows before any dialog (so without owner); pressing its
    button ends the program, with exit code 2 after an error box, else 0."""
    box = run.wait_message_box()
    assert (box.caption, box.text, box.icon) == (BOX_CAPTION, text, icon)
    assert box.owner == 0 and box.button_ids == list(buttons)
    # No dialog of the program's own beside the box. Other top-level windows do not count: under
    # the emulator Wine may show a helper window without a title for a moment.
    assert [w.caption for w in run.windows()
            if w.cls == "#32770" and not isinstance(w, MessageBox)] == []
    box.click(box.button_ids[0])
    assert run.wait_exit() == (2 if icon == "error" else 0)


# ---- stub checksum, end record, entry point, complete mark -----------------------------------


def flip(offset):
    def change(f):
        f.data[offset(f)] ^= 0x20
    return change


def code_padding(f):
    """A byte of the zero padding behind a section's contents (the code's where it has any):
    covered by the checksum, never read."""
    padded = padded_section(f, 1)
    return padded.raw_pointer + padded.raw_size - 1


def crc_from_offset_0(f):
    """The sum a checksum from offset 0 gives, whatever the flags say."""
    block = bytearray(f.data[:f["archive_offset"]])
    at = f.record_offset + RECORD_FIELDS["stub_crc"][0]
    block[at:at + 4] = bytes(4)
    return zlib.crc32(bytes(block)) & 0xFFFFFFFF


def set_stub_crc(value):
    def change(f):
        f["stub_crc"] = value(f)
    return change


def both(*changes):
    def change(f):
        for c in changes:
            c(f)
    return change


def set_field(name, value):
    """A record field, with the checksum recomputed: only the field itself is wrong."""
    def change(f):
        f[name] = value(f) if callable(value) else value
        if f["stub_crc"]:
            f.fix_stub_crc()
    return change


def put_bytes(offset, data):
    def change(f):
        at = offset(f)
        f.data[at:at + len(data)] = data
    return change


def truncate(length):
    def change(f):
        f.truncate(length(f))
    return change


def redirect(record_follows=False, fix_crc=False):
    def change(f):
        new = redirect_entry_point(f)
        if record_follows:
            f["entry_point"] = new
        if fix_crc:
            f.fix_stub_crc()
        else:
            f["stub_crc"] = 0
    return change


PASSES = (INFO, "none")
BAD_HEADER = (HEADER_ERROR, "error")
DAMAGED = (ARCHIVE_DAMAGED, "error")
END = lambda f: f["end_record_offset"]  # noqa: E731
AFTER_HEADERS = lambda f: f.headers_end  # noqa: E731

CHECK_CASES = [
    # id, base file, change, expected box (text, icon)
    ("crc-0-skips-changed-code", "after",
     both(flip(code_padding), set_stub_crc(lambda f: 0)), PASSES),
    ("crc-0-skips-changed-header", "from_start",
     both(flip(lambda f: DOS_STUB_BYTE), set_stub_crc(lambda f: 0)), PASSES),
    # Changes before e_lfanew + 248 are outside the sum only when it starts after the headers.
    ("after-headers-dos-stub", "after", flip(lambda f: DOS_STUB_BYTE), PASSES),
    ("after-headers-time-stamp", "after", flip(lambda f: f.e_lfanew + PE_TIME_STAMP), PASSES),
    ("after-headers-last-header-byte", "after", flip(lambda f: AFTER_HEADERS(f) - 1), PASSES),
    ("after-headers-first-summed-byte", "after", flip(AFTER_HEADERS), BAD_HEADER),
    ("from-start-dos-stub", "from_start", flip(lambda f: DOS_STUB_BYTE), BAD_HEADER),
    ("from-start-time-stamp", "from_start", flip(lambda f: f.e_lfanew + PE_TIME_STAMP), BAD_HEADER),
    ("changed-code-padding", "after", flip(code_padding), BAD_HEADER),
    ("changed-code-padding-from-start", "from_start", flip(code_padding), BAD_HEADER),
    # The sum runs up to archive_offset: the configuration block is in, the archive is out.
    ("changed-config-block", "after", flip(lambda f: f["config_offset"]), BAD_HEADER),
    ("changed-last-summed-byte", "after", flip(lambda f: f["archive_offset"] - 1), BAD_HEADER),
    ("changed-archive-byte", "after", flip(lambda f: f["archive_offset"] + 8), PASSES),
    # The stored sum must be the computed one. The stored bytes lie inside the summed range
    # and count as zero: otherwise no file with a checksum, as in every passing case here,
    # could pass.
    ("stored-crc-one-bit-off", "after", set_stub_crc(lambda f: f["stub_crc"] ^ 1), BAD_HEADER),
    ("stored-crc-of-other-start", "after", set_stub_crc(crc_from_offset_0), BAD_HEADER),
    # End record: either signature passes; 0 turns the check off.
    ("end-digital-signature", "after", put_bytes(END, b"PK\x05\x05"), PASSES),
    ("end-other-signature", "after", put_bytes(END, b"PK\x05\x07"), DAMAGED),
    ("end-cut-off", "after", truncate(END), DAMAGED),
    ("end-cut-inside", "after", truncate(lambda f: END(f) + 3), DAMAGED),
    ("end-offset-one-off", "after", set_field("end_record_offset", lambda f: END(f) + 1), DAMAGED),
    ("end-offset-past-file", "after",
     set_field("end_record_offset", lambda f: len(f.data) + 100), DAMAGED),
    ("end-offset-0-unchecked", "after",
     both(truncate(END), set_field("end_record_offset", 0)), PASSES),
    # Entry point: the header's must equal the record's, whatever the checksum says.
    ("entry-point-moved-crc-0", "after", redirect(), DAMAGED),
    ("entry-point-moved-crc-recomputed", "after", redirect(fix_crc=True), DAMAGED),
    ("entry-point-moved-record-follows", "after", redirect(record_follows=True), PASSES),
    ("record-entry-point-changed", "after",
     set_field("entry_point", lambda f: f["entry_point"] + 1), DAMAGED),
    # "-info" comes before the complete mark.
    ("incomplete-info", "after", set_field("complete", 0), PASSES),
]


@pytest.mark.parametrize("base, change, expected",
                         [case[1:] for case in CHECK_CASES], ids=[case[0] for case in CHECK_CASES])
def test_file_checks_at_start_up(bench, built, tmp_path, base, change, expected):
    f = bench.patch(built[base])
    change(f)
    exe = f.save(tmp_path / "test.exe")
    run = bench.start(exe, "-info")
    expect_box(run, *expected)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["driver-1.log", "test.exe"]


@pytest.mark.parametrize("complete, args, expected", [
    (0, None, (INCOMPLETE, "error")),
    (0, "-args=\"x\"", (INCOMPLETE, "error")),
    (1, None, None),
])
def test_complete_mark(bench, built, tmp_path, complete, args, expected):
    f = bench.patch(built["after"])
    f["complete"] = complete
    f.fix_stub_crc()
    run = bench.start(f.save(tmp_path / "test.exe"), args)
    if expected:
        expect_box(run, *expected)
        return
    dialog = run.dialog()
    assert dialog.caption == f"{BOX_CAPTION} - test.exe"
    dialog.click(2)
    assert run.wait_exit() == 0


# ---- internal error --------------------------------------------------------------------------

NOTICE = fixed_text("report_notice")

# field, capacity with its NUL, internal-error line, flags the field needs to be read
FIELD_CASES = [
    (0, 261, 2925, 0),
    (1, 257, 2932, 0),
    (2, 257, 2937, 0),
    (4, 514, 2953, 0),
    (5, 65, 2963, SFX_USE_TITLE),
    (6, 516, 2967, 0),
    (7, 512, 2970, 0),
]


def overlong(source, target, field, length, flags=0):
    """source with field `field` of the configuration set to `length` characters."""
    fields = fields_with({field: "x" * length, **({} if field == 7 else {7: INFO})})
    stub = StubFile(source)
    return with_config(source, target, deflate_raw(config_plain(fields)),
                       flags=stub["flags"] | flags)


def expect_internal_error(run, line, notice=True):
    box = run.wait_message_box()
    assert (box.caption, box.text, box.icon) == (
        BOX_CAPTION, f"Tarvel internal error in file sfxhead line {line}", "warning")
    assert box.owner == 0 and box.button_ids == [1]
    box.click("OK")
    if notice:
        box = run.wait_message_box(exclude=[box.hwnd])
        assert (box.caption, box.text, box.icon) == (BOX_CAPTION, NOTICE, "warning")
        assert NOTICE.startswith("\nPlease save the file TVSFX32.RPT")
        box.click("OK")
    assert run.wait_exit(timeout=WARNING_BOX_WAIT) == 1


@pytest.mark.parametrize("field, capacity, line, flags", FIELD_CASES,
                         ids=[f"field-{case[0]}" for case in FIELD_CASES])
def test_overlong_configuration_field_is_an_internal_error(bench, built, tmp_path, field,
                                                           capacity, line, flags):
    exe = overlong(built["after"], tmp_path / "test.exe", field, capacity, flags)
    run = bench.start(exe, "-info")
    expect_internal_error(run, line)
    report = (tmp_path / REPORT_NAME).read_bytes()
    assert report.startswith(f"Tarvel internal error in file sfxhead line {line}\r\n\n".encode())


@pytest.mark.parametrize("field, length, flags", [
    *[(case[0], case[1] - 1, case[3]) for case in FIELD_CASES],
    (5, 65, 0),  # the title is not read without SFX_USE_TITLE, whatever its length
], ids=[f"field-{case[0]}" for case in FIELD_CASES] + ["field-5-unused"])
def test_longest_configuration_fields_fit(bench, built, tmp_path, field, length, flags):
    exe = overlong(built["after"], tmp_path / "test.exe", field, length, flags)
    run = bench.start(exe, "-info")
    expect_box(run, "x" * length if field == 7 else INFO, "none")
    assert not (tmp_path / REPORT_NAME).exists()


REPORT_LAYOUT = re.compile(
    rb"Tarvel internal error in file sfxhead line 2925\r\n"
    rb"\nCurrent date/time: (?P<month>\d\d)/(?P<day>\d\d)/(?P<year>\d{4}) "
    rb"(?P<hour>\d\d):(?P<minute>\d\d)\r\n"
    rb"Module name = (?P<module>[^\r\n]*)\r\n"
    rb"\nOperating System Version (?P<major>\d+)\.(?P<minor>\d\d)\r\n"
    rb"Windows NT\r\n"
    rb" Version (?P<low>\d+)\.(?P<high>\d+)\r\n"
    rb"Memory in use = (?P<load>-?\d+)%\r\n"
    rb"Total physical memory = (?P<phys>\d+) Kbytes\r\n"
    rb"Physical memory available = (?P<avail_phys>\d+) Kbytes\r\n"
    rb"Total virtual memory = (?P<virtual>\d+) Kbytes\r\n"
    rb"Virtual memory available = (?P<avail_virtual>\d+) Kbytes\r\n")


def utc_minute(when):
    return when.replace(second=0, microsecond=0)


def test_report_file_layout_in_the_program_folder(bench, built, tmp_path):
    """Started from another folder: the report lands beside the program, replacing an older
    (longer) report, in the exact layout, with the time in UTC."""
    program_folder, elsewhere = tmp_path / "program", tmp_path / "elsewhere"
    program_folder.mkdir()
    elsewhere.mkdir()
    exe = overlong(built["after"], program_folder / "test.exe", 0, 261)
    (program_folder / REPORT_NAME).write_bytes(b"old report\r\n" * 200)

    before = datetime.now(timezone.utc)
    run = bench.start(exe, cwd=elsewhere)
    expect_internal_error(run, 2925)
    after = datetime.now(timezone.utc)

    assert not (elsewhere / REPORT_NAME).exists()
    report = (program_folder / REPORT_NAME).read_bytes()
    match = REPORT_LAYOUT.fullmatch(report)
    assert match, report
    fields = {name: value.decode("cp1252") for name, value in match.groupdict().items()}
    stamp = datetime(int(fields["year"]), int(fields["month"]), int(fields["day"]),
                     int(fields["hour"]), int(fields["minute"]), tzinfo=timezone.utc)
    assert utc_minute(before) <= stamp <= utc_minute(after)
    assert fields["module"] == bench.winpath(exe)
    # Both version lines come from the same system: "6.01" and " 6.1".
    assert (int(fields["major"]), int(fields["minor"])) == (int(fields["low"]), int(fields["high"]))
    assert 0 < int(fields["avail_virtual"]) <= int(fields["virtual"])
    if EMULATED:
        # The emulator's fault, not the stub's: qemu-i386 hands the machine's sysinfo() to
        # 32-bit Wine without scaling it to 32 bits as the kernel does for 32-bit programs, so
        # Wine's total memory comes out cut to its low 32 bits, below the available memory it
        # reads from /proc/meminfo, and the load it derives from the two is meaningless (the
        # same query in a Win32 program of our own shows it). The layout above still holds.
        return
    assert 0 <= int(fields["load"]) <= 100
    assert 0 < int(fields["avail_phys"]) <= int(fields["phys"])
    # The machine's whole memory, also where it passes 2 GB: the old query capped a 32-bit
    # program's figures there.
    assert abs(int(fields["phys"]) - machine_memory_kbytes()) <= machine_memory_kbytes() // 100


def machine_memory_kbytes():
    """The total Wine reports too: glibc and Wine both take it from sysinfo()."""
    return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // 1024


def test_report_that_cannot_be_created_shows_only_the_first_box(bench, built, tmp_path):
    """A folder named like the report is in the way (a read-only file would not do: under
    Wine as root it is still writable)."""
    exe = overlong(built["after"], tmp_path / "test.exe", 7, 512)
    (tmp_path / REPORT_NAME).mkdir()
    run = bench.start(exe)
    expect_internal_error(run, 2970, notice=False)
    assert list((tmp_path / REPORT_NAME).iterdir()) == []


FAULT_STUB = OUT_DIR / "testbin" / "tvsfx32-report-fault.exe"


@pytest.mark.skipif(not FAULT_STUB.exists(), reason="the report-fault stub is built by make")
def test_second_internal_error_while_reporting_ends_without_a_box(bench, tmp_path):
    """The report-fault stub raises another internal error while it writes the report: one
    box only, exit code 1, and the report stops where the fault came."""
    base = build_sfx(tmp_path / "base", files=FILES, info=INFO, stub=FAULT_STUB)
    exe = overlong(base.path, tmp_path / "test.exe", 0, 261)
    run = bench.start(exe)
    expect_internal_error(run, 2925, notice=False)
    report = (tmp_path / REPORT_NAME).read_bytes()
    assert report.startswith(b"Tarvel internal error in file sfxhead line 2925\r\n\nCurrent")
    assert b" Version " in report and b"Memory" not in report
