"""Packages built with --cleanup extract into a new folder of their own inside the temporary
folder (TMP), wait for the command and every process it starts, and then remove the files and
folders the run created, and nothing else. argecho.exe stands in for the setup; a second argecho
started by the test holds an extracted file open from outside the command's job, so that it
cannot be removed. While a command waits for a release file, the test changes the tree under
it as a setup or an attacker of the same user could (a moved folder, a file of its own, a link
in place of a created folder)."""
import os
import re
import shutil
import time
import zipfile

import pytest

from extractkit import ArchiveImage
from winebench import TIME_FACTOR, make_zip, read_argecho_log

ECHO = "echo10.exe"
# What the temporary folder holds before the run: a file of the archive's name, a folder the
# archive also has, with a file of its own, and an unrelated file. The run uses none of them.
BEFORE = {"keep.txt": b"vorher", "docs/mine.txt": b"meins", "old.txt": b"alt"}
BEFORE_TREE = {"keep.txt", "docs", "docs/mine.txt", "old.txt"}
# The run's own folder inside the temporary folder: 64 random bits.
PRIVATE_NAME = re.compile(r"tvsfx-[0-9A-F]{16}")


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


def private_folder(bench, temp, echo):
    """The folder the command ran in, checked to be a new folder of the run's own in temp."""
    folder = bench.unixpath(echo["cwd"])
    assert folder.parent == temp and PRIVATE_NAME.fullmatch(folder.name), echo["cwd"]
    return folder


def wait_for_commands(echo_log, count):
    """The argecho lines once count commands are running."""
    deadline = time.monotonic() + 30 * TIME_FACTOR
    while len(read_argecho_log(echo_log)) < count:
        assert time.monotonic() < deadline, "the command did not start"
        time.sleep(0.1)
    return read_argecho_log(echo_log)


def unchanged(temp):
    """The temporary folder holds exactly what it held before the run, with the same contents."""
    assert tree(temp) == BEFORE_TREE
    assert {name: (temp / name).read_bytes() for name in BEFORE} == BEFORE


@pytest.mark.parametrize("code", [0, 1603])
def test_cleanup_removes_what_the_run_created_and_nothing_else(bench, tmp_path, files, code):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    echo_log, log = tmp_path / "echo.log", tmp_path / "run.log"
    assert run_package(bench, exe, temp, log, ARGECHO_LOG=bench.winpath(echo_log), ARGECHO_EXIT=code) == code
    # The command ran in a folder of the run's own, among the extracted files; the log names
    # that folder, and nothing of it is left.
    [echo] = read_argecho_log(echo_log)
    folder = private_folder(bench, temp, echo)
    lines = log_lines(log)
    assert (lines[0], lines[-1]) == (f"Ordner: {echo['cwd']}", f"Ende: Exitcode {code}")
    assert sorted(lines[1:-1]) == sorted("Datei: " + bench.winpath(folder / name) for name in files)
    assert bench.unixpath(echo["exe"]) == folder / ECHO
    unchanged(temp)


def test_cleanup_waits_for_a_child_the_command_leaves_behind(bench, tmp_path, files):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    echo_log = tmp_path / "echo.log"
    assert run_package(bench, exe, temp, tmp_path / "run.log", ARGECHO_LOG=bench.winpath(echo_log),
                       ARGECHO_CHILD=1000, ARGECHO_EXIT=5) == 5
    # The child started from the extracted echo10.exe ran to its end before the files went.
    assert [e.get("child", False) for e in read_argecho_log(echo_log)] == [False, True]
    unchanged(temp)


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
    unchanged(temp)


