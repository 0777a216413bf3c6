"""The command after extraction is the package's own file or the system's program, never one
that somebody placed beside the package (a Downloads folder) or in the target folder; and a
package that waits for its command keeps handling messages, so a command that broadcasts to
every window ends. argecho.exe plays the package's program, the system's and the planted ones;
each logs the full path it runs from."""
import shutil

import pytest

from winebench import read_argecho_log

# A program the system holds: a copy of argecho in the prefix's system folder, under a name no
# other test uses.
SYSTEM_PROGRAM = "tvsysecho.exe"
SYSTEM_FOLDER = "C:\\windows\\system32"
EXIT = 7


@pytest.fixture
def system_program(bench):
    path = bench.unixpath(SYSTEM_FOLDER) / SYSTEM_PROGRAM
    shutil.copyfile(bench.testprog("argecho"), path)
    yield path
    path.unlink()


# The package's way of starting its command: builder options.
MODES = {"plain": {}, "wait": {"wait": True}, "cleanup": {"cleanup": True}}

# id, command, the package holds it, parameters, copies of argecho placed beside the package
# and in the target folder before the run, the program expected to run (None: the package's own
# file in the target folder), the argument part it gets
PLANTS = [
    ("same name beside the package", "setup.exe", True, "p1", {"beside": ["setup.exe"]}, None, "p1"),
    ("system program's name beside the package", SYSTEM_PROGRAM, False, "",
     {"beside": [SYSTEM_PROGRAM], "target": [SYSTEM_PROGRAM]}, f"{SYSTEM_FOLDER}\\{SYSTEM_PROGRAM}", ""),
    # Started unquoted, "my setup.exe p1" runs my.exe with "setup.exe p1".
    ("blank in the name", "my setup.exe", True, "p1", {"beside": ["my.exe"], "target": ["my.exe"]}, None,
     "p1"),
]


def target_of(tmp_path, mode):
    return tmp_path / ("temp" if mode == "cleanup" else "out")


def build_package(bench, tmp_path, mode, command, own, params):
    files = {"readme.txt": b"x"}
    if own:
        files[command] = bench.testprog("argecho").read_bytes()
    args = [] if mode == "cleanup" else ["--folder", bench.winpath(target_of(tmp_path, mode))]
    return bench.make_sfx(tmp_path / "pkg", files=files, command=command, params=params or None,
                          args=args, **MODES[mode])


def run_package(bench, tmp_path, exe, **env):
    temp = tmp_path / "temp"
    temp.mkdir(exist_ok=True)
    env = {"TMP": bench.winpath(temp), "TEMP": bench.winpath(temp), **{k: str(v) for k, v in env.items()}}
    return bench.start(exe, "-silent", env=env)


def is_own_file(bench, echo, command, target, mode):
    """The logged program is the package's file: in the target folder (with --cleanup anywhere
    below it, where a private folder of the run's own counts too)."""
    exe = bench.unixpath(echo["exe"])
    inside = target in exe.parents if mode == "cleanup" else exe.parent == target
    return inside and exe.name.lower() == command.lower()


@pytest.mark.parametrize("mode", list(MODES))
@pytest.mark.parametrize("command, own, params, planted, system, echoed",
                         [case[1:] for case in PLANTS], ids=[case[0] for case in PLANTS])
def test_the_package_starts_its_own_program_or_the_systems(bench, tmp_path, system_program, mode,
                                                           command, own, params, planted, system,
                                                           echoed):
    exe = build_package(bench, tmp_path, mode, command, own, params)
    target = target_of(tmp_path, mode)
    folders = {"beside": exe.path.parent, "target": target}
    for where, names in planted.items():
        folders[where].mkdir(exist_ok=True)
        for name in names:
            shutil.copyfile(bench.testprog("argecho"), folders[where] / name)
    log = tmp_path / "echo.log"
    run = run_package(bench, tmp_path, exe, ARGECHO_LOG=bench.winpath(log), ARGECHO_EXIT=EXIT)
    assert run.wait_exit(timeout=60) == (0 if mode == "plain" else EXIT)
    # One program ran, and only once: the package's or the system's.
    [echo] = run.wait_until(lambda: read_argecho_log(log), what="argecho log")
    if system is None:
        assert is_own_file(bench, echo, command, target, mode), echo["exe"]
    else:
        assert echo["exe"].lower() == system.lower()
    assert echo["args"] == echoed


# The command broadcasts WM_SETTINGCHANGE with SendMessage, which returns only once every
# top-level window, the package's hidden dialog among them, has answered.
@pytest.mark.parametrize("mode", ["wait", "cleanup"])
def test_a_command_that_broadcasts_ends_and_its_exit_code_counts(bench, tmp_path, mode):
    exe = build_package(bench, tmp_path, mode, "setup.exe", True, "")
    log = tmp_path / "echo.log"
    run = run_package(bench, tmp_path, exe, ARGECHO_LOG=bench.winpath(log), ARGECHO_EXIT=EXIT,
                      ARGECHO_BROADCAST=1)
    # The command alone ends in about a second; a package that stops handling messages never does.
    assert run.wait_exit(timeout=60) == EXIT
    [echo] = read_argecho_log(log)
    assert echo.get("broadcast")
