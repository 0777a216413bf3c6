"""The licence page of a package built with --license: shown after the start-up prompt and
before the main dialog; Decline ends with exit code 3 and nothing extracted, I accept leads to
the dialog; Enter alone accepts nothing; a long text scrolls; -silent takes the licence as
accepted and logs it; --no-unattended packages still refuse -silent."""

import time

import pytest

from sfxfile import HEADER_ERROR
from winebench import TIME_FACTOR, exit_without_window

FILES = {"a.txt": "alpha", "sub/b.txt": "beta"}
LICENSE = "Lizenzvertrag für Beispiel 2.0\n\n1. Sie dürfen das Programm nutzen.\n2. Ende.\n"
SHOWN = LICENSE.replace("\n", "\r\n")

LICENSE_TEXT, LICENSE_ACCEPT = 602, 603
IDOK, IDCANCEL = 1, 2
FOLDER_FIELD = 106
VK_RETURN, VK_NEXT = 0x0D, 0x22
WM_GETTEXTLENGTH, EM_GETLINECOUNT, EM_GETFIRSTVISIBLELINE = 0x000E, 0x00BA, 0x00CE

CAPTIONS = {"de": "Tarvel Self-Extractor - Lizenzvereinbarung",
            "en": "Tarvel Self-Extractor - License Agreement"}
BUTTONS = {"de": ("Annehmen", "Ablehnen"), "en": ("I accept", "Decline")}


def license_build(bench, tmp_path, text=LICENSE, language="de", **options):
    path = tmp_path / "lizenz.txt"
    path.write_text(text, encoding="utf-8")
    out = tmp_path / "out"
    exe = bench.make_sfx(tmp_path, files=FILES, license=str(path), language=language,
                         args=["--folder", bench.winpath(out)], **options)
    return exe, out


def send(window, control, message, wparam=0):
    return window.run.driver.call(f"send {window.hwnd} {control} {message} {wparam}")["result"]


def wait_license(run, language="de"):
    page = run.wait_window(caption=CAPTIONS[language])
    assert (page[LICENSE_ACCEPT].text, page[IDCANCEL].text) == BUTTONS[language]
    return page


@pytest.mark.parametrize("language", ["de", "en"])
def test_decline_ends_with_exit_code_3_and_extracts_nothing(bench, tmp_path, language):
    exe, out = license_build(bench, tmp_path, language=language)
    run = bench.start(exe)
    page = wait_license(run, language)
    assert page[LICENSE_TEXT].text == SHOWN
    # The text has the focus; Enter sends IDOK, which no button carries: nothing happens.
    page.key(LICENSE_TEXT, VK_RETURN)
    time.sleep(0.5 * TIME_FACTOR)
    assert [w.hwnd for w in run.windows() if w.visible] == [page.hwnd], "Enter accepted the licence"
    page.click(IDCANCEL)
    assert run.wait_exit() == 3
    assert not out.exists()


def test_accept_after_the_prompt_leads_to_the_dialog(bench, tmp_path):
    exe, out = license_build(bench, tmp_path, prompt="Beispiel installieren?", prompt_ask=True)
    run = bench.start(exe)
    prompt = run.wait_message_box()
    assert prompt.text == "Beispiel installieren?"
    prompt.click("Ja")
    page = wait_license(run)
    page.click(LICENSE_ACCEPT)
    page.wait_gone()
    dialog = run.dialog()
    dialog.click(IDOK)
    run.wait_message_box().click("OK")
    dialog.click(IDCANCEL)
    assert run.wait_exit() == 0
    assert (out / "sub" / "b.txt").read_text() == "beta"


def test_long_text_is_shown_whole_and_scrolls(bench, tmp_path):
    # 1,000 numbered lines, about 61 KB with CR LF: near the page's 65,535-byte limit.
    lines = [f"{number:04d} Die Nutzung ist nur nach diesen Bedingungen erlaubt." for number in range(1000)]
    text = "\n".join(lines)
    exe, _ = license_build(bench, tmp_path, text=text)
    run = bench.start(exe)
    page = wait_license(run)
    assert send(page, LICENSE_TEXT, WM_GETTEXTLENGTH) == len(text) + len(lines) - 1
    assert send(page, LICENSE_TEXT, EM_GETLINECOUNT) == 1000
    assert send(page, LICENSE_TEXT, EM_GETFIRSTVISIBLELINE) == 0
    page.key(LICENSE_TEXT, VK_NEXT)
    run.wait_until(lambda: send(page, LICENSE_TEXT, EM_GETFIRSTVISIBLELINE) > 0)
    page.click(IDCANCEL)
    assert run.wait_exit() == 3


