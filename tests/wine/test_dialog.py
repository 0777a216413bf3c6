"""The main dialog end to end: caption and prompt line, the default target folder, the empty
folder refusal, Info and Help with their text limits, and the three modes (interactive,
automatic, hidden) with the buttons' states after a run."""

import random
import shutil
import tempfile
import time
from pathlib import Path

import pytest

from winebench import BOX_CAPTION, TIME_FACTOR

# Control ids of the main dialog.
PROMPT_LINE = 101
OVERWRITE_BOX = 102
INFO_BUTTON = 112
HELP_BUTTON = 104
FOLDER_FIELD = 106
STATUS_LINE = 109
METER = 201
IDOK = 1
IDCANCEL = 2

DM_GETDEFID = 0x0400
WS_EX_MDICHILD = 0x00000040
WS_EX_TOOLWINDOW = 0x00000080
VK_A = 0x41

MSG_EXTRACT_HINT = ("Wählen Sie Extrahieren, um alle Dateien in {} in den angegebenen Ordner zu "
                    "entpacken.")
MSG_THIS_ARCHIVE = "diesem selbstextrahierenden Archiv"
MSG_NO_FOLDER = "Kein Ordner angegeben."
MSG_FILES_EXTRACTED = "{} Datei(en) erfolgreich extrahiert"
MSG_ASK_OVERWRITE = "Datei {} existiert bereits. Überschreiben"
MSG_HELP = ('Wählen Sie "Extrahieren", um alle Dateien in {} zu entpacken. Die Dateien werden in '
            'den im Feld "Extrahieren nach" angegebenen Ordner entpackt. Wenn dieser Ordner nicht '
            'existiert, wird er automatisch angelegt.\n\nSie können diese Datei auch mit einem '
            'Standard-Packprogramm wie Tarvel entpacken.')
PRODUCT_INFO = ("Tarvel Self-Extractor\nVersion 1.0\n\nSelbstextrahierende ZIP-Archive für "
                "32-Bit-Windows\nhttps://www.tarvel.example/")
INTERNAL_ERROR = "Tarvel internal error in file sfxhead line {}"

# The Info text fills its 512-byte buffer (description, "\n\n", product text, "\n", NUL) with
# the longest description the builder accepts.
LONGEST_DESCRIPTION = 511 - len(PRODUCT_INFO) - 3


def default_button(dialog) -> int:
    """The dialog's default button id (DM_GETDEFID answers it in the low word)."""
    return dialog.run.driver.call(f"send {dialog.hwnd} 0 {DM_GETDEFID}")["result"] & 0xFFFF


def screen_size(run) -> tuple:
    hello = run.driver.call("hello")
    return hello["screen_width"], hello["screen_height"]


def extract_interactively(run, dialog, files: int) -> None:
    """Extract, then the completion box: no icon, OK only, owned by the dialog."""
    dialog.click(IDOK)
    box = run.wait_message_box()
    assert (box.text, box.caption) == (MSG_FILES_EXTRACTED.format(files), BOX_CAPTION)
    assert (box.icon, box.button_ids, box.owner) == ("none", [1], dialog.hwnd)
    box.click("OK")


@pytest.fixture
def short_folder():
    """A folder with a short Windows path, so that long program names stay within MAX_PATH."""
    folder = Path(tempfile.mkdtemp(prefix="tv", dir="/tmp"))
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


# ---- caption, prompt line, position ------------------------------------------------------------

# The prompt line names the program up to 24 characters (ANSI characters, so "ö" counts one).
PROMPT_NAMES = [
    ("Größe-Übersicht-2024.exe", "Größe-Übersicht-2024.exe"),
    ("Größe-Übersicht-20245.exe", MSG_THIS_ARCHIVE),
]


@pytest.mark.parametrize("name, shown", PROMPT_NAMES, ids=["24 characters", "25 characters"])
def test_prompt_line_names_short_programs_and_caption_names_all(bench, tmp_path, name, shown):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"}, name=name)
    run = bench.start(exe)
    dialog = run.dialog()
    assert dialog[PROMPT_LINE].text == MSG_EXTRACT_HINT.format(shown)
    assert dialog.caption == f"Tarvel Self-Extractor - {name}"


