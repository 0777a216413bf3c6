"""Runs from scripts: the exit codes 0 (done), 1 (internal error), 2 (failed), 3 (declined),
the switches -silent, -dir=, -overwrite, -password=, -log=, -?/-help, the log file, and
packages built with --no-unattended, which refuse the switches."""

import subprocess
import zipfile

import pytest

from extractkit import (
    MSG_ASK_OVERWRITE, MSG_BAD_CRC, MSG_NO_PASSWORD, MSG_WRONG_PASSWORD, PASSWORD_CAPTION,
    ArchiveImage, password_that, tree_names,
)
from sfxfile import REPORT_NAME, config_plain, deflate_raw, fields_with, fixed_text, with_config
from winebench import BOX_CAPTION, BUILDER, exit_without_window, read_argecho_log

FILES = {"a.txt": "alt und neu", "sub/b.txt": "b" * 3000}
PASSWORD = "Sesam"
INFO = "Info-Text"
INVALID = "Invalid command line parameter ({})."
INTERNAL = "Tarvel internal error in file sfxhead line 2925"
NOTICE = fixed_text("report_notice")


# ---- helpers -----------------------------------------------------------------------------------


def log_lines(path):
    """The log's lines; every line ends in CR LF and the whole file is UTF-8."""
    data = path.read_bytes()
    assert data.endswith(b"\r\n") and data.count(b"\r\n") == data.count(b"\n")
    return data.decode("utf-8").split("\r\n")[:-1]


def file_lines(bench, out, names):
    return ["Datei: " + bench.winpath(out / name) for name in names]


def quoted(switch, value):
    return f'{switch}="{value}"'


def build_stored(bench, where, **options):
    """FILES stored, so that a flipped data byte stays in b.txt's data."""
    archive = bench.make_zip(where / "in.zip", FILES, zipfile.ZIP_STORED)
    return bench.make_sfx(where, zip=archive, **options)


# ---- one outcome each, with and without -silent ------------------------------------------------


def plain_build(bench, tmp_path, out):
    return bench.make_sfx(tmp_path, files=FILES, auto=True, args=["--folder", bench.winpath(out)])


def damaged_build(bench, tmp_path, out):
    exe = build_stored(bench, tmp_path, auto=True, args=["--folder", bench.winpath(out)])
    image = ArchiveImage(exe)
    victim = image.entry("sub/b.txt")
    image.data[victim.data_offset + 100] ^= 0x10
    image.save()
    return exe


def encrypted_build(bench, tmp_path, out):
    # the traditional cipher: wrong_password finds a password that fails its check byte
    return bench.make_sfx(tmp_path, files=FILES, auto=True,
                          args=["--folder", bench.winpath(out), "--password", PASSWORD,
                                "--encryption", "zipcrypto"])


def wrong_password(bench, exe):
    """-password= with a password that fails the check of the first entry."""
    image = ArchiveImage(exe)
    return quoted("-password", password_that(image, image.entry("a.txt"), passes=False))


def existing_build(bench, tmp_path, out):
    (out / "a.txt").parent.mkdir(parents=True)
    (out / "a.txt").write_text("vorhanden")
    return plain_build(bench, tmp_path, out)


def prompt_build(bench, tmp_path, out):
    return bench.make_sfx(tmp_path, files=FILES, auto=True, prompt="Weiter?", prompt_ask=True,
                          args=["--folder", bench.winpath(out)])


def internal_error_build(bench, tmp_path, out):
    """Field 0 (the folder) one character over its capacity: internal error 2925 at start."""
    base = plain_build(bench, tmp_path / "base", out)
    block = deflate_raw(config_plain(fields_with({0: "x" * 261, 7: INFO})))
    return with_config(base.path, tmp_path / "test.exe", block)


def click_box(text, button, icon=None):
    def act(run, bench, out):
        box = run.wait_message_box()
        assert (box.text, box.caption) == (text(bench, out), BOX_CAPTION), box.summary()
        if icon:
            assert box.icon == icon
        box.click(button)
    return act