@pytest.mark.parametrize("language, line", [("de", "Lizenz: durch -silent angenommen"),
                                            ("en", "License: accepted by -silent")])
def test_silent_takes_the_licence_as_accepted_and_logs_it(bench, tmp_path, language, line):
    exe, out = license_build(bench, tmp_path, language=language)
    log = tmp_path / "lauf.log"
    assert exit_without_window(bench.start(exe, f'-silent -log="{bench.winpath(log)}"')) == 0
    lines = log.read_bytes().decode("utf-8").split("\r\n")
    assert lines[0] == line
    assert (out / "a.txt").read_text() == "alpha"


def test_no_unattended_package_with_a_licence_still_refuses_silent(bench, tmp_path):
    exe, out = license_build(bench, tmp_path, no_unattended=True)
    run = bench.start(exe, "-silent")
    box = run.wait_message_box()
    assert box.text == "Invalid command line parameter (-silent)."
    box.click("OK")
    assert run.wait_exit() == 2
    assert not out.exists()


@pytest.mark.parametrize("exe_volumes", [False, True], ids=["zip-volumes", "exe-volumes"])
def test_spanned_package_shows_the_licence_from_disk_1(bench, tmp_path, exe_volumes):
    """Disk 1's program holds the licence: with .ZIP volumes the archive starts in another
    file, so the page must be read from the program itself."""
    from test_spanned import build_set, finish, noise, start_extraction, start_from_floppy, swap_when_asked
    path = tmp_path / "lizenz.txt"
    path.write_text(LICENSE, encoding="utf-8")
    files = {"a.bin": noise(60000, 1), "b.txt": "b\r\n" * 100}
    disks = build_set(bench, tmp_path / "set", files, exe_volumes, license=str(path))
    assert disks.count == 2
    run, floppy = start_from_floppy(bench, disks)
    page = wait_license(run)
    assert page[LICENSE_TEXT].text == SHOWN
    page.click(LICENSE_ACCEPT)
    page.wait_gone()
    dialog = start_extraction(run, tmp_path / "out")
    swap_when_asked(run, floppy, disks, 2)
    finish(run, dialog, 2)
    bench.compare_trees(tmp_path / "out", disks.source)


# ---- a licence record the file does not hold ---------------------------------------------------



def licence_record(offset, size):
    def change(f):
        f["license_offset"] = offset(f)
        f["license_size"] = size(f)
        f.fix_stub_crc()
    return change


# The record is checked at start-up in every mode, before anything else: the page of a silent
# run is never shown, yet it must not be logged as accepted.
BAD_RECORDS = [
    ("offset-past-the-file", licence_record(lambda f: len(f.data) + 16, lambda f: f["license_size"])),
    ("offset-without-size", licence_record(lambda f: f["license_offset"], lambda f: 0)),
    ("text-into-the-configuration",
     licence_record(lambda f: f["license_offset"], lambda f: f["config_offset"] - f["license_offset"] + 1)),
]
# The builder refuses --hidden with --license, so the hidden package is one whose record says
# hidden; -test never shows the page either.
MODES = {"dialog": "", "silent": " -silent", "test": " -test", "hidden-package": ""}
SFX_HIDDEN = 0x00400000


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("change", [c[1] for c in BAD_RECORDS], ids=[c[0] for c in BAD_RECORDS])
def test_damaged_licence_record_is_a_header_error_in_every_mode(bench, tmp_path, change, mode):
    exe, out = license_build(bench, tmp_path)
    f = bench.patch(exe)
    if mode == "hidden-package":
        f["flags"] |= SFX_HIDDEN
    change(f)
    f.save()
    log = tmp_path / "lauf.log"
    switches = f'-log="{bench.winpath(log)}"' + MODES[mode]
    run = bench.start(exe, switches)
    if mode == "silent":
        assert exit_without_window(run) == 2
    else:
        box = run.wait_message_box()
        assert (box.text, box.icon) == (HEADER_ERROR, "error"), box.summary()
        box.click("OK")
        assert run.wait_exit() == 2
    assert "Lizenz" not in log.read_bytes().decode("utf-8")
    assert not out.exists()
