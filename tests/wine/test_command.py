"""The command after extraction and the archiver button end to end: the check box and its
caption, the parameters handed to the command, the shell verb, the failure messages, and the
registered open command of the archiver. argecho.exe (tests/wine/driver) stands in for both
programs and logs how it was started."""

import shutil
import subprocess

import pytest

from winebench import BOX_CAPTION, SFX_EXE_VOLUMES, SFX_MULTI_VOLUME, read_argecho_log

FOLDER_FIELD = 106
RUN_COMMAND_BOX = 111
COMMAND_TEXT = 103
ARCHIVER_BUTTON = 113
IDOK = 1
IDCANCEL = 2
VK_SHIFT = 0x10
VK_SPACE = 0x20
WM_NEXTDLGCTL = 0x0028

MSG_RUN_AFTER = "Nach dem Extrahieren &ausführen: "
MSG_FILES_EXTRACTED = "{} Datei(en) erfolgreich extrahiert"
MSG_CHANGE_FOLDER_FAILED = 'Fehler beim Wechseln in das "Extrahieren nach"-Verzeichnis'
MSG_COMMAND_FAILED = "Fehler {} beim Ausführen des Befehls {}"
MSG_NO_ASSOCIATION = ("Befehlsdatei {} konnte nicht benutzt werden.\n"
                      "Es ist keine Windows-Verknüpfung definiert.")
MSG_ARCHIVER_NOT_FOUND = "Tarvel konnte nicht gefunden werden."
DISK_PROMPT = "Der Datenträger im Laufwerk fehlt"
INTERNAL_ERROR = "Tarvel internal error in file sfxhead line {}"

ARCHIVER_KEY = r"HKCR\tarvel"


@pytest.fixture
def echo_log(tmp_path):
    return tmp_path / "argecho.log"


def wait_for_echo(run, log) -> list:
    """argecho's log once it has a line (the stub does not wait for its command)."""
    return run.wait_until(lambda: read_argecho_log(log), what="argecho log")


class Registry:
    """HKEY_CLASSES_ROOT of the session prefix through Wine's reg.exe; the top keys (such as
    HKCR\\tarvel) under which a test added values are deleted when it ends."""

    def __init__(self, bench):
        self.env = bench.session.env
        self.added = []

    def reg(self, *arguments, check=True):
        result = subprocess.run(["wine", "reg", *arguments], env=self.env, capture_output=True,
                                timeout=60)
        if check and result.returncode != 0:
            raise AssertionError(f"reg {arguments}: {result.stderr!r}")

    def set_default(self, key: str, value: str) -> None:
        self.reg("add", key, "/ve", "/d", value, "/f")
        top = "\\".join(key.split("\\")[:2])
        if top not in self.added:
            self.added.append(top)

    def delete(self, key: str) -> None:
        self.reg("delete", key, "/f", check=False)


@pytest.fixture
def registry(bench):
    keys = Registry(bench)
    yield keys
    for key in keys.added:
        keys.delete(key)


def start_extraction(bench, exe, out, args=None, env=None):
    """Starts exe, extracts into out and answers the completion box. Returns run, dialog."""
    run = bench.start(exe, args, env=env)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    box = run.wait_message_box()
    assert box.text == MSG_FILES_EXTRACTED.format(1)
    box.click("OK")
    return run, dialog


# ---- check box 111 -----------------------------------------------------------------------------

# command, check box visible and checked, its caption, static 103
CHECK_BOXES = [
    ("echo10.exe", True, MSG_RUN_AFTER + "echo10.exe", ""),
    ("echo_11.exe", True, MSG_RUN_AFTER, "echo_11.exe"),
    (None, False, "", ""),
]


@pytest.mark.parametrize("command, shown, caption, long_text", CHECK_BOXES,
                         ids=["10 characters", "11 characters", "no command"])
def test_check_box_offers_the_command(bench, tmp_path, command, shown, caption, long_text):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"}, command=command)
    dialog = bench.start(exe).dialog()
    box = dialog[RUN_COMMAND_BOX]
    assert (box.visible, box.checked, box.text) == (shown, int(shown), caption)
    assert dialog[COMMAND_TEXT].text == long_text


# ---- the command after extraction --------------------------------------------------------------

