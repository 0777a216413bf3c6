"""Tests of the bench itself, with its own small Win32 programs (tests/wine/driver), and one
end-to-end check that the builder's output runs under it."""

import os
import time

import pytest

from winebench import BOX_CAPTION, SFX_CRC_AFTER_HEADERS, BenchError, StubFile, read_argecho_log

VK_ESCAPE = 0x1B
DRIVE_REMOVABLE = 2
KILLED_EXIT_CODE = 260

# tvmsgbox shows MessageBoxA(flags, text) and exits with the pressed button's id. The text
# holds characters of code page 1252 outside ASCII, which must arrive as the same Unicode.
BOX_TEXT = "Datei »Größe.txt« nicht gefunden – „ü“"
BOX_CASES = [
    # flags, icon, button ids, button to press (by German name), exit code
    (0x10, "error", [1], "OK", 1),
    (0x30, "warning", [1], "OK", 1),
    (0x24, "question", [6, 7], "Nein", 7),
    (0x40, "information", [1], "OK", 1),
    (0x01, "none", [1, 2], "Abbrechen", 2),
]


@pytest.mark.parametrize("flags, icon, button_ids, press, exit_code", BOX_CASES)
def test_message_box_text_icon_buttons_and_exit_code(bench, flags, icon, button_ids, press,
                                                      exit_code):
    run = bench.start(bench.testprog("tvmsgbox"), f"{flags:#x} {BOX_TEXT}")
    box = run.wait_message_box()
    assert (box.caption, box.text, box.icon) == ("Tarvel Bench", BOX_TEXT, icon)
    assert box.button_ids == button_ids
    box.click(press)
    assert run.wait_exit() == exit_code


def test_dialog_fields_are_read_and_written(bench):
    run = bench.start(bench.testprog("tvdialog"))
    dialog = run.dialog()
    assert dialog.caption == "Bench Dialog"
    assert dialog[101].text == "Bitte Ordner wählen:"
    assert dialog[102].text == "Dateien ohne &Rückfrage überschreiben"
    assert (dialog[102].checked, dialog[106].text) == (0, "C:\\Temp")

    dialog.settext(106, "Z:\\tmp\\Ziel Ordner")
    dialog.check(102)
    dialog = dialog.refresh()
    assert (dialog[102].checked, dialog[106].text) == (1, "Z:\\tmp\\Ziel Ordner")

    # The program reads both back itself and says so in a box owned by the dialog.
    dialog.click(1)
    box = run.wait_message_box()
    assert box.text == "Ordner: Z:\\tmp\\Ziel Ordner, Haken: 1"
    assert (box.icon, box.owner) == ("information", dialog.hwnd)
    box.click("OK")
    assert run.wait_exit() == 11


def test_capture_contains_the_painted_window(bench, tmp_path):
    run = bench.start(bench.testprog("tvdialog"))
    dialog = run.dialog()
    image = dialog.capture(tmp_path / "dialog.bmp")
    left, top, right, bottom = dialog.rect
    assert (image.width, image.height) == (right - left, bottom - top)
    # tvdialog paints a 30x30 red square at client pixel (10, 10).
    x0, y0 = dialog.client[0] - left + 10, dialog.client[1] - top + 10
    square = {image.pixels[y][x] for y in range(y0, y0 + 30) for x in range(x0, x0 + 30)}
    assert square == {(255, 0, 0)}
    assert image.pixels[y0 - 1][x0 - 1] != (255, 0, 0)
    assert len(image.colours()) > 8, "frame, buttons and text are painted too"


def test_click_and_key_during_busy_loop_reach_the_pump(bench):
    """What the stub's cancel check needs: input posted to the dialog while it works."""
    run = bench.start(bench.testprog("tvdialog"))
    dialog = run.dialog()
    dialog.click(3)
    run.wait_until(lambda: dialog.live_text(109) == "Arbeite...", what="busy loop")

    dialog.lbuttondown(106)
    box = run.wait_message_box()
    assert (box.text, box.icon, box.button_ids) == ("Abbrechen?", "question", [6, 7])
    box.click("Nein")

    dialog.key(0, VK_ESCAPE)
    run.wait_message_box(exclude=[box.hwnd]).click("Ja")
    assert run.wait_exit() == 3


