"""Start-up as the user sees it: the configuration block's fields, the command line, the
start-up prompt, and the program's own folder as the working folder."""

import pytest

from sfxfile import (HEADER_ERROR, STORED_BLOCK_OVERHEAD, build_sfx, config_plain, copy_sfx,
                     deflate_raw, fields_with, fixed_text, stored_deflate, with_config)
from winebench import (BOX_CAPTION, SFX_USE_TITLE, Bench, MessageBox, StubFile, exit_without_window,
                       read_argecho_log)

PROMPT = "Bitte schließen Sie alle anderen Programme. Weiter?"
TITLE = "Größen-Demo – Titel"
ABOUT = "Über dieses Archiv: Beispieldateien für Tests"
INFO = "Version 2 – Info für -info"
FOLDER = "C:\\Programme\\Zielordner Ä"
FILES = {"a.txt": b"alpha" * 50, "sub/b.txt": b"beta"}
PRODUCT = fixed_text("product_info")
RUN_AFTER = "Nach dem Extrahieren &ausführen: "
NO_DIALOG_WAIT = 5.0


@pytest.fixture(scope="module")
def sfx(tmp_path_factory):
    """sfx(**options): a self-extractor built once per module for each distinct set of
    make_sfx options (files default to FILES). Runs that write beside the program use a copy
    (copy_sfx)."""
    root = tmp_path_factory.mktemp("startup")
    cache = {}

    def get(**options):
        options.setdefault("files", FILES)
        key = repr(sorted(options.items()))
        if key not in cache:
            cache[key] = build_sfx(root / f"sfx{len(cache)}", **options)
        return cache[key]
    return get


def full_config(sfx, **options):
    """Every field of the configuration set (through the builder)."""
    options = {"prompt": PROMPT, "title": TITLE, "about": ABOUT, "info": INFO,
               "command": "setup.exe", "params": "/q", "args": ["--folder", FOLDER], **options}
    return sfx(**options)


def patched(source, target, **record):
    """A copy of source with record fields changed and its checksum recomputed."""
    f = StubFile(source)
    for name, value in record.items():
        f[name] = value
    f.fix_stub_crc()
    return f.save(target)


def expect_plain_box(run, text, caption=BOX_CAPTION, buttons=(1,), owner=0):
    box = run.wait_message_box()
    assert (box.caption, box.text, box.icon) == (caption, text, "none")
    assert box.button_ids == list(buttons) and box.owner == owner
    return box


def expect_info_option(run, text):
    """The "-info" box ends the program with exit code 0."""
    expect_plain_box(run, text).click("OK")
    assert run.wait_exit() == 0


def expect_main_dialog(run, name="test.exe"):
    dialog = run.dialog()
    assert dialog.caption == f"{BOX_CAPTION} - {name}"
    assert not [w for w in run.windows() if isinstance(w, MessageBox)]
    return dialog


def info_button_text(run, dialog):
    """The Info box's text; the box is closed again."""
    dialog.click(112)
    box = run.wait_message_box()
    assert (box.caption, box.icon, box.button_ids, box.owner) == (
        BOX_CAPTION, "none", [1], dialog.hwnd)
    box.click("OK")
    return box.text


def close_dialog(run, dialog):
    dialog.click(2)
    assert run.wait_exit() == 0


# ---- configuration ---------------------------------------------------------------------------


def test_every_configuration_field_lands(bench, sfx):
    exe = full_config(sfx)
    expect_info_option(bench.start(exe, "-info"), INFO)

    run = bench.start(exe)
    expect_plain_box(run, PROMPT, caption=TITLE).click("OK")
    dialog = expect_main_dialog(run)
    assert dialog.live_text(106) == FOLDER
    assert (dialog[111].text, dialog[111].checked, dialog[111].visible) == (
        RUN_AFTER + "setup.exe", 1, True)
    assert dialog[103].text == ""
    assert info_button_text(run, dialog) == f"{ABOUT}\n\n{PRODUCT}\n"
    close_dialog(run, dialog)
    assert not bench.unixpath(FOLDER).exists()


def filled(start, length):
    return start + "x" * (length - len(start))