# id, configured parameters, command line of the program, folder suffix, automatic mode,
# argument part argecho sees
COMMAND_RUNS = [
    ("no parameters", None, None, "", False, ""),
    ("configured only", "p1  p2", None, "", False, "p1  p2"),
    ("args only", None, '-args="x  y"', "", False, "x  y"),
    ("both", "p1", '-args="x y"', "", False, "p1 x y"),
    ("trailing separator", None, None, "\\", False, ""),
    ("automatic", "p1", '/args="x"', "", True, "p1 x"),
]


@pytest.mark.parametrize("params, args, suffix, auto, echoed",
                         [case[1:] for case in COMMAND_RUNS],
                         ids=[case[0] for case in COMMAND_RUNS])
def test_command_runs_in_the_target_folder_with_its_parameters(bench, tmp_path, echo_log, params,
                                                               args, suffix, auto, echoed):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"echo10.exe": bench.testprog("argecho").read_bytes()},
                         command="echo10.exe", params=params, auto=auto,
                         args=["--folder", bench.winpath(out) + suffix])
    run = bench.start(exe, args, env={"ARGECHO_LOG": bench.winpath(echo_log)})
    if not auto:
        dialog = run.dialog()
        assert dialog[FOLDER_FIELD].text == bench.winpath(out) + suffix
        dialog.click(IDOK)
        run.wait_message_box().click("OK")
    # The dialog ends once the command is started; no completion box in automatic mode.
    assert run.wait_exit() == 0
    [echo] = wait_for_echo(run, echo_log)
    assert echo["cwd"] == bench.winpath(out)
    assert bench.unixpath(echo["exe"]) == out / "echo10.exe"
    # The shell gets the command's full path, never its bare name, and puts one blank between
    # program and parameters: a parameter text that starts with a blank, or an empty one, would
    # show here.
    assert echo["cmdline"] == f'"{bench.winpath(out / "echo10.exe")}"' + (f" {echoed}" if echoed else "")


# builder's --verb-install, verb argecho logs
VERBS = [(False, "open"), (True, "install")]


def register_document_types(bench, registry) -> None:
    echo = bench.winpath(bench.testprog("argecho"))
    registry.set_default(r"HKCR\.tvtest", "tvtestfile")
    registry.set_default(r"HKCR\tvtestfile\shell\open\command", f'"{echo}" open "%1" %*')
    registry.set_default(r"HKCR\tvtestfile\shell\Install\command", f'"{echo}" install "%1" %*')
    registry.set_default(r"HKCR\.tvnoverb", "tvnoverbfile")
    registry.set_default(r"HKCR\tvnoverbfile\shell\open\command", f'"{echo}" open "%1" %*')


@pytest.mark.parametrize("verb_install, verb", VERBS, ids=["default verb", "install verb"])
def test_shell_start_uses_the_install_verb_when_flagged(bench, tmp_path, registry, echo_log,
                                                        verb_install, verb):
    register_document_types(bench, registry)
    out = tmp_path / "out"
    document = "doc.tvtest"
    exe = bench.make_sfx(tmp_path, files={document: b"Dokument"}, command=document, params="p1",
                         verb_install=verb_install)
    run, _ = start_extraction(bench, exe, out, env={"ARGECHO_LOG": bench.winpath(echo_log)})
    assert run.wait_exit() == 0
    [echo] = wait_for_echo(run, echo_log)
    assert echo["args"] == f'{verb} "{bench.winpath(out / document)}" p1'
    assert echo["cwd"] == bench.winpath(out)


# command, archive contents, --verb-install, box text, box icon
COMMAND_FAILURES = [
    ("tool.xyz", {"tool.xyz": b"?"}, False, MSG_NO_ASSOCIATION.format("tool.xyz"), "error"),
    # The lookup fails: the file is not there (SE_ERR_FNF).
    ("missing.exe", {"a.txt": b"x"}, False, MSG_COMMAND_FAILED.format(2, "missing.exe"), "none"),
    # The start fails: the type has no Install verb (SE_ERR_NOASSOC).
    ("doc.tvnoverb", {"doc.tvnoverb": b"x"}, True,
     MSG_COMMAND_FAILED.format(31, "doc.tvnoverb"), "none"),
]


@pytest.mark.parametrize("command, files, verb_install, text, icon", COMMAND_FAILURES,
                         ids=["unknown extension", "missing file", "missing verb"])