def test_timeout_lists_windows_and_kill_ends_program(bench):
    run = bench.start(bench.testprog("tvdialog"))
    run.dialog()
    with pytest.raises(BenchError) as failure:
        run.wait_message_box(timeout=0.5)
    assert "Bench Dialog" in str(failure.value) and "Abbrechen" in str(failure.value)
    assert run.kill() == KILLED_EXIT_CODE
    with pytest.raises(BenchError, match="exited with code 260"):
        run.wait_window(caption="Bench Dialog")


def test_command_line_folder_and_environment_reach_the_child(bench, tmp_path):
    log = tmp_path / "echo.log"
    folder = tmp_path / "work dir"
    folder.mkdir()
    args = '-args="a  b" ü "C:\\x y\\"'
    env = {"ARGECHO_LOG": bench.winpath(log), "TMP": "C:\\bench tmp", "TEMP": None}
    run = bench.start(bench.testprog("argecho"), args, cwd=folder, env=env)
    assert run.wait_exit() == 0
    run = bench.start(bench.testprog("argecho"), command_line="argecho.exe  x",
                      cwd=folder, env={"ARGECHO_LOG": bench.winpath(log)})
    assert run.wait_exit() == 0

    first, second = read_argecho_log(log)
    exe = bench.winpath(bench.testprog("argecho"))
    assert first["cmdline"] == f'"{exe}" {args}'
    assert first["args"] == args
    assert first["cwd"] == bench.winpath(folder)
    assert (first["tmp"], first["temp"]) == ("C:\\bench tmp", None)
    assert (second["cmdline"], second["args"]) == ("argecho.exe  x", "x")
    assert bench.unixpath(first["exe"]) == bench.testprog("argecho")


def test_floppy_label_and_files_change_when_disk_is_swapped(bench, tmp_path):
    floppy = bench.floppy()
    bench.write_tree(tmp_path / "disk1", {"test.zip": b"one"})
    bench.write_tree(tmp_path / "disk2", {"test.zip": b"two"})
    floppy.insert(tmp_path / "disk1", "PKBACK# 001")
    first = floppy.volume()
    assert (first["type"], first["label"]) == (DRIVE_REMOVABLE, "PKBACK# 001")
    assert bench.unixpath("A:\\test.zip").read_bytes() == b"one"

    floppy.insert(tmp_path / "disk2", "PKBACK# 002")
    assert floppy.volume()["label"] == "PKBACK# 002"
    assert bench.unixpath("A:\\test.zip").read_bytes() == b"two"

    floppy.eject()
    assert floppy.volume()["label"] == ""
    assert not bench.unixpath("A:\\test.zip").exists()


def test_built_file_runs_and_its_record_matches_the_bench(bench, tmp_path):
    """The builder's output starts under the bench, and the bench's stub checksum agrees
    with the builder's for both start positions."""
    exe = bench.make_sfx(tmp_path / "a", files={"a.txt": b"x"}, info="Hallo")
    record = StubFile(exe)
    assert record["flags"] & SFX_CRC_AFTER_HEADERS
    assert record.compute_stub_crc() == record["stub_crc"]
    from_start = StubFile(bench.make_sfx(tmp_path / "b", files={"a.txt": b"x"},
                                         crc_from_start=True))
    assert not from_start["flags"] & SFX_CRC_AFTER_HEADERS
    assert from_start.compute_stub_crc() == from_start["stub_crc"]

    run = bench.start(exe, "-info")
    box = run.wait_message_box()
    assert (box.text, box.caption) == ("Hallo", BOX_CAPTION)
    box.click("OK")
    assert run.wait_exit() == 0


def test_extracted_tree_is_compared_by_bytes_and_dos_times(bench, tmp_path):
    odd_second = time.mktime((2020, 2, 29, 23, 59, 57, 0, 0, -1))
    exe = bench.make_sfx(tmp_path, files={"a.txt": b"x", "sub/b.bin": (bytes(5000), odd_second),
                                         "empty/": None})
    run = bench.start(exe)
    dialog = run.dialog()
    dialog.settext(106, bench.winpath(tmp_path / "out"))
    dialog.click(1)
    run.wait_message_box().click("OK")
    dialog.click(2)
    assert run.wait_exit() == 0
    bench.compare_trees(tmp_path / "out", exe.source)

    (tmp_path / "out" / "sub" / "b.bin").write_bytes(bytes(4999) + b"\1")
    os.utime(tmp_path / "out" / "a.txt", (odd_second, odd_second))
    with pytest.raises(BenchError) as failure:
        bench.compare_trees(tmp_path / "out", exe.source)
    assert "sub/b.bin: contents differ" in str(failure.value)
    assert "a.txt: time" in str(failure.value)
