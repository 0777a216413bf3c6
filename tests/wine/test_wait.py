"""Waiting for the command after extraction (builder --wait, switch -wait) and extracting
without starting it (-extract-only), run silently. argecho.exe stands in for the setup: it
exits with ARGECHO_EXIT, and with ARGECHO_CHILD=ms leaves a child behind that logs later."""
import pytest

from winebench import read_argecho_log

ECHO = "echo10.exe"


def build(bench, tmp_path, **options):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={ECHO: bench.testprog("argecho").read_bytes()},
                         command=ECHO, params="--setup", args=["--folder", bench.winpath(out)],
                         **options)
    return exe, out


def run_silently(bench, exe, log, switches="", **env):
    env = {"ARGECHO_LOG": bench.winpath(log), **{k: str(v) for k, v in env.items()}}
    return bench.start(exe, f"-silent {switches}".strip(), env=env).wait_exit()


# id, built with --wait, switches, the command's exit code
WAITS = [
    ("switch-0", False, "-wait", 0),
    ("switch-7", False, "/WAIT", 7),
    ("flag-3010", True, "", 3010),
    ("flag-1603", True, "", 1603),
]


@pytest.mark.parametrize("flag, switches, code", [c[1:] for c in WAITS], ids=[c[0] for c in WAITS])
def test_wait_ends_with_the_commands_exit_code(bench, tmp_path, flag, switches, code):
    exe, out = build(bench, tmp_path, wait=flag)
    log = tmp_path / "echo.log"
    assert run_silently(bench, exe, log, switches + ' -args="x y"', ARGECHO_EXIT=code) == code
    [echo] = read_argecho_log(log)
    # The program's full path, quoted, then the parameters.
    assert echo["cmdline"] == f'"{bench.winpath(out / ECHO)}" --setup x y'
    assert echo["cwd"] == bench.winpath(out)


def test_wait_outlasts_a_child_the_command_leaves_behind(bench, tmp_path):
    exe, _ = build(bench, tmp_path)
    log = tmp_path / "echo.log"
    assert run_silently(bench, exe, log, "-wait", ARGECHO_CHILD=1500, ARGECHO_EXIT=5) == 5
    # The child's line is there as soon as the program has ended.
    assert [e.get("child", False) for e in read_argecho_log(log)] == [False, True]


def test_without_wait_the_exit_code_is_the_extractions(bench, tmp_path):
    exe, _ = build(bench, tmp_path)
    log = tmp_path / "echo.log"
    run = bench.start(exe, "-silent", env={"ARGECHO_LOG": bench.winpath(log), "ARGECHO_EXIT": "7"})
    assert run.wait_exit() == 0
    assert run.wait_until(lambda: read_argecho_log(log), what="argecho log")


def test_wait_for_a_command_that_cannot_start_gives_2(bench, tmp_path):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"readme.txt": b"x"}, command="missing.exe",
                         args=["--folder", bench.winpath(out), "--wait"])
    assert bench.start(exe, "-silent").wait_exit() == 2
    assert (out / "readme.txt").exists()


def test_extract_only_extracts_and_does_not_start_the_command(bench, tmp_path):
    exe, out = build(bench, tmp_path, wait=True)
    log = tmp_path / "echo.log"
    assert run_silently(bench, exe, log, "-Extract-Only", ARGECHO_EXIT=7) == 0
    assert (out / ECHO).exists()
    assert not log.exists()


@pytest.mark.parametrize("switch", ["-wait", "/extract-only", "/TEST"])
def test_no_unattended_packages_refuse_the_new_switches(bench, tmp_path, switch):
    exe, out = build(bench, tmp_path, no_unattended=True)
    run = bench.start(exe, switch)
    box = run.wait_message_box()
    assert switch in box.text
    box.click("OK")
    assert run.wait_exit() == 2
    assert not out.exists()