def test_command_that_cannot_start_is_reported_and_the_dialog_ends(bench, tmp_path, registry,
                                                                   echo_log, command, files,
                                                                   verb_install, text, icon):
    register_document_types(bench, registry)
    exe = bench.make_sfx(tmp_path, files=files, command=command, verb_install=verb_install)
    run, dialog = start_extraction(bench, exe, tmp_path / "out",
                                   env={"ARGECHO_LOG": bench.winpath(echo_log)})
    box = run.wait_message_box()
    assert (box.text, box.caption, box.icon, box.button_ids) == (text, BOX_CAPTION, icon, [1])
    assert box.owner == dialog.hwnd
    box.click("OK")
    assert run.wait_exit() == 2
    assert read_argecho_log(echo_log) == []


def expect_internal_error(run, line: int, report_folder) -> None:
    """The internal-error box, the notice about the report, exit code 1, and the report in the
    current directory of that moment."""
    box = run.wait_message_box()
    assert (box.text, box.icon) == (INTERNAL_ERROR.format(line), "warning")
    box.click("OK")
    run.wait_message_box(exclude=[box.hwnd]).click("OK")
    assert run.wait_exit() == 1
    report = (report_folder / "TVSFX32.RPT").read_bytes().decode("cp1252")
    assert report.startswith(INTERNAL_ERROR.format(line) + "\r\n")


# configured parameters, "-args=" value, internal error line (None: the command runs)
PARAMETER_LIMITS = [
    ("p" * 249, "123456", None),
    ("p" * 250, "123456", 5579),
    ("p" * 256, "x", 5578),
]


@pytest.mark.parametrize("params, extra, line", PARAMETER_LIMITS,
                         ids=["256 characters fit", "257 characters", "no room for the blank"])
def test_parameters_and_args_share_256_characters(bench, tmp_path, echo_log, params, extra, line):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"echo10.exe": bench.testprog("argecho").read_bytes()},
                         command="echo10.exe", params=params, auto=True,
                         args=["--folder", bench.winpath(out)])
    run = bench.start(exe, f'-args="{extra}"', env={"ARGECHO_LOG": bench.winpath(echo_log)})
    if line is None:
        assert run.wait_exit() == 0
        assert wait_for_echo(run, echo_log)[0]["args"] == f"{params} {extra}"
    else:
        # The target folder is current by then, so the report is written there.
        expect_internal_error(run, line, out)
        assert read_argecho_log(echo_log) == []


def test_target_folder_that_cannot_be_made_current_keeps_the_dialog(bench, tmp_path, echo_log):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"echo10.exe": bench.testprog("argecho").read_bytes()},
                         command="echo10.exe")
    run = bench.start(exe, env={"ARGECHO_LOG": bench.winpath(echo_log)})
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    completion = run.wait_message_box()
    # The folder goes away between the extraction and the change into it.
    shutil.rmtree(out)
    completion.click("OK")
    box = run.wait_message_box()
    assert (box.text, box.icon, box.button_ids) == (MSG_CHANGE_FOLDER_FAILED, "none", [1])
    box.click("OK")
    dialog = dialog.refresh()
    assert dialog.visible and dialog[IDOK].enabled
    assert read_argecho_log(echo_log) == []
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 2  # the command was not run


# ---- the archiver button -----------------------------------------------------------------------

def answer_disk_prompts(run, count: int) -> None:
    """A spanned archive asks for disk 1 at start-up (program and configuration); on a drive
    without a label, Ignore takes the program's own file as that disk."""
    seen = []
    for _ in range(count):
        box = run.wait_message_box(exclude=seen)
        assert box.text.startswith(DISK_PROMPT)
        seen.append(box.hwnd)
        box.click("Ignorieren")


# id, registered open command ("{echo}" is argecho's path), flags, name argecho is given
ARCHIVER_STARTS = [
    ("placeholder", "{echo} %1", 0, "test.exe"),
    ("everything behind the first blank", "{echo} -o %1 --neu", 0, "test.exe"),
    ("no blank", "{echo}", 0, "test.exe"),
    ("spanned zip volumes", "{echo} %1", SFX_MULTI_VOLUME, "test.zip"),
    ("spanned exe volumes", "{echo} %1", SFX_MULTI_VOLUME | SFX_EXE_VOLUMES, "test.exe"),
]