# Every field one character below its capacity (field 3 has none and stays empty).
LONGEST_FIELDS = [filled("C:\\Ziel ä\\", 260), filled("Setup ß ", 252) + ".exe",
                  filled("/p ", 256), "", filled("Prompt – ", 513), filled("Titel ö ", 64),
                  filled("Über ", 515), filled("Info ü ", 511)]


def test_fields_of_full_length_land_whole(bench, sfx, tmp_path):
    source = sfx(info=INFO)
    flags = StubFile(source)["flags"] | SFX_USE_TITLE
    exe = with_config(source, tmp_path / "test.exe",
                      deflate_raw(config_plain(LONGEST_FIELDS)), flags=flags)
    folder, command, _, _, prompt, title, about, info = LONGEST_FIELDS
    expect_info_option(bench.start(exe, "-info"), info)

    run = bench.start(exe)
    expect_plain_box(run, prompt, caption=title).click("OK")
    dialog = expect_main_dialog(run)
    assert dialog.live_text(106) == folder
    assert (dialog[111].text, dialog[103].text) == (RUN_AFTER, command)
    # With this description the Info text (description, blank line, product text) no longer
    # fits its 512 bytes, which shows that the long description arrived: an internal error.
    dialog.click(112)
    box = run.wait_message_box()
    assert (box.text, box.icon) == ("Tarvel internal error in file sfxhead line 5804", "warning")
    assert len(f"{about}\n\n{PRODUCT}\n") > 511
    box.click("OK")
    run.wait_message_box(exclude=[box.hwnd]).click("OK")  # the closing notice
    assert run.wait_exit() == 1


@pytest.mark.parametrize("command, check_box, static", [
    ("setup.exe", RUN_AFTER + "setup.exe", ""),
    ("instal.exe", RUN_AFTER + "instal.exe", ""),      # 10 characters: still in the caption
    ("install.exe", RUN_AFTER, "install.exe"),         # 11: the line below takes it
    ("x" * 252 + ".exe", RUN_AFTER, "x" * 252 + ".exe"),  # the longest command
])
def test_command_shows_in_check_box_or_line_below(bench, sfx, command, check_box, static):
    run = bench.start(sfx(command=command))
    dialog = expect_main_dialog(run)
    assert (dialog[111].text, dialog[111].checked, dialog[111].visible) == (check_box, 1, True)
    assert dialog[103].text == static
    close_dialog(run, dialog)


@pytest.mark.parametrize("title, use_title, caption", [
    (TITLE, True, TITLE),
    (TITLE, False, BOX_CAPTION),  # the title is stepped over, the fields behind it still read
    ("", True, BOX_CAPTION),
], ids=["title", "title-without-flag", "empty-title"])
def test_title_field_and_use_title_flag(bench, sfx, tmp_path, title, use_title, caption):
    built = full_config(sfx, title=title or None)
    flags = StubFile(built)["flags"]
    flags = flags | SFX_USE_TITLE if use_title else flags & ~SFX_USE_TITLE
    exe = patched(built, tmp_path / "test.exe", flags=flags)
    expect_info_option(bench.start(exe, "-info"), INFO)

    run = bench.start(exe)
    expect_plain_box(run, PROMPT, caption=caption).click("OK")
    dialog = expect_main_dialog(run)
    assert dialog.live_text(106) == FOLDER
    assert info_button_text(run, dialog) == f"{ABOUT}\n\n{PRODUCT}\n"
    close_dialog(run, dialog)


def test_no_configuration_block(bench, sfx, tmp_path):
    """config_offset 0: the block (still in the file) is not read: no prompt, no command,
    the temporary folder, and only the product text under Info."""
    exe = patched(full_config(sfx), tmp_path / "test.exe", config_offset=0)
    expect_info_option(bench.start(exe, "-info"), "")

    run = bench.start(exe, env={"TMP": "C:\\tv temp", "TEMP": "C:\\other"})
    dialog = expect_main_dialog(run)
    assert dialog.live_text(106) == "C:\\tv temp"
    assert (dialog[111].visible, dialog[111].checked, dialog[103].text) == (False, 0, "")
    assert info_button_text(run, dialog) == PRODUCT
    close_dialog(run, dialog)


def padded_config(length):
    """A decoded block of exactly length bytes: the ignored field 3 takes up the room."""
    fields = fields_with({7: INFO})
    padding = length - len(config_plain(fields))
    return config_plain(fields_with({3: "y" * padding, 7: INFO}))