# builder options, expected caption
CAPTIONS = [
    ({}, "Tarvel Self-Extractor - test.exe"),
    ({"title": "Mein Paket"}, "Tarvel Self-Extractor - test.exe"),
    ({"title": "Mein Päckchen", "title_caption": True}, "Mein Päckchen"),
    ({"title_caption": True}, "Setup"),
]


@pytest.mark.parametrize("options, caption", CAPTIONS,
                         ids=["default", "title only", "title caption", "title caption empty"])
def test_caption_is_the_title_only_with_title_caption(bench, tmp_path, options, caption):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"}, **options)
    dialog = bench.start(exe).dialog()
    assert dialog.caption == caption


def test_dialog_is_centred_and_ready(bench, tmp_path):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    run = bench.start(exe)
    dialog = run.dialog()
    width, height = screen_size(run)
    left, top, right, bottom = dialog.rect
    assert (left, top) == ((width - (right - left)) // 2, (height - (bottom - top)) // 2)
    assert dialog.foreground
    assert dialog[IDOK].enabled and default_button(dialog) == IDOK
    assert not dialog[METER].visible
    assert dialog[STATUS_LINE].text == ""


# ---- default target folder ---------------------------------------------------------------------

# environment (None removes a variable), folder field
TEMP_FOLDERS = [
    ({"TMP": "C:\\Daten\\Temp\\", "TEMP": "C:\\Anderes"}, "C:\\Daten\\Temp"),
    ({"TMP": "C:\\Daten\\Temp/"}, "C:\\Daten\\Temp"),
    ({"TMP": "C:\\"}, "C:\\"),
    ({"TMP": "\\\\server\\freigabe\\"}, "\\\\server\\freigabe"),
    ({"TMP": "", "TEMP": "D:\\Temp\\"}, "D:\\Temp"),
    ({"TMP": None, "TEMP": "D:\\Temp"}, "D:\\Temp"),
    ({"TMP": None, "TEMP": None}, "C:\\windows\\TEMP"),
    # A value too long for the 261-byte buffer counts as absent.
    ({"TMP": "C:\\" + "t" * 300, "TEMP": "D:\\Temp"}, "D:\\Temp"),
]


@pytest.mark.parametrize("env, field", TEMP_FOLDERS,
                         ids=["tmp trailing separator", "tmp trailing slash", "drive root",
                              "unc trailing separator", "empty tmp", "no tmp", "windows temp",
                              "tmp too long"])
def test_default_folder_comes_from_tmp_temp_or_windows(bench, tmp_path, env, field):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    dialog = bench.start(exe, env=env).dialog()
    assert dialog[FOLDER_FIELD].text == field


@pytest.fixture
def windows_temp(bench):
    """The prefix's C:\\windows\\temp moved aside for a test, and put back afterwards."""
    windows = bench.unixpath("C:\\windows")
    original, aside = windows / "temp", windows / "temp.tvsfx-aside"
    original.rename(aside)
    yield windows
    for made in windows.iterdir():
        if made.name.lower() == "temp":
            shutil.rmtree(made) if made.is_dir() else made.unlink()
    aside.rename(original)


def test_missing_windows_temp_folder_is_created(bench, tmp_path, windows_temp):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    dialog = bench.start(exe, env={"TMP": None, "TEMP": None}).dialog()
    assert dialog[FOLDER_FIELD].text == "C:\\windows\\TEMP"
    assert (windows_temp / "TEMP").is_dir()


def test_windows_temp_that_is_a_file_leaves_the_field_empty(bench, tmp_path, windows_temp):
    (windows_temp / "temp").write_bytes(b"not a folder")
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    run = bench.start(exe, env={"TMP": None, "TEMP": None})
    dialog = run.dialog()
    assert dialog[FOLDER_FIELD].text == ""
    dialog.click(IDOK)
    assert run.wait_message_box().text == MSG_NO_FOLDER


# configured folder, folder field ("<exe>" is the program's folder)
CONFIGURED_FOLDERS = [
    (".", "<exe>"),
    (".\\", ".\\"),
    ("C:\\Ziel\\", "C:\\Ziel\\"),
    ("Unterordner", "Unterordner"),
]


@pytest.mark.parametrize("configured, field", CONFIGURED_FOLDERS,
                         ids=["dot", "dot separator", "trailing separator kept", "relative"])
def test_configured_folder_is_shown_as_given_except_a_dot(bench, tmp_path, configured, field):
    exe = bench.make_sfx(tmp_path / "prog", files={"a.txt": b"x"}, args=["--folder", configured])
    # Started from another folder: "." must mean the program's folder, not the caller's.
    dialog = bench.start(exe, cwd=tmp_path).dialog()
    assert dialog[FOLDER_FIELD].text == field.replace("<exe>", bench.winpath(tmp_path / "prog"))


def test_empty_folder_field_is_refused_and_the_dialog_stays_ready(bench, tmp_path):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, "")
    dialog.click(IDOK)
    box = run.wait_message_box()
    assert (box.text, box.icon, box.button_ids, box.owner) == (MSG_NO_FOLDER, "error", [1],
                                                               dialog.hwnd)
    box.click("OK")
    dialog = dialog.refresh()
    assert dialog[IDOK].enabled and default_button(dialog) == IDCANCEL
    # Still usable: a folder typed now is extracted into.
    dialog.settext(FOLDER_FIELD, bench.winpath(tmp_path / "out"))
    extract_interactively(run, dialog, files=1)
    bench.compare_trees(tmp_path / "out", exe.source)


