"""The meter control (201) end to end: its range and position through its own messages, what
it paints (fill edge, centred text, no text in a low control), when the main dialog shows it
instead of the status line, and its picture during an extraction. Also makes the README's
screenshots when TVSFX_SCREENSHOTS names a folder.

An archive of tens of megabytes extracts in well under a second under Wine, too fast to catch
the meter at a known position, so the pictures of a run are taken while the run waits at an
overwrite question: the position is then fixed and known from the sizes of the entries."""

import os
import random
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from winebench import TIME_FACTOR, make_zip, quote

FOLDER_FIELD = 106
STATUS_LINE = 109
METER = 201
IDOK = 1
IDCANCEL = 2
PASSWORD_CAPTION = "Tarvel Self-Extractor - Kennwort"
PASSWORD_EDIT = 402

METER_SETRANGE = 0x0400
METER_GETRANGE = 0x0401
METER_SETPOS = 0x0402
METER_GETPOS = 0x0403
COLOR_HIGHLIGHT = 13
COLOR_HIGHLIGHTTEXT = 14
WS_BORDER = 0x00800000
WS_EX_CLIENTEDGE = 0x00000200

MSG_EXTRACTING = "Extrahiere {}"
MSG_ASK_OVERWRITE = "Datei {} existiert bereits. Überschreiben"
# The meter's font: "MS Shell Dlg", 8 points (-(LOGPIXELSY x 8) / 72 pixels high).
METER_FACE, METER_POINTS = "MS Shell Dlg", 8
# The meter shows at once for archives whose end record lies at or beyond this offset.
LARGE_ARCHIVE_OFFSET = 0x80000


def send(dialog, control: int, message: int, wparam: int = 0) -> int:
    return dialog.run.driver.call(f"send {dialog.hwnd} {control} {message} {wparam}")["result"]


def system_colour(run, index: int) -> tuple:
    return tuple(run.driver.call(f"syscolor {index}")["rgb"])


def text_width(dialog, text: str) -> int:
    """Advance width of text in the meter's font, measured in the meter's own device context
    (so the expectation follows whatever font and rendering this Wine gives it)."""
    answer = dialog.run.driver.call(
        f"text_extent {dialog.hwnd} {METER} {quote(METER_FACE)} {METER_POINTS} {quote(text)}")
    return answer["width"]


@dataclass
class MeterPicture:
    """What a capture of the meter shows, in client pixels of the control."""

    width: int
    fill: int  # columns painted in the highlight colour, counted on the bottom row
    rest_plain: bool  # every column behind the fill in the inverse colour on the bottom row
    ink: tuple | None  # first and last column that carries text, or None
    colours: set
    height: int = 0
    ink_rows: tuple | None = None  # first and last row that carries text, or None


def border_width(control) -> int:
    """The dialog manager turns the template's WS_BORDER into a sunken client edge."""
    if control.exstyle & WS_EX_CLIENTEDGE:
        return 2
    return 1 if control.style & WS_BORDER else 0


def picture_of_meter(dialog, path: Path) -> MeterPicture:
    """Captures the dialog and reads the meter's client area. A column is text where a pixel
    differs from that column's background."""
    dialog = dialog.refresh()
    image = dialog.capture(path)
    meter = dialog[METER]
    left, top, right, bottom = meter.rect
    edge = border_width(meter)
    x0, y0 = left - dialog.rect[0] + edge, top - dialog.rect[1] + edge
    width, height = right - left - 2 * edge, bottom - top - 2 * edge
    rows = [image.pixels[y0 + y][x0:x0 + width] for y in range(height)]
    highlight = system_colour(dialog.run, COLOR_HIGHLIGHT)
    inverse = system_colour(dialog.run, COLOR_HIGHLIGHTTEXT)
    bottom_row = rows[-1]
    fill = next((x for x, pixel in enumerate(bottom_row) if pixel != highlight), width)
    def is_ink(x, pixel):
        return pixel != (highlight if x < fill else inverse)

    ink = [x for x in range(width) if any(is_ink(x, row[x]) for row in rows)]
    ink_rows = [y for y, row in enumerate(rows) if any(is_ink(x, pixel) for x, pixel in enumerate(row))]
    return MeterPicture(width=width, fill=fill,
                        rest_plain=all(pixel == inverse for pixel in bottom_row[fill:]),
                        ink=(ink[0], ink[-1]) if ink else None,
                        colours={pixel for row in rows for pixel in row}, height=height,
                        ink_rows=(ink_rows[0], ink_rows[-1]) if ink_rows else None)