def test_a_file_held_open_is_left_to_the_next_restart_and_logged(bench, tmp_path, files):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    echo_log, log = tmp_path / "echo.log", tmp_path / "run.log"
    holder_log, release = tmp_path / "holder.log", tmp_path / "release"
    run = bench.start(exe, f'-silent -log="{bench.winpath(log)}"',
                      env={"TMP": bench.winpath(temp), "TEMP": bench.winpath(temp),
                           "ARGECHO_LOG": bench.winpath(echo_log), "ARGECHO_WAITFOR": bench.winpath(holder_log),
                           "ARGECHO_EXIT": "7"})
    # The command ends only once the holder has the file open.
    folder = private_folder(bench, temp, wait_for_commands(echo_log, 1)[0])
    held = folder / "sub/deeper/data.txt"
    holder = bench.start(bench.testprog("argecho"), "", env={
        "ARGECHO_HOLD": bench.winpath(held), "ARGECHO_LOG": bench.winpath(holder_log),
        "ARGECHO_WAITFOR": bench.winpath(release)})
    assert run.wait_exit(timeout=60) == 7
    assert read_argecho_log(holder_log)[0].get("held")
    lines = log_lines(log)
    # The held file and the folders holding it, deepest first: each folder holds only what
    # goes at the restart before it, so it is empty by its turn. Everything else is gone.
    left = [line for line in lines if not line.startswith(("Datei: ", "Ordner: "))]
    assert left == ["Beim Neustart entfernen: " + bench.winpath(path)
                    for path in (held, folder / "sub/deeper", folder / "sub", folder)] + ["Ende: Exitcode 7"]
    assert tree(temp) == BEFORE_TREE | {folder.name, f"{folder.name}/sub", f"{folder.name}/sub/deeper",
                                        f"{folder.name}/sub/deeper/data.txt"}
    release.write_bytes(b"")
    assert holder.wait_exit() == 0


def test_extract_only_keeps_the_files(bench, tmp_path, files):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    echo_log = tmp_path / "echo.log"
    assert run_package(bench, exe, temp, tmp_path / "run.log", "-overwrite -extract-only",
                       ARGECHO_LOG=bench.winpath(echo_log)) == 0
    assert not echo_log.exists()
    [folder] = [temp / name for name in os.listdir(temp) if PRIVATE_NAME.fullmatch(name)]
    assert (folder / "sub/deeper/data.txt").exists() and (folder / ECHO).exists()


def start_waiting(bench, exe, temp, log, echo_log, release, **env):
    """Starts a -silent run whose command waits for release before it ends."""
    env = {"TMP": bench.winpath(temp), "TEMP": bench.winpath(temp), "ARGECHO_LOG": bench.winpath(echo_log),
           "ARGECHO_WAITFOR": bench.winpath(release), **{k: str(v) for k, v in env.items()}}
    return bench.start(exe, f'-silent -log="{bench.winpath(log)}"', env=env)


# Two runs at once: the same package twice, and two packages that share a name (with different
# contents). A setup.exe planted in the temporary folder beforehand is neither used nor touched.
@pytest.mark.parametrize("second_package", ["same", "sharing names"])
def test_two_runs_at_once_each_in_a_folder_of_its_own(bench, tmp_path, files, second_package):
    exes = [bench.make_sfx(tmp_path / "a", files={**files, "common/lib.dll": b"A" * 100}, command=ECHO, cleanup=True)]
    exes.append(exes[0] if second_package == "same" else
                bench.make_sfx(tmp_path / "b", files={ECHO: files[ECHO], "common/lib.dll": b"B" * 50},
                               command=ECHO, cleanup=True))
    temp = temp_folder(tmp_path)
    (temp / "setup.exe").write_bytes(b"planted")
    (temp / "common").mkdir()
    (temp / "common/lib.dll").write_bytes(b"planted")
    before = tree(temp)
    echo_log = tmp_path / "echo.log"
    runs = [start_waiting(bench, exe, temp, tmp_path / f"run{i}.log", echo_log, tmp_path / f"release{i}",
                          ARGECHO_EXIT=10 + i) for i, exe in enumerate(exes)]
    echoes = wait_for_commands(echo_log, 2)
    # Each run names its folder in its log; each command ran in its own run's folder.
    folders = [bench.unixpath(log_lines(tmp_path / f"run{i}.log")[0].removeprefix("Ordner: ")) for i in range(2)]
    assert folders[0] != folders[1]
    assert sorted(bench.unixpath(echo["exe"]).parent for echo in echoes) == sorted(folders)
    assert all(private_folder(bench, temp, echo) in folders for echo in echoes)
    # Each run has its own copy, with its own package's content.
    expected = [b"A" * 100, b"A" * 100 if second_package == "same" else b"B" * 50]
    assert [(folder / "common/lib.dll").read_bytes() for folder in folders] == expected
    # The second run ends first: its clean-up takes its own folder only.
    (tmp_path / "release1").write_bytes(b"")
    assert runs[1].wait_exit(timeout=60) == 11
    assert not folders[1].exists()
    assert (folders[0] / "common/lib.dll").read_bytes() == expected[0] and (folders[0] / ECHO).exists()
    (tmp_path / "release0").write_bytes(b"")
    assert runs[0].wait_exit(timeout=60) == 10
    assert tree(temp) == before
    assert (temp / "setup.exe").read_bytes() == (temp / "common/lib.dll").read_bytes() == b"planted"