def test_folder_field_takes_260_characters_and_no_more(bench, tmp_path):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    run = bench.start(exe)
    dialog = run.dialog()
    folder = "C:\\" + "x" * 257
    # Typing (a posted key at the caret, which WM_SETTEXT leaves at the start) obeys the
    # limit that WM_SETTEXT itself does not.
    dialog.settext(FOLDER_FIELD, folder[:259])
    dialog.key(FOLDER_FIELD, VK_A)
    run.wait_until(lambda: len(dialog.live_text(FOLDER_FIELD)) == 260, what="typed character")
    assert dialog.live_text(FOLDER_FIELD) == "a" + folder[:259]

    dialog.settext(FOLDER_FIELD, folder)
    dialog.key(FOLDER_FIELD, VK_A)
    time.sleep(0.3 * TIME_FACTOR)
    assert dialog.live_text(FOLDER_FIELD) == folder
    # Extract takes all 260 characters without an internal error. The output path is not too
    # long on the NT family, but the folder's one component of 257 characters is longer than a
    # name may be: its creation ends the run with the folder's message.
    dialog.click(IDOK)
    box = run.wait_message_box()
    assert box.text == f'"{folder}" konnte nicht erstellt werden - Extrahieren abgebrochen.'
    box.click("OK")
    assert run.wait_exit() == 2


# ---- Info and Help -----------------------------------------------------------------------------

# description, Info text
INFO_TEXTS = [
    (None, PRODUCT_INFO),
    ("Hallo Welt", f"Hallo Welt\n\n{PRODUCT_INFO}\n"),
    ("Zeile 1\nZeile 2", f"Zeile 1\nZeile 2\n\n{PRODUCT_INFO}\n"),
    ("ä" * LONGEST_DESCRIPTION, "ä" * LONGEST_DESCRIPTION + f"\n\n{PRODUCT_INFO}\n"),
]


@pytest.mark.parametrize("about, text", INFO_TEXTS,
                         ids=["no description", "one line", "two lines", "longest"])
def test_info_shows_description_and_product_text(bench, tmp_path, about, text):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"}, about=about)
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.click(INFO_BUTTON)
    box = run.wait_message_box()
    assert (box.text, box.caption, box.icon, box.button_ids) == (text, BOX_CAPTION, "none", [1])
    assert box.owner == dialog.hwnd
    box.click("OK")
    assert dialog.refresh()[IDOK].enabled


def test_help_names_a_program_of_209_characters(bench, short_folder):
    name = "h" * 205 + ".exe"
    exe = bench.make_sfx(short_folder, files={"a.txt": b"x"}, name=name)
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.click(HELP_BUTTON)
    box = run.wait_message_box()
    assert (box.text, box.icon, box.button_ids, box.owner) == (MSG_HELP.format(name), "none", [1],
                                                               dialog.hwnd)
    box.click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0