def click_internal_error(run, bench, out):
    for text in (INTERNAL, NOTICE):
        box = run.wait_message_box()
        assert (box.text, box.icon) == (text, "warning")
        box.click("OK")


def cancel_password(run, bench, out):
    dialog = run.wait_window(caption=PASSWORD_CAPTION)
    dialog.click(2)
    dialog.wait_gone()
    run.dialog().click(2)


def bad_crc(bench, out):
    return MSG_BAD_CRC.format(bench.winpath(out / "sub" / "b.txt"))


def overwrite_question(bench, out):
    return MSG_ASK_OVERWRITE.format(bench.winpath(out / "a.txt"))


def no_switches(bench, exe):
    return ""


# id, build, extra switches, interaction without -silent, then per mode (interactive, silent):
# exit code, files extracted (logged in this order), message lines of the log
OUTCOMES = [
    ("success", plain_build, no_switches, None,
     (0, ["a.txt", "sub/b.txt"], []), (0, ["a.txt", "sub/b.txt"], [])),
    ("damaged-data", damaged_build, no_switches,
     click_box(bad_crc, "OK", "error"),
     (2, ["a.txt"], [bad_crc]), (2, ["a.txt"], [bad_crc])),
    ("wrong-password", encrypted_build, wrong_password,
     click_box(lambda bench, out: MSG_WRONG_PASSWORD, "OK", "error"),
     (2, [], [lambda bench, out: MSG_WRONG_PASSWORD]),
     (2, [], [lambda bench, out: MSG_WRONG_PASSWORD])),
    # Without -silent the password dialog is cancelled; -silent cannot ask for one.
    ("no-password", encrypted_build, no_switches, cancel_password,
     (3, [], []), (2, [], [lambda bench, out: MSG_NO_PASSWORD])),
    # Cancel at the overwrite question; -silent keeps the existing file and goes on.
    ("cancelled", existing_build, no_switches, click_box(overwrite_question, "Abbrechen"),
     (3, [], []), (0, ["sub/b.txt"], [])),
    # -silent shows no start-up prompt at all.
    ("prompt-no", prompt_build, no_switches, click_box(lambda bench, out: "Weiter?", "No"),
     (3, [], []), (0, ["a.txt", "sub/b.txt"], [])),
    ("internal-error", internal_error_build, no_switches, click_internal_error,
     (1, [], [lambda bench, out: INTERNAL, lambda bench, out: NOTICE.replace("\n", " ")]),
     (1, [], [lambda bench, out: INTERNAL, lambda bench, out: NOTICE.replace("\n", " ")])),
]


@pytest.mark.parametrize("silent", [False, True], ids=["interactive", "silent"])
@pytest.mark.parametrize("build, switches, interact, interactive, silent_run",
                         [case[1:] for case in OUTCOMES], ids=[case[0] for case in OUTCOMES])
def test_outcome_sets_exit_code_and_log(bench, tmp_path, build, switches, interact, interactive,
                                        silent_run, silent):
    out = tmp_path / "out"
    exe = build(bench, tmp_path, out)
    log = tmp_path / "lauf.log"
    log.write_bytes("Ältere Zeile\r\n".encode("utf-8"))
    args = f"{switches(bench, exe)} {quoted('-log', bench.winpath(log))}".strip()
    if silent:
        code = exit_without_window(bench.start(exe, args + " -silent"))
        expected_code, names, messages = silent_run
    else:
        run = bench.start(exe, args)
        if interact:
            interact(run, bench, out)
        code = run.wait_exit()
        expected_code, names, messages = interactive
    assert code == expected_code
    expected = (file_lines(bench, out, names)
                + ["Meldung: " + text(bench, out) for text in messages]
                + [f"Ende: Exitcode {expected_code}"])
    assert log_lines(log) == ["Ältere Zeile"] + expected
    if expected_code == 1:
        assert (tmp_path / REPORT_NAME).read_bytes().startswith(INTERNAL.encode())
    if build is existing_build:
        assert (out / "a.txt").read_text() == "vorhanden"


# ---- -dir= --------------------------------------------------------------------------------------