def assert_centred_text(dialog, picture: MeterPicture, text: str) -> None:
    """The text is drawn centred on the control (TA_CENTER at width / 2, its advance width
    including trailing blanks) in the meter's font. Its ink lies within the advance box of its
    visible characters and fills most of it: how much depends on the font's side bearings and
    on hinting, which follow the fonts Wine has, so the bounds leave that room."""
    assert picture.ink is not None, "no text in the meter"
    expected_left = picture.width // 2 - text_width(dialog, text) // 2
    visible_width = text_width(dialog, text.rstrip())
    expected_right = expected_left + visible_width - 1
    ink_left, ink_right = picture.ink
    assert expected_left - 2 <= ink_left and ink_right <= expected_right + 2, (picture.ink, expected_left,
                                                                               expected_right)
    assert ink_right - ink_left + 1 >= visible_width * 0.85, (picture.ink, visible_width)


def show_meter(dialog) -> None:
    """The meter before any run: hidden by the dialog, made visible here to look at it."""
    dialog.run.driver.call(f"show {dialog.hwnd} {METER} 1")


# ---- the control on its own --------------------------------------------------------------------

# range and position sent (None: as created), client height forced (None: as in the template),
# expected range and position read back, text visible
METER_STATES = [
    ("fresh", None, None, None, 100, 50, True),
    ("37 of 100", 100, 37, None, 100, 37, True),
    ("1 of 3", 3, 1, None, 3, 1, True),
    ("empty", 100, 0, None, 100, 0, True),
    ("full", 100, 100, None, 100, 100, True),
    ("beyond the range", 100, 150, None, 100, 150, True),
    ("range 0", 0, 50, None, 0, 50, True),
    ("only 16 bits kept", 0x10064, 0x12345, None, 0x64, 0x2345, True),
    ("lower than its text", 100, 50, 8, 100, 50, False),
]


@pytest.mark.parametrize("range_sent, position_sent, height, range_read, position_read, text",
                         [case[1:] for case in METER_STATES],
                         ids=[case[0] for case in METER_STATES])