CONFIG_LIMIT_CASES = [
    # id, block, expected text of the box
    ("stored-1256", stored_deflate(padded_config(1256 - STORED_BLOCK_OVERHEAD)), INFO),
    ("stored-1257", stored_deflate(padded_config(1257 - STORED_BLOCK_OVERHEAD)), HEADER_ERROR),
    ("decoded-4100", deflate_raw(padded_config(4100)), INFO),
    ("decoded-4101", deflate_raw(padded_config(4101)), HEADER_ERROR),
    ("decoded-6000", deflate_raw(padded_config(6000)), HEADER_ERROR),
]


@pytest.mark.parametrize("block, expected", [case[1:] for case in CONFIG_LIMIT_CASES],
                         ids=[case[0] for case in CONFIG_LIMIT_CASES])
def test_configuration_block_limits(bench, sfx, tmp_path, block, expected):
    exe = with_config(sfx(info=INFO), tmp_path / "test.exe", block)
    run = bench.start(exe, "-info")
    box = run.wait_message_box()
    assert (box.caption, box.text, box.icon) == (
        BOX_CAPTION, expected, "none" if expected == INFO else "error")
    box.click("OK")
    assert run.wait_exit() == (0 if expected == INFO else 2)


def test_configuration_block_cut_short_by_end_of_file(bench, sfx, tmp_path):
    f = StubFile(sfx(info=INFO))
    f["stub_crc"] = f["end_record_offset"] = 0  # only the block's own read can notice
    f.truncate(f["archive_offset"] - 1)
    run = bench.start(f.save(tmp_path / "test.exe"), "-info")
    box = run.wait_message_box()
    assert (box.text, box.icon, box.owner) == (HEADER_ERROR, "error", 0)
    box.click("OK")
    assert run.wait_exit() == 2


# ---- command line ----------------------------------------------------------------------------

LONG_VALUE = "v" * 256

INFO_LINES = [
    "-info", "-INFO", "-information", "-Info und noch mehr", "  -info",
    '-args="a b" -info', '-args="a"-info', '/ARGS="x"   -info', f'-args="{LONG_VALUE}" -info',
]

INVALID_LINES = [
    # command line, the part the box names
    ("/info", "/info"),
    ("x -info", "x -info"),
    ("-args=\"a\"\t-info", "\t-info"),
    ('-args=""', '-args=""'),
    ("-args=abc", "-args=abc"),
    ('-args="abc', '-args="abc'),
    ("-args=", "-args="),
    (f'-args="{LONG_VALUE}v"', f'-args="{LONG_VALUE}v"'),
    ('-args="a" b', "b"),
    ('-args="a" -args=', "-args="),
    ("-auto", "-auto"),
]


def short_id(value):
    return value if len(value) < 30 else f"{value[:10]}...({len(value)} characters)"


def program_copy(sfx, tmp_path):
    """An automatic self-extractor into its own folder: a run that got past the command line
    would extract beside it."""
    built = sfx(info=INFO, auto=True, args=["--folder", "."])
    return copy_sfx(built, tmp_path / "program" / "test.exe")


def assert_nothing_extracted(exe):
    assert [p.name for p in exe.parent.iterdir()] == ["test.exe"]


@pytest.mark.parametrize("line", INFO_LINES, ids=short_id)
def test_info_option(bench, sfx, tmp_path, line):
    exe = program_copy(sfx, tmp_path)
    expect_info_option(bench.start(exe, line), INFO)
    assert_nothing_extracted(exe)


@pytest.mark.parametrize("line, shown", INVALID_LINES,
                         ids=[short_id(line) for line, _ in INVALID_LINES])
def test_invalid_command_line(bench, sfx, tmp_path, line, shown):
    exe = program_copy(sfx, tmp_path)
    run = bench.start(exe, line)
    expect_plain_box(run, f"Invalid command line parameter ({shown}).").click("OK")
    assert run.wait_exit() == 2
    assert_nothing_extracted(exe)


def test_invalid_parameter_text_is_cut_to_the_buffer(bench, sfx):
    run = bench.start(sfx(info=INFO), "x" * 600)
    text = f"Invalid command line parameter ({'x' * 600})."[:499]
    expect_plain_box(run, text).click("OK")
    assert run.wait_exit() == 2