# id, -dir= value (a relative one counts from the program's folder tmp_path/prog, like "."),
# where the files land
DIR_CASES = [
    ("absolute", lambda bench, t: bench.winpath(t / "ziel"), "ziel"),
    ("trailing-separator", lambda bench, t: bench.winpath(t / "ziel") + "\\", "ziel"),
    ("dot", lambda bench, t: ".", "prog"),
    ("relative", lambda bench, t: "teil\\ziel", "prog/teil/ziel"),
]


@pytest.mark.parametrize("value, target", [case[1:] for case in DIR_CASES],
                         ids=[case[0] for case in DIR_CASES])
def test_dir_switch_replaces_the_configured_folder(bench, tmp_path, value, target):
    configured = tmp_path / "konfiguriert"
    exe = bench.make_sfx(tmp_path / "prog", files=FILES,
                         args=["--folder", bench.winpath(configured)])
    text = value(bench, tmp_path)
    elsewhere = tmp_path / "anderswo"
    elsewhere.mkdir()
    run = bench.start(exe, f'-silent -dir="{text}"', cwd=elsewhere)
    assert exit_without_window(run) == 0
    assert {"a.txt", "sub/b.txt"} <= tree_names(tmp_path / target)
    assert not configured.exists() and tree_names(elsewhere) == set()


def test_dir_switch_takes_folders_longer_than_260_characters(bench, tmp_path):
    """On the NT family -dir= takes a folder of any length (260 characters was the limit of
    the ANSI program, which refused a longer one as an invalid parameter and failed at the
    first output path of one of 260)."""
    exe = bench.make_sfx(tmp_path, files=FILES, auto=True)
    for folder in (tmp_path / ("d" * 120) / ("e" * 140), tmp_path / ("f" * 255) / ("g" * 255)):
        assert len(bench.winpath(folder)) > 261
        run = bench.start(exe, f'-silent -dir="{bench.winpath(folder)}"')
        assert run.wait_exit() == 0
        assert {p.relative_to(folder).as_posix(): p.read_text() for p in folder.rglob("*") if p.is_file()} == FILES


# ---- -overwrite ---------------------------------------------------------------------------------


@pytest.mark.parametrize("mode", ["", "-silent"], ids=["automatic", "silent"])
def test_overwrite_switch_replaces_existing_files_without_asking(bench, tmp_path, mode):
    out = tmp_path / "out"
    (out / "sub").mkdir(parents=True)
    (out / "a.txt").write_text("alt")
    (out / "sub" / "b.txt").write_text("alt")
    exe = plain_build(bench, tmp_path, out)
    run = bench.start(exe, f"{mode} -overwrite".strip())
    code = exit_without_window(run) if mode else run.wait_exit()
    assert code == 0
    bench.compare_trees(out, exe.source, times=False)


# ---- spelling and combinations ----------------------------------------------------------------


def alternate(word):
    return "".join(c.upper() if i % 2 else c for i, c in enumerate(word))


# prefixes of -silent, -overwrite, -dir=, -password=, -log=, -args=; spelling of the words
SPELLINGS = [
    ("dash-lower", "------", str.lower),
    ("slash-upper", "//////", str.upper),
    ("mixed", "-/-/-/", alternate),
]


@pytest.mark.parametrize("prefixes, spell", [case[1:] for case in SPELLINGS],
                         ids=[case[0] for case in SPELLINGS])
def test_switches_in_both_prefixes_and_any_case(bench, tmp_path, prefixes, spell):
    """Every switch but -help in one line with -args=; the command echoes the arguments."""
    out, log, echo_log = tmp_path / "out", tmp_path / "x.log", tmp_path / "echo.log"
    out.mkdir()
    (out / "a.txt").write_text("alt")
    files = {**FILES, "echo.exe": bench.testprog("argecho").read_bytes()}
    exe = bench.make_sfx(tmp_path, files=files, command="echo.exe", args=["--password", PASSWORD])
    values = ["", "", bench.winpath(out), PASSWORD, bench.winpath(log), "eins zwei"]
    words = ["silent", "overwrite", "dir=", "password=", "log=", "args="]
    line = " ".join(prefix + spell(word) + (f'"{value}"' if value else "")
                    for prefix, word, value in zip(prefixes, words, values))
    run = bench.start(exe, line, env={"ARGECHO_LOG": bench.winpath(echo_log)})
    assert exit_without_window(run) == 0
    assert (out / "a.txt").read_text() == FILES["a.txt"]
    assert log_lines(log)[-1] == "Ende: Exitcode 0"
    [echo] = run.wait_until(lambda: read_argecho_log(echo_log), what="argecho log")
    assert echo["cmdline"].endswith("eins zwei")


