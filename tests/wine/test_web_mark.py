"""The Mark of the Web passes on: a package whose own file carries a Zone.Identifier stream of
the Internet (3) or Restricted (4) zone gives every file it extracts the same stream. Wine 8
keeps a stream as a file of its own beside its file, named "file:stream" on the Unix side, so
the test plants the package's mark and reads the extracted files' marks there."""
import pytest

from test_cleanup import run_package, temp_folder, tree, BEFORE_TREE

FILES = {"a.txt": b"x", "sub/b.bin": bytes(300), "sub/deeper/c.txt": b"c", "empty/": None}
MARKED = ["a.txt", "sub/b.bin", "sub/deeper/c.txt"]
INTERNET = b"[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://example.org/\r\nHostUrl=https://example.org/p.exe\r\n"
LONG = b"[ZoneTransfer]\r\nZoneId=4\r\nHostUrl=https://example.org/" + b"x" * 1100 + b"\r\n"

# The package's stream, and the stream each extracted file gets (None: none).
MARKS = [
    ("internet", INTERNET, INTERNET),
    ("restricted, blanks, LF only", b"[zonetransfer]\nZoneId = 4 \n", b"[zonetransfer]\nZoneId = 4 \n"),
    ("too long: the zone alone", LONG, b"[ZoneTransfer]\r\nZoneId=4\r\n"),
    ("trusted sites", b"[ZoneTransfer]\r\nZoneId=2\r\n", None),
    ("intranet", b"[ZoneTransfer]\r\nZoneId=1\r\n", None),
    ("zone in another section", b"[Other]\r\nZoneId=3\r\n[ZoneTransfer]\r\nHostUrl=x\r\n", None),
    ("not a number", b"[ZoneTransfer]\r\nZoneId=3x\r\n", None),
    ("no stream", None, None),
]


@pytest.mark.parametrize("stream, passed", [m[1:] for m in MARKS], ids=[m[0] for m in MARKS])
def test_extracted_files_get_the_packages_mark(bench, tmp_path, stream, passed):
    exe = bench.make_sfx(tmp_path, files=FILES)
    if stream is not None:
        (tmp_path / "test.exe:Zone.Identifier").write_bytes(stream)
    out = tmp_path / "out"
    run = bench.start(exe, f'-silent -dir="{bench.winpath(out)}"')
    assert run.wait_exit() == 0
    marks = {name[: -len(":Zone.Identifier")]: (out / name).read_bytes()
             for name in tree(out) if name.endswith(":Zone.Identifier")}
    assert marks == ({name: passed for name in MARKED} if passed is not None else {})
    assert all((out / name).read_bytes() == FILES[name] for name in MARKED)


def test_cleanup_removes_the_marks_with_the_files(bench, tmp_path):
    files = {"echo10.exe": bench.testprog("argecho").read_bytes(), **FILES}
    exe = bench.make_sfx(tmp_path, files=files, command="echo10.exe", cleanup=True)
    (tmp_path / "test.exe:Zone.Identifier").write_bytes(INTERNET)
    temp = temp_folder(tmp_path)
    echo_log, log = tmp_path / "echo.log", tmp_path / "run.log"
    assert run_package(bench, exe, temp, log, ARGECHO_LOG=bench.winpath(echo_log)) == 0
    assert echo_log.exists()
    assert tree(temp) == BEFORE_TREE