def test_meter_paints_fill_up_to_position_times_width_over_range(bench, tmp_path, range_sent,
                                                                 position_sent, height, range_read,
                                                                 position_read, text):
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x"})
    run = bench.start(exe)
    dialog = run.dialog()
    show_meter(dialog)
    if height is not None:
        left, top, right, _ = dialog[METER].rect
        client_left, client_top = dialog.client[:2]
        run.driver.call(f"move {dialog.hwnd} {METER} {left - client_left} {top - client_top} "
                        f"{right - left} {height}")
    if range_sent is not None:
        send(dialog, METER, METER_SETRANGE, range_sent)
        send(dialog, METER, METER_SETPOS, position_sent)
    assert (send(dialog, METER, METER_GETRANGE), send(dialog, METER, METER_GETPOS)) == (
        range_read, position_read)

    picture = picture_of_meter(dialog, tmp_path / "meter.bmp")
    # A range of 0 paints an empty bar; a position beyond the range fills the whole control.
    expected = 0
    if range_read:
        expected = min(picture.width, position_read * picture.width // range_read)
    assert (picture.fill, picture.rest_plain) == (expected, True)
    if text:
        assert_centred_text(dialog, picture, MSG_EXTRACTING.format(""))
    else:
        assert picture.ink is None
        assert picture.colours <= {system_colour(run, COLOR_HIGHLIGHT),
                                   system_colour(run, COLOR_HIGHLIGHTTEXT)}


# ---- the meter in a run ------------------------------------------------------------------------

# Every byte written counts, an entry's last partial buffer and small entries too.
def position_before(entries: dict, name: str) -> int:
    """Meter position (percent of the total size) when the run reaches entry name."""
    total = sum(len(data) for data in entries.values())
    written = 0
    for entry, data in entries.items():
        if entry == name:
            return written // (total // 100)
        written += len(data)
    raise KeyError(name)


# Six megabytes in five entries; the run asks before "liesmich.txt" (near a quarter) and
# "lizenz.txt" (near three quarters) when they exist.
def progress_entries() -> dict:
    rng = random.Random(7)
    return {"kern.bin": rng.randbytes(1_500_000), "liesmich.txt": b"Bitte lesen.\r\n" * 5,
            "hilfe.bin": rng.randbytes(3_000_000), "lizenz.txt": b"Lizenz\r\n" * 5,
            "zusatz.bin": rng.randbytes(1_499_800)}


QUESTIONS = ["liesmich.txt", "lizenz.txt"]


def test_meter_shows_position_and_current_entry_during_a_run(bench, tmp_path):
    out = tmp_path / "out"
    entries = progress_entries()
    exe = bench.make_sfx(tmp_path, zip=make_zip(tmp_path / "in.zip", entries))
    bench.write_tree(out, {name: b"alt" for name in QUESTIONS})
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    for name in QUESTIONS:
        position = position_before(entries, name)
        box = run.wait_message_box()
        assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / name))
        run.driver.call(f"move {box.hwnd} 0 0 0")
        dialog = dialog.refresh()
        assert dialog[METER].visible and not dialog[STATUS_LINE].visible
        assert (send(dialog, METER, METER_GETRANGE), send(dialog, METER, METER_GETPOS)) == (
            100, position)
        picture = picture_of_meter(dialog, tmp_path / f"run-{position}.bmp")
        assert (picture.fill, picture.rest_plain) == (position * picture.width // 100, True)
        assert_centred_text(dialog, picture, MSG_EXTRACTING.format(name))
        box.click("Ja")
    run.wait_message_box().click("OK")
    # After the run the meter is gone and the status line does not come back.
    dialog = dialog.refresh()
    assert not dialog[METER].visible and not dialog[STATUS_LINE].visible
    assert send(dialog, METER, METER_GETPOS) == 100


# A thousand small files, none of them a full output buffer: the meter counts them all and
# names the file it is at. The run asks before the one at two thirds.
def small_entries() -> dict:
    rng = random.Random(11)
    return {f"teil/{n:04d}.txt": rng.randbytes(700 + n % 300) for n in range(1000)}


def test_meter_moves_through_many_small_files(bench, tmp_path):
    out = tmp_path / "out"
    entries = small_entries()
    asked = "teil/0666.txt"
    exe = bench.make_sfx(tmp_path, zip=make_zip(tmp_path / "in.zip", entries))
    bench.write_tree(out, {asked: b"alt"})
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    box = run.wait_message_box()
    assert box.text == MSG_ASK_OVERWRITE.format(bench.winpath(out / asked))
    run.driver.call(f"move {box.hwnd} 0 0 0")
    dialog = dialog.refresh()
    assert dialog[METER].visible, "an archive this large shows the meter at once"
    position = position_before(entries, asked)
    assert 60 < position < 70
    assert send(dialog, METER, METER_GETPOS) == position
    picture = picture_of_meter(dialog, tmp_path / "small.bmp")
    assert_centred_text(dialog, picture, MSG_EXTRACTING.format("0666.txt"))
    box.click("Ja")
    run.wait_message_box().click("OK")


# id, archive contents besides the file asked about, meter shown at once
ARCHIVE_SIZES = [
    ("end record below 512 KiB", {"b.bin": b"b" * 1000}, False),
    ("end record at 512 KiB or more", {"b.bin": random.Random(3).randbytes(600_000)}, True),
]


@pytest.mark.parametrize("files, at_once", [case[1:] for case in ARCHIVE_SIZES],
                         ids=[case[0] for case in ARCHIVE_SIZES])
def test_large_archive_shows_meter_at_once_and_ticks_wait_for_boxes(bench, tmp_path, files,
                                                                     at_once):
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"neu", **files})
    assert (bench.patch(exe)["end_record_offset"] >= LARGE_ARCHIVE_OFFSET) == at_once
    bench.write_tree(out, {"a.txt": b"alt"})
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(IDOK)
    box = run.wait_message_box()
    # The meter's 500 ms timer fires while the question is open; such a tick is ignored.
    time.sleep(1.2 * TIME_FACTOR)
    dialog = dialog.refresh()
    assert dialog[METER].visible == at_once
    assert dialog[STATUS_LINE].visible == (not at_once)
    box.click("Ja")
    run.wait_message_box().click("OK")
    assert not dialog.refresh()[METER].visible