@pytest.mark.parametrize("switch", ["-?", "/?", "-help", "/HELP", "-Help -silent"])
def test_usage_box(bench, tmp_path, switch):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files=FILES, auto=True, args=["--folder", bench.winpath(out)])
    run = bench.start(exe, switch)
    if "silent" in switch:
        # The whole line is read before the usage is shown: with -silent nothing is shown.
        assert exit_without_window(run) == 0
        assert not out.exists()
        return
    box = run.wait_message_box()
    assert box.caption == BOX_CAPTION and box.icon == "none" and box.button_ids == [1]
    for word in ("-silent", '-dir="Ordner"', "-overwrite", "-password=", "-log=", "-args=",
                 "-info", "-help", "-wait", "-extract-only", "-test", "Exitcode"):
        assert word in box.text
    box.click("OK")
    assert run.wait_exit() == 0
    assert not out.exists()


# id, command line, the rest of the line shown in message 53
INVALID_LINES = [
    ("word-goes-on", "-silentx", "-silentx"),
    ("value-without-quotes", "-dir=C:\\x", "-dir=C:\\x"),
    ("empty-value", '-password=""', '-password=""'),
    ("no-value", "-log", "-log"),
    ("double-dash", "--silent", "--silent"),
    ("help-with-tail", "-?x", "-?x"),
    ("after-a-switch", "-overwrite x", "x"),
]


@pytest.mark.parametrize("line, shown", [case[1:] for case in INVALID_LINES],
                         ids=[case[0] for case in INVALID_LINES])
def test_invalid_switches_give_message_53(bench, tmp_path, line, shown):
    exe = bench.make_sfx(tmp_path, files=FILES, auto=True)
    run = bench.start(exe, line)
    box = run.wait_message_box()
    assert box.text == INVALID.format(shown)
    box.click("OK")
    assert run.wait_exit() == 2


def test_silent_invalid_parameter_goes_to_the_log(bench, tmp_path):
    exe = bench.make_sfx(tmp_path, files=FILES, auto=True)
    log = tmp_path / "x.log"
    run = bench.start(exe, f'-silent -log="{bench.winpath(log)}" -dir=x')
    assert exit_without_window(run) == 2
    assert log_lines(log) == [f"Meldung: {INVALID.format('-dir=x')}", "Ende: Exitcode 2"]


# ---- --no-unattended ---------------------------------------------------------------------------


def test_package_without_unattended_switches(bench, tmp_path):
    exe = bench.make_sfx(tmp_path, files=FILES, info=INFO, no_unattended=True,
                         args=["--folder", bench.winpath(tmp_path / "out")])
    report = subprocess.run([str(BUILDER), "inspect", str(exe.path)], capture_output=True, text=True,
                            check=True).stdout
    assert "SFX_NO_UNATTENDED" in report
    for line in ("-silent", "/Overwrite", '-dir="C:\\x"', '/PASSWORD="x"', '-log="x.log"',
                 "-?", "/help"):
        run = bench.start(exe, line)
        box = run.wait_message_box()
        assert box.text == INVALID.format(line)
        box.click("OK")
        assert run.wait_exit() == 2
    assert not (tmp_path / "out").exists() and not (tmp_path / "x.log").exists()
    run = bench.start(exe, '-args="a b" -info')
    box = run.wait_message_box()
    assert box.text == INFO
    box.click("OK")
    assert run.wait_exit() == 0
