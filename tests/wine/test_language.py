"""Packages in English and packages that choose their language by the user's Windows: the main
dialog, the boxes, the password dialog, the usage box and the log in English; the choice of
--language auto under German and English locales."""

import subprocess

import pytest

from extractkit import PASSWORD_EDIT
from winebench import BOX_CAPTION, exit_without_window

FILES = {"a.txt": "alpha", "sub/b.txt": "beta"}
PASSWORD = "Sesam"

# Control ids of the main dialog.
PROMPT_LINE = 101
FOLDER_LABEL = 105
FOLDER_FIELD = 106
OVERWRITE_BOX = 102
RUN_COMMAND_BOX = 111
IDOK, IDCANCEL = 1, 2
ARCHIVER_BUTTON, INFO_BUTTON, HELP_BUTTON, BROWSE_BUTTON = 113, 112, 104, 115
PASSWORD_TEXT = 401

ENGLISH_DIALOG = {
    PROMPT_LINE: "Choose Extract to unpack all files in english.exe into the specified folder.",
    FOLDER_LABEL: "E&xtract to: ",
    BROWSE_BUTTON: "&Browse...",
    OVERWRITE_BOX: "&Overwrite files without asking",
    RUN_COMMAND_BOX: "&Run after extracting: a.txt",
    IDOK: "&Extract",
    ARCHIVER_BUTTON: "Start &Tarvel",
    IDCANCEL: "&Close",
    INFO_BUTTON: "&Info",
    HELP_BUTTON: "&Help",
}
ENGLISH_HELP = ('Choose "Extract" to unpack all files in english.exe. The files are unpacked into '
                'the folder given in the "Extract to" field. If this folder does not exist, it is '
                'created automatically.\n\nYou can also unpack this file with a standard archiver '
                'such as Tarvel.')
ENGLISH_PRODUCT = ("Tarvel Self-Extractor\nVersion 1.0\n\nSelf-extracting ZIP archives for 32-bit "
                   "Windows\nhttps://www.tarvel.example/")
ENGLISH_PASSWORD_CAPTION = "Tarvel Self-Extractor - Password"
ENGLISH_PASSWORD_TEXT = ("This self-extracting archive is password-protected.\n\n"
                         "Please enter the &password:")
GERMAN_LABEL = "E&xtrahieren nach: "
ENGLISH_LABEL = ENGLISH_DIALOG[FOLDER_LABEL]


def log_lines(path):
    return path.read_bytes().decode("utf-8").split("\r\n")[:-1]


def english_build(bench, where, **options):
    return bench.make_sfx(where, files=FILES, name="english.exe", language="en", **options)


def test_english_package_shows_english_dialog_boxes_and_password_dialog(bench, tmp_path):
    out = tmp_path / "out"
    exe = english_build(bench, tmp_path, password=PASSWORD, about="Demo 2.0", command="a.txt")
    run = bench.start(exe)
    dialog = run.dialog()
    assert {control: dialog[control].text for control in ENGLISH_DIALOG} == ENGLISH_DIALOG
    assert dialog.caption == f"{BOX_CAPTION} - english.exe"

    for button, text in ((HELP_BUTTON, ENGLISH_HELP), (INFO_BUTTON, f"Demo 2.0\n\n{ENGLISH_PRODUCT}\n")):
        dialog.click(button)
        box = run.wait_message_box()
        assert (box.text, box.caption) == (text, BOX_CAPTION)
        box.click("OK")

    dialog.settext(FOLDER_FIELD, "")
    dialog.click(IDOK)
    box = run.wait_message_box()
    assert box.text == "No folder specified."
    box.click("OK")

    dialog.check(RUN_COMMAND_BOX, False)
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    prompt = run.wait_window(caption=ENGLISH_PASSWORD_CAPTION)
    assert prompt[PASSWORD_TEXT].text == ENGLISH_PASSWORD_TEXT
    assert (prompt[IDOK].text, prompt[IDCANCEL].text) == ("OK", "Cancel")
    prompt.settext(PASSWORD_EDIT, PASSWORD)
    prompt.click(IDOK)
    box = run.wait_message_box()
    assert box.text == "2 file(s) extracted successfully"
    box.click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
    assert (out / "sub" / "b.txt").read_text() == "beta"


def test_english_package_writes_its_log_and_usage_in_english(bench, tmp_path):
    out = tmp_path / "out"
    exe = english_build(bench, tmp_path, password=PASSWORD, args=["--folder", bench.winpath(out)])
    log = tmp_path / "run.log"
    code = exit_without_window(bench.start(exe, f'-silent -password="Falsch" -log="{bench.winpath(log)}"'))
    assert code == 2
    assert log_lines(log) == ["Message: Wrong password entered", "End: exit code 2"]

    log.unlink()
    code = exit_without_window(bench.start(exe, f'-silent -password="{PASSWORD}" -log="{bench.winpath(log)}"'))
    assert code == 0
    assert log_lines(log) == [f"File: {bench.winpath(out / 'a.txt')}",
                              f"File: {bench.winpath(out / 'sub' / 'b.txt')}", "End: exit code 0"]

    run = bench.start(exe, "-help")
    box = run.wait_message_box()
    assert box.text.startswith("Switches for unattended installation:\n\n-silent: extract without")
    assert box.text.endswith("Exit code: 0 success, 1 internal error, 2 error, 3 canceled.")
    box.click("OK")
    assert run.wait_exit() == 0

    run = bench.start(exe, "-bogus")
    box = run.wait_message_box()
    assert box.text == "Invalid command line parameter (-bogus)."
    box.click("OK")
    run.wait_exit()


def locale_missing(name):
    listed = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    return name.lower().replace("utf-8", "utf8") not in [entry.lower() for entry in listed]


# Wine takes the user's UI language (GetUserDefaultUILanguage) from LC_MESSAGES of the Unix
# side, the system's default language from LC_CTYPE: LC_ALL sets both, and a German LC_MESSAGES
# beside an English LC_CTYPE shows that the UI language decides.
AUTO_CASES = [
    ("german", {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}, GERMAN_LABEL),
    ("english", {"LC_ALL": "en_US.UTF-8", "LANG": "en_US.UTF-8"}, ENGLISH_LABEL),
    ("german-ui-english-system", {"LC_ALL": None, "LANG": "en_US.UTF-8", "LC_MESSAGES": "de_DE.UTF-8"},
     GERMAN_LABEL),
    ("english-ui-german-system", {"LC_ALL": None, "LANG": "de_DE.UTF-8", "LC_MESSAGES": "en_US.UTF-8"},
     ENGLISH_LABEL),
]


@pytest.mark.parametrize("locale, label", [case[1:] for case in AUTO_CASES],
                         ids=[case[0] for case in AUTO_CASES])
def test_auto_package_follows_the_users_ui_language(bench, tmp_path, locale, label):
    for name in ("de_DE.UTF-8", "en_US.UTF-8"):
        if locale_missing(name):
            pytest.skip(f"the {name} locale is missing (scripts/install-deps.sh generates it)")
    exe = bench.make_sfx(tmp_path, files=FILES, language="auto")
    run = bench.start(exe, env=locale)
    dialog = run.dialog()
    assert dialog[FOLDER_LABEL].text == label
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