# ---- the system DPI ----------------------------------------------------------------------------

# The package declares itself DPI-aware, so Windows does not stretch it: at 150 % (144 DPI) the
# dialog (dialog units), the meter in it and the meter's own font must grow by themselves.
HIGH_DPI = 144


def meter_at_dpi(bench, tmp_path, dpi: int):
    """The dialog and the picture of its meter (half full, the text of the idle meter) in a
    program started at dpi, with the height of an "X" in the meter's font as this Wine renders
    it there."""
    bench.set_screen_dpi(dpi)
    exe = bench.make_sfx(tmp_path / str(dpi), files={"a.txt": b"x"})
    run = bench.start(exe)
    dialog = run.dialog()
    show_meter(dialog)
    send(dialog, METER, METER_SETRANGE, 100)
    send(dialog, METER, METER_SETPOS, 50)
    picture = picture_of_meter(dialog, tmp_path / f"meter-{dpi}.bmp")
    assert picture.fill == picture.width // 2
    assert_centred_text(dialog, picture, MSG_EXTRACTING.format(""))
    letter_height = dialog.run.driver.call(
        f"text_extent {dialog.hwnd} {METER} {quote(METER_FACE)} {METER_POINTS} {quote('X')}")["height"]
    run.kill()
    return dialog, picture, letter_height


def test_dialog_meter_and_its_text_scale_with_the_system_dpi(bench, tmp_path):
    """The same package at 96 and at 144 DPI: dialog and meter 1.5 times as wide and high,
    the meter's text in a font as much larger as this Wine's font is at that DPI (its ink
    measured, not assumed: the font's shapes are Wine's), still centred in the bar."""
    normal, normal_meter, normal_letter = meter_at_dpi(bench, tmp_path, 96)
    high, high_meter, high_letter = meter_at_dpi(bench, tmp_path, HIGH_DPI)
    scale = HIGH_DPI / 96

    def ratio(high_value, normal_value):
        return high_value / normal_value

    dialog_width = ratio(high.client[2] - high.client[0], normal.client[2] - normal.client[0])
    dialog_height = ratio(high.client[3] - high.client[1], normal.client[3] - normal.client[1])
    # Dialog units are rounded to whole pixels, so a size is off by up to a few percent.
    assert abs(dialog_width - scale) < 0.05 and abs(dialog_height - scale) < 0.08, (dialog_width, dialog_height)
    assert abs(ratio(high_meter.width, normal_meter.width) - scale) < 0.05
    assert abs(ratio(high_meter.height, normal_meter.height) - scale) < 0.15
    ink_width = ratio(high_meter.ink[1] - high_meter.ink[0] + 1, normal_meter.ink[1] - normal_meter.ink[0] + 1)
    ink_height = ratio(high_meter.ink_rows[1] - high_meter.ink_rows[0] + 1,
                       normal_meter.ink_rows[1] - normal_meter.ink_rows[0] + 1)
    letter = ratio(high_letter, normal_letter)
    assert letter > 1.3, (high_letter, normal_letter)
    assert abs(ink_width - letter) < 0.2 and abs(ink_height - letter) < 0.25, (ink_width, ink_height, letter)
    print(f"144/96 DPI: dialog {dialog_width:.3f} x {dialog_height:.3f}, meter "
          f"{ratio(high_meter.width, normal_meter.width):.3f} x {ratio(high_meter.height, normal_meter.height):.3f}, "
          f"text ink {ink_width:.3f} x {ink_height:.3f}, letter height {letter:.3f}")


