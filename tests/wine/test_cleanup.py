"""Packages built with --cleanup extract into the temporary folder (TMP), wait for the command
and every process it starts, and then remove the files and folders the run created, and
nothing else. argecho.exe stands in for the setup; a second argecho started by the test holds
an extracted file open from outside the command's job, so that it cannot be removed."""
import os
import zipfile

import pytest

from extractkit import ArchiveImage
from winebench import make_zip, read_argecho_log

ECHO = "echo10.exe"
# What the temporary folder holds before the run: a file of the archive's name (replaced with
# -overwrite), a folder the archive also has, with a file of its own, and an unrelated file.
BEFORE = {"keep.txt": b"vorher", "docs/mine.txt": b"meins", "old.txt": b"alt"}


@pytest.fixture
def files(bench):
    return {ECHO: bench.testprog("argecho").read_bytes(), "keep.txt": b"neu", "docs/readme.txt": b"lies",
            "sub/deeper/data.txt": b"daten" * 1000, "sub/top.txt": b"oben"}


def tree(folder):
    """Every file and folder below folder, as relative paths with "/"."""
    found = set()
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            found.add(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/"))
    return found


def temp_folder(tmp_path):
    temp = tmp_path / "temp"
    for name, data in BEFORE.items():
        (temp / name).parent.mkdir(parents=True, exist_ok=True)
        (temp / name).write_bytes(data)
    return temp


def run_package(bench, exe, temp, log, switches="-overwrite", **env):
    env = {"TMP": bench.winpath(temp), "TEMP": bench.winpath(temp),
           **{k: str(v) for k, v in env.items()}}
    # The run includes the command, its child and the clean-up: more than one start's time.
    run = bench.start(exe, f'-silent {switches} -log="{bench.winpath(log)}"'.strip(), env=env)
    return run.wait_exit(timeout=60)


def log_lines(log):
    return log.read_text(encoding="utf-8").splitlines()


@pytest.mark.parametrize("code", [0, 1603])
def test_cleanup_removes_what_the_run_created_and_nothing_else(bench, tmp_path, files, code):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    echo_log, log = tmp_path / "echo.log", tmp_path / "run.log"
    assert run_package(bench, exe, temp, log, ARGECHO_LOG=bench.winpath(echo_log), ARGECHO_EXIT=code) == code
    assert log_lines(log)[-1] == f"Ende: Exitcode {code}"
    # The command ran in the temporary folder, among the extracted files.
    [echo] = read_argecho_log(echo_log)
    assert echo["cwd"] == bench.winpath(temp)
    assert tree(temp) == {"keep.txt", "docs", "docs/mine.txt", "old.txt"}
    # The file the run replaced was there before: it stays, with the package's content.
    assert (temp / "keep.txt").read_bytes() == b"neu"
    assert (temp / "docs/mine.txt").read_bytes() == b"meins"


def test_cleanup_waits_for_a_child_the_command_leaves_behind(bench, tmp_path, files):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    echo_log = tmp_path / "echo.log"
    assert run_package(bench, exe, temp, tmp_path / "run.log", ARGECHO_LOG=bench.winpath(echo_log),
                       ARGECHO_CHILD=1000, ARGECHO_EXIT=5) == 5
    # The child started from the extracted echo10.exe ran to its end before the files went.
    assert [e.get("child", False) for e in read_argecho_log(echo_log)] == [False, True]
    assert tree(temp) == {"keep.txt", "docs", "docs/mine.txt", "old.txt"}


def test_cleanup_after_a_failed_extraction(bench, tmp_path, files):
    archive = make_zip(tmp_path / "in.zip", files, zipfile.ZIP_STORED)
    exe = bench.make_sfx(tmp_path, zip=archive, command=ECHO, cleanup=True)
    image = ArchiveImage(exe)
    victim = image.entry("sub/deeper/data.txt")
    image.data[victim.data_offset + victim.compressed // 2] ^= 0x10
    image.save()
    temp = temp_folder(tmp_path)
    echo_log = tmp_path / "echo.log"
    assert run_package(bench, exe, temp, tmp_path / "run.log", ARGECHO_LOG=bench.winpath(echo_log)) == 2
    assert not echo_log.exists()
    assert tree(temp) == {"keep.txt", "docs", "docs/mine.txt", "old.txt"}


def test_a_file_held_open_is_left_to_the_next_restart_and_logged(bench, tmp_path, files):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    held = temp / "sub/deeper/data.txt"
    holder_log, release = tmp_path / "holder.log", tmp_path / "release"
    holder = bench.start(bench.testprog("argecho"), "", env={
        "ARGECHO_HOLD": bench.winpath(held), "ARGECHO_LOG": bench.winpath(holder_log),
        "ARGECHO_WAITFOR": bench.winpath(release)})
    # The command ends only once the holder has the file open.
    log = tmp_path / "run.log"
    assert run_package(bench, exe, temp, log, ARGECHO_LOG=bench.winpath(tmp_path / "echo.log"),
                       ARGECHO_WAITFOR=bench.winpath(holder_log), ARGECHO_EXIT=7) == 7
    assert read_argecho_log(holder_log)[0].get("held")
    lines = log_lines(log)
    # The held file and the folders holding it, deepest first; everything else is gone.
    scheduled = [line for line in lines if line.startswith("Beim Neustart entfernen: ")]
    assert scheduled == ["Beim Neustart entfernen: " + bench.winpath(path)
                         for path in (held, temp / "sub/deeper", temp / "sub")]
    assert tree(temp) == {"keep.txt", "docs", "docs/mine.txt", "old.txt",
                          "sub", "sub/deeper", "sub/deeper/data.txt"}
    assert lines[-1] == "Ende: Exitcode 7"
    release.write_bytes(b"")
    assert holder.wait_exit() == 0


def test_extract_only_keeps_the_files(bench, tmp_path, files):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    echo_log = tmp_path / "echo.log"
    assert run_package(bench, exe, temp, tmp_path / "run.log", "-overwrite -extract-only",
                       ARGECHO_LOG=bench.winpath(echo_log)) == 0
    assert not echo_log.exists()
    assert (temp / "sub/deeper/data.txt").exists() and (temp / ECHO).exists()