@pytest.mark.parametrize("registered, flags, name", [case[1:] for case in ARCHIVER_STARTS],
                         ids=[case[0] for case in ARCHIVER_STARTS])
def test_archiver_button_starts_the_open_command_with_the_program(bench, tmp_path, registry,
                                                                  echo_log, registered, flags,
                                                                  name):
    echo = bench.winpath(bench.testprog("argecho"))
    registry.set_default(ARCHIVER_KEY + r"\shell\open\command", registered.format(echo=echo))
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    if flags:
        # The spanning flags on a one-file build: start-up then takes the program's own file
        # as disk 1, which is all the button needs.
        stub = bench.patch(exe)
        stub["flags"] |= flags
        stub.fix_stub_crc()
        stub.save()
    run = bench.start(exe, env={"ARGECHO_LOG": bench.winpath(echo_log)})
    if flags:
        answer_disk_prompts(run, 2)
    run.dialog().click(ARCHIVER_BUTTON)
    assert run.wait_exit() == 0
    [started] = wait_for_echo(run, echo_log)
    assert started["cmdline"] == f'{echo} "{bench.winpath(tmp_path / name)}"'


# The registered command up to its first blank, the quoted path and the NUL share 261 bytes.
ARCHIVER_LINE_CAPACITY = 261


@pytest.mark.parametrize("too_long", [False, True], ids=["line fills the buffer", "one more"])
def test_archiver_command_line_longer_than_its_buffer_is_an_internal_error(bench, tmp_path,
                                                                           registry, too_long):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    quoted = f'"{bench.winpath(exe.path)}"'
    program = "C:\\"
    program += "p" * (ARCHIVER_LINE_CAPACITY - 1 - len(quoted) - len(program) - len(" ") + too_long)
    registry.set_default(ARCHIVER_KEY + r"\shell\open\command", program + " %1")
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.click(ARCHIVER_BUTTON)
    if too_long:
        expect_internal_error(run, 3728, tmp_path)
    else:
        # The line fits; the program does not exist, so the start fails and message 27 shows.
        assert run.wait_message_box().text.startswith(MSG_ARCHIVER_NOT_FOUND)


# id, registered open command (None: no key), Shift held
ARCHIVER_FAILURES = [
    ("not registered", None, False),
    ("program missing", "Z:\\nirgends\\tarvel.exe %1", False),
    ("shift held", "{echo} %1", True),
]


@pytest.mark.parametrize("registered, shift", [case[1:] for case in ARCHIVER_FAILURES],
                         ids=[case[0] for case in ARCHIVER_FAILURES])
def test_archiver_not_started_shows_message_27_and_the_dialog_stays(bench, tmp_path, registry,
                                                                    echo_log, registered, shift):
    registry.delete(ARCHIVER_KEY)
    if registered is not None:
        echo = bench.winpath(bench.testprog("argecho"))
        registry.set_default(ARCHIVER_KEY + r"\shell\open\command", registered.format(echo=echo))
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    run = bench.start(exe, env={"ARGECHO_LOG": bench.winpath(echo_log)})
    dialog = run.dialog()
    try:
        if shift:
            # Shift, then Space on the focused button, all as real input (SendInput) to the
            # foreground dialog: its thread takes them from its queue in this order, so the
            # button's click sees Shift held however slow the machine is.
            run.driver.call(f"send {dialog.hwnd} 0 {WM_NEXTDLGCTL} {dialog[ARCHIVER_BUTTON].hwnd} 1")
            for vk, down in ((VK_SHIFT, 1), (VK_SPACE, 1), (VK_SPACE, 0)):
                run.driver.call(f"keyboard {vk} {down}")
        else:
            dialog.click(ARCHIVER_BUTTON)
        box = run.wait_message_box()
    finally:
        if shift:
            run.driver.call(f"keyboard {VK_SHIFT} 0")
    assert box.text.split("\n")[0] == MSG_ARCHIVER_NOT_FOUND
    assert (box.caption, box.icon, box.button_ids, box.owner) == (BOX_CAPTION, "none", [1],
                                                                  dialog.hwnd)
    box.click("OK")
    dialog = dialog.refresh()
    assert dialog.visible and dialog[IDOK].enabled
    assert read_argecho_log(echo_log) == []
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