# ---- screenshots for the README ----------------------------------------------------------------

# Wine's own fonts (the fonts-wine package): Tahoma for "MS Shell Dlg" and Marlett for the
# caption buttons, which without it show a letter instead of the close symbol.
WINE_FONTS = {"Tahoma (TrueType)": "tahoma.ttf", "Tahoma Bold (TrueType)": "tahomabd.ttf",
              "Marlett (TrueType)": "marlett.ttf"}
FONT_FOLDER = Path("/usr/share/wine/fonts")


def register_wine_fonts(bench) -> None:
    for face, file in WINE_FONTS.items():
        subprocess.run(["wine", "reg", "add",
                        r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts", "/v", face,
                        "/d", bench.winpath(FONT_FOLDER / file), "/f"],
                       env=bench.session.env, check=True, capture_output=True, timeout=60)


def save_png(bmp: Path, folder: Path, name: str) -> None:
    subprocess.run(["convert", str(bmp), str(folder / name)], check=True)


def capture_dialog_and_meter(bench, tmp_path, folder, exe, target, entries, suffix) -> None:
    """The main dialog, then the meter while the run waits at the overwrite question of
    lizenz.txt (so its position is known)."""
    out = bench.unixpath(target)
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.capture(tmp_path / f"dialog{suffix}.bmp")
    save_png(tmp_path / f"dialog{suffix}.bmp", folder, f"main-dialog{suffix}.png")

    bench.write_tree(out, {"lizenz.txt": b"alt"})
    try:
        dialog.click(IDOK)
        box = run.wait_message_box()
        run.driver.call(f"move {box.hwnd} 0 0 0")
        picture = picture_of_meter(dialog, tmp_path / f"meter{suffix}.bmp")
        assert picture.fill == position_before(entries, "lizenz.txt") * picture.width // 100
        save_png(tmp_path / f"meter{suffix}.bmp", folder, f"meter{suffix}.png")
        run.kill()
    finally:
        # The folder the run made below C:\ (the first one of target), with all it holds.
        shutil.rmtree(bench.unixpath("\\".join(target.split("\\")[:2])))


def capture_password_dialog(bench, tmp_path, folder, language, caption, suffix) -> None:
    secret = bench.make_sfx(tmp_path / f"secret{suffix}", files={"a.txt": b"x"}, password="geheim",
                            name="vertraulich.exe", language=language)
    run = bench.start(secret)
    run.dialog().click(IDOK)
    prompt = run.wait_window(caption=caption)
    prompt.settext(PASSWORD_EDIT, "geheim")
    prompt.capture(tmp_path / f"password{suffix}.bmp")
    save_png(tmp_path / f"password{suffix}.bmp", folder, f"password{suffix}.png")
    run.kill()


def screenshot_folder(bench) -> Path:
    """TVSFX_SCREENSHOTS, made if missing, with Wine's fonts registered in the session prefix."""
    folder = Path(os.environ["TVSFX_SCREENSHOTS"]).absolute()
    folder.mkdir(parents=True, exist_ok=True)
    if all((FONT_FOLDER / file).exists() for file in WINE_FONTS.values()):
        register_wine_fonts(bench)
    return folder


@pytest.mark.skipif(not os.environ.get("TVSFX_SCREENSHOTS"),
                    reason="TVSFX_SCREENSHOTS names the folder for the README's screenshots")