@pytest.fixture(scope="module")
def argecho_sfx(sfx, wine_session):
    """Extracts argecho.exe beside itself and starts it with the parameters "-p"."""
    files = {"argecho.exe": Bench.testprog("argecho").read_bytes()}
    return sfx(files=files, command="argecho.exe", params="-p", auto=True,
               overwrite=True, args=["--folder", "."])


@pytest.mark.parametrize("line, parameters", [
    (None, "-p"),
    ('-args="a b"', "-p a b"),
    ('-args="first" -args="second value"', "-p second value"),
    ('/args="x  y"', "-p x  y"),
    ('-ARGS="Zz"', "-p Zz"),
])
def test_args_reach_the_command_after_extraction(bench, argecho_sfx, tmp_path, line, parameters):
    exe = copy_sfx(argecho_sfx, tmp_path / "program" / "test.exe")
    log = tmp_path / "argecho.log"
    run = bench.start(exe, line, env={"ARGECHO_LOG": bench.winpath(log)})
    assert run.wait_exit() == 0
    run.wait_until(lambda: read_argecho_log(log), what="argecho's log")
    started, = read_argecho_log(log)
    assert started["args"] == parameters
    assert started["cwd"] == bench.winpath(exe.parent)


# ---- start-up prompt -------------------------------------------------------------------------

PROMPT_CASES = [
    # id, builder flags, buttons, button pressed, goes on
    ("ok", {}, [1], "OK", True),
    ("yes", {"prompt_ask": True}, [6, 7], "Ja", True),
    ("no", {"prompt_ask": True}, [6, 7], "Nein", False),
    ("okcancel-ok", {"prompt_ask": True, "prompt_okcancel": True}, [1, 2], "OK", True),
    ("okcancel-cancel", {"prompt_ask": True, "prompt_okcancel": True}, [1, 2], "Abbrechen", False),
    ("okcancel-without-ask", {"prompt_okcancel": True}, [1], "OK", True),
]


@pytest.mark.parametrize("flags, buttons, press, goes_on", [case[1:] for case in PROMPT_CASES],
                         ids=[case[0] for case in PROMPT_CASES])
def test_start_up_prompt(bench, sfx, flags, buttons, press, goes_on):
    run = bench.start(sfx(prompt=PROMPT, args=["--folder", FOLDER], **flags))
    expect_plain_box(run, PROMPT, buttons=buttons).click(press)
    if goes_on:
        close_dialog(run, expect_main_dialog(run))
    else:
        assert run.wait_exit(timeout=NO_DIALOG_WAIT) == 3  # declined
    assert not bench.unixpath(FOLDER).exists()


def test_hidden_mode_shows_no_prompt(bench, tmp_path):
    exe = bench.make_sfx(tmp_path, files=FILES, prompt=PROMPT, prompt_ask=True, hidden=True,
                         args=["--folder", bench.winpath(tmp_path / "out")])
    run = bench.start(exe)
    assert exit_without_window(run) == 0, "hidden: no prompt and no dialog, not even briefly"
    bench.compare_trees(tmp_path / "out", exe.source)


# ---- the program's own folder ----------------------------------------------------------------


def test_started_elsewhere_works_in_its_own_folder(bench, sfx, tmp_path):
    """A configured folder "." is the program's folder, not the current one at start."""
    program_folder, elsewhere = tmp_path / "program", tmp_path / "elsewhere"
    elsewhere.mkdir()
    exe = copy_sfx(sfx(args=["--folder", "."]), program_folder / "test.exe")
    run = bench.start(exe, cwd=elsewhere)
    dialog = expect_main_dialog(run)
    assert dialog.live_text(106) == bench.winpath(program_folder)

    dialog.click(1)
    box = expect_plain_box(run, "2 Datei(en) erfolgreich extrahiert", owner=dialog.hwnd)
    box.click("OK")
    close_dialog(run, dialog)
    assert (program_folder / "a.txt").read_bytes() == FILES["a.txt"]
    assert (program_folder / "sub" / "b.txt").read_bytes() == FILES["sub/b.txt"]
    assert list(elsewhere.iterdir()) == []