def test_help_for_a_program_of_210_characters_is_an_internal_error(bench, short_folder):
    exe = bench.make_sfx(short_folder, files={"a.txt": b"x"}, name="h" * 206 + ".exe")
    run = bench.start(exe)
    run.dialog().click(HELP_BUTTON)
    box = run.wait_message_box()
    assert (box.text, box.icon, box.button_ids) == (INTERNAL_ERROR.format(4658), "warning", [1])
    box.click("OK")
    notice = run.wait_message_box()
    assert "TVSFX32.RPT" in notice.text and notice.icon == "warning"
    notice.click("OK")
    assert run.wait_exit() == 1
    # The report lands in the program's folder, which start-up made current.
    report = (short_folder / "TVSFX32.RPT").read_bytes().decode("cp1252")
    assert report.startswith(INTERNAL_ERROR.format(4658) + "\r\n")


# ---- modes -------------------------------------------------------------------------------------

# archive contents, whether the meter showed (then the status line stays hidden)
INTERACTIVE_RUNS = [
    ({"a.txt": b"x", "sub/b.txt": b"y"}, False),
    # An archive above 512 KiB shows the meter at once, which replaces the status line for good.
    ({"a.txt": b"x", "big.bin": random.Random(1).randbytes(700_000)}, True),
]


@pytest.mark.parametrize("files, meter_shown", INTERACTIVE_RUNS, ids=["small", "large"])
def test_interactive_success_keeps_the_dialog_ready_with_close_as_default(bench, tmp_path, files,
                                                                           meter_shown):
    exe = bench.make_sfx(tmp_path, files=files)
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(tmp_path / "out"))
    extract_interactively(run, dialog, files=2)
    bench.compare_trees(tmp_path / "out", exe.source)

    dialog = dialog.refresh()
    assert dialog.visible and dialog[IDOK].enabled
    assert default_button(dialog) == IDCANCEL
    assert not dialog[METER].visible
    assert dialog[STATUS_LINE].visible == (not meter_shown)
    assert dialog.live_text(STATUS_LINE) == MSG_FILES_EXTRACTED.format(2)
    # Help after a run changes nothing; Close ends the program.
    dialog.click(HELP_BUTTON)
    run.wait_message_box().click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0


# builder option, whether the dialog is visible while the run asks
UNATTENDED_MODES = [("auto", True), ("hidden", False)]


@pytest.mark.parametrize("mode, visible", UNATTENDED_MODES, ids=["automatic", "hidden"])
def test_unattended_modes_extract_ask_and_close_without_completion_box(bench, tmp_path, mode,
                                                                        visible):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"neu", "b.txt": b"b"},
                         args=["--folder", bench.winpath(out)], **{mode: True})
    bench.write_tree(out, {"a.txt": b"alt"})
    run = bench.start(exe)
    box = run.wait_message_box()
    assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / "a.txt"))
    dialog = run.dialog(visible=visible)
    assert box.owner == dialog.hwnd
    if mode == "hidden":
        hidden_bits = WS_EX_TOOLWINDOW | WS_EX_MDICHILD
        assert dialog.exstyle & hidden_bits == hidden_bits
    box.click("Ja")
    # No completion box: the program ends on its own.
    assert run.wait_exit() == 0
    bench.compare_trees(out, exe.source)


def test_second_extract_uses_the_overwrite_box_of_that_moment(bench, tmp_path):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"neu"}, args=["--folder", bench.winpath(out)])
    run = bench.start(exe)
    dialog = run.dialog()
    assert dialog[OVERWRITE_BOX].checked == 0
    extract_interactively(run, dialog, files=1)

    (out / "a.txt").write_bytes(b"alt")
    dialog.check(OVERWRITE_BOX, True)
    extract_interactively(run, dialog, files=1)
    assert (out / "a.txt").read_bytes() == b"neu"

    (out / "a.txt").write_bytes(b"alt")
    dialog.check(OVERWRITE_BOX, False)
    dialog.click(IDOK)
    question = run.wait_message_box()
    assert question.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / "a.txt"))
    question.click("Nein")
    completion = run.wait_message_box()
    assert completion.text == MSG_FILES_EXTRACTED.format(0)
    completion.click("OK")
    assert (out / "a.txt").read_bytes() == b"alt"
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0


def test_overwrite_flag_presets_the_check_box(bench, tmp_path):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"}, overwrite=True)
    dialog = bench.start(exe).dialog()
    assert dialog[OVERWRITE_BOX].checked == 1