def test_readme_screenshots(bench, tmp_path):
    """TVSFX_SCREENSHOTS=docs/screenshots pytest tests/wine/test_meter.py -k screenshots
    Registers Wine's fonts in the session prefix first (so run it on its own)."""
    folder = screenshot_folder(bench)

    # The runs go into the prefix's drive C:, so the folder field shows a plain Windows path.
    # The same package in German and, built with --language en, in English.
    entries = progress_entries()
    archive = make_zip(tmp_path / "in.zip", entries)
    for language, name, target, suffix in (("de", "beispiel-setup.exe", "C:\\Programme\\Beispiel", ""),
                                           ("en", "example-setup.exe", "C:\\Example", "-en")):
        exe = bench.make_sfx(tmp_path / language, zip=archive, name=name, command="setup.exe",
                             language=language, args=["--folder", target])
        capture_dialog_and_meter(bench, tmp_path, folder, exe, target, entries, suffix)
    capture_password_dialog(bench, tmp_path, folder, "de", PASSWORD_CAPTION, "")
    capture_password_dialog(bench, tmp_path, folder, "en", "Tarvel Self-Extractor - Password", "-en")

    # The licence page, in German and in English, with the start of a licence text.
    for language, name, text in (("de", "license.png", LICENSE_DE), ("en", "license-en.png", LICENSE_EN)):
        license_file = tmp_path / f"license-{language}.txt"
        license_file.write_text(text, encoding="utf-8")
        exe = bench.make_sfx(tmp_path / f"license-{language}", files={"a.txt": b"x"},
                             name="beispiel-setup.exe", language=language, license=str(license_file))
        run = bench.start(exe)
        page = run.wait_window(caption_contains="Tarvel Self-Extractor - L")
        page.capture(tmp_path / f"license-{language}.bmp")
        save_png(tmp_path / f"license-{language}.bmp", folder, name)
        run.kill()


@pytest.mark.skipif(not os.environ.get("TVSFX_SCREENSHOTS"),
                    reason="TVSFX_SCREENSHOTS names the folder for the README's screenshots")
def test_readme_screenshots_at_high_dpi(bench, tmp_path):
    """TVSFX_SCREENSHOTS=docs/screenshots pytest tests/wine/test_meter.py -k high_dpi
    The German dialog with its meter at 96 DPI and at 144 DPI (150 %), taken in the same run so
    the two differ only in the DPI; registers Wine's fonts as test_readme_screenshots does."""
    folder = screenshot_folder(bench)
    entries = progress_entries()
    archive = make_zip(tmp_path / "in.zip", entries)
    target = "C:\\Programme\\Beispiel"
    for dpi in (96, HIGH_DPI):
        bench.set_screen_dpi(dpi)
        exe = bench.make_sfx(tmp_path / str(dpi), zip=archive, name="beispiel-setup.exe",
                             command="setup.exe", language="de", args=["--folder", target])
        capture_dialog_and_meter(bench, tmp_path, folder, exe, target, entries, f"-{dpi}dpi")
        # The meter's picture shows the whole dialog: the one without it is not needed.
        (folder / f"main-dialog-{dpi}dpi.png").unlink()


# Paragraphs of one line each: the page wraps them to its width.
LICENSE_DE = "\n\n".join([
    "Lizenzvertrag für Beispiel 2.0",
    "1. Gegenstand. Dieser Vertrag regelt die Nutzung des Programms Beispiel 2.0 und der "
    "zugehörigen Unterlagen (\"Software\").",
    "2. Nutzungsrecht. Sie dürfen die Software auf beliebig vielen Rechnern Ihres Unternehmens "
    "installieren und nutzen. Eine Weitergabe an Dritte ist nur mit schriftlicher Zustimmung erlaubt.",
    "3. Gewährleistung. Die Software wird ohne Gewähr für einen bestimmten Zweck überlassen.",
    "4. Haftung. Für Schäden haften wir nur bei Vorsatz und grober Fahrlässigkeit.",
    "5. Schlussbestimmungen. Es gilt deutsches Recht.",
] + [f"{number}. Weitere Bestimmung zur Nutzung der Software." for number in range(6, 30)])

LICENSE_EN = "\n\n".join([
    "License Agreement for Example 2.0",
    "1. Subject. This agreement governs the use of the program Example 2.0 and its documentation "
    "(\"Software\").",
    "2. License. You may install and use the Software on any number of computers of your company. "
    "Passing it on to third parties requires our written consent.",
    "3. Warranty. The Software is provided without warranty of fitness for a particular purpose.",
    "4. Liability. We are liable for damages only in cases of intent and gross negligence.",
    "5. Final provisions. The laws of Germany apply.",
] + [f"{number}. A further provision on the use of the Software." for number in range(6, 30)])