def move_sub_away(folder, outside):
    shutil.move(folder / "sub", outside / "moved")


def add_own_file(folder, outside):
    (folder / "sub/deeper/setup.log").write_bytes(b"des Setups")


def link_sub_to_users_folder(folder, outside):
    shutil.move(folder / "sub", outside / "moved")
    (folder / "sub").symlink_to(outside / "user", target_is_directory=True)


# What the command (or another program of the user) does to the tree while it runs, what the
# clean-up then logs, and what is left of the run's folder, as paths below that folder ("" is
# the folder itself). Wine shows a Unix link as the folder it points to, not as a reparse
# point: there the identity check refuses it as something else standing at the path.
NOT_EMPTY, REPLACED, GONE = "Nicht entfernt, Ordner nicht leer", "Nicht entfernt, ausgetauscht", "Nicht mehr vorhanden"
TREE_CHANGES = [
    (move_sub_away, [(GONE, "sub")], set()),
    (add_own_file, [(NOT_EMPTY, "sub/deeper"), (NOT_EMPTY, "sub"), (NOT_EMPTY, "")],
     {"", "sub", "sub/deeper", "sub/deeper/setup.log"}),
    (link_sub_to_users_folder, [(REPLACED, "sub/top.txt"), (REPLACED, "sub/deeper/data.txt"), (REPLACED, "sub/deeper"),
                                (REPLACED, "sub"), (NOT_EMPTY, "")], {"", "sub"}),
]


@pytest.mark.parametrize("change, expected, remaining", TREE_CHANGES, ids=lambda c: getattr(c, "__name__", ""))
def test_cleanup_removes_only_what_is_still_its_own_and_logs_the_rest(bench, tmp_path, files, change, expected,
                                                                      remaining):
    exe = bench.make_sfx(tmp_path, files=files, command=ECHO, cleanup=True)
    temp = temp_folder(tmp_path)
    outside = tmp_path / "outside"
    users = {"deeper/data.txt": b"Nutzerdaten", "top.txt": b"meins", "own.txt": b"eigenes"}
    for name, data in users.items():
        (outside / "user" / name).parent.mkdir(parents=True, exist_ok=True)
        (outside / "user" / name).write_bytes(data)
    log, echo_log, release = tmp_path / "run.log", tmp_path / "echo.log", tmp_path / "release"
    run = start_waiting(bench, exe, temp, log, echo_log, release, ARGECHO_EXIT=4)
    folder = private_folder(bench, temp, wait_for_commands(echo_log, 1)[0])
    change(folder, outside)
    release.write_bytes(b"")
    assert run.wait_exit(timeout=60) == 4

    def below(path):
        return folder / path if path else folder

    left = [line for line in log_lines(log) if not line.startswith(("Datei: ", "Ordner: "))]
    assert left == [f"{reason}: {bench.winpath(below(path))}" for reason, path in expected] + ["Ende: Exitcode 4"]
    # The user's folder keeps every file; what moved away keeps what it held.
    assert {name: (outside / "user" / name).read_bytes() for name in users} == users
    if (outside / "moved").exists():
        assert tree(outside / "moved") == {"deeper", "deeper/data.txt", "top.txt"}
    assert tree(temp) - BEFORE_TREE == {"/".join(filter(None, (folder.name, path))) for path in remaining}
