"""Split packages: `tvsfx build --split SIZE` writes NAME.exe with the archive in data volumes
NAME.z01, NAME.z02, ... beside it. The program finds them in its own folder, asks only for a
missing one, and checks every volume whole (size and SHA-256 from inside the program) before it
uses a byte of any: a damaged or replaced volume is refused naming it, and nothing is extracted."""

import os
import random
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from winebench import BOX_CAPTION, BUILDER, exit_without_window

SPLIT = "200k"
MISSING = "Die Datei {} fehlt."
DAMAGED = "Die Datei {} ist beschädigt oder ausgetauscht."
DONE = "{} Datei(en) erfolgreich extrahiert"
IDCANCEL, IDRETRY = 2, 4
FOLDER_FIELD, EXTRACT = 106, 1
EXIT_FAILED = 2


def noise(size: int, seed: int) -> bytes:
    return random.Random(seed).randbytes(size)


def payload(seed: int) -> dict:
    """About 1 MB: incompressible data, text and an empty folder. The same names and sizes
    for every seed, so stored builds of two seeds have volumes of the same sizes."""
    return {"daten/rauschen.bin": noise(700_000, seed),
            "daten/mehr/zweites.bin": noise(150_000, seed + 1),
            "text/zahlen.txt": "".join(f"{seed:04d} {i}\n" for i in range(20_000)),
            "leer/": None}


def build_split(bench, where: Path, seed: int = 1, **options):
    exe = bench.make_sfx(where, files=payload(seed), split=SPLIT, level="0", **options)
    volumes = sorted(where.glob("test.z*"))
    return exe, volumes


def log_text(log: Path) -> str:
    return log.read_bytes().decode("utf-8") if log.exists() else ""


def run_silent(bench, exe_path: Path, out: Path, log: Path, extra: str = "") -> int:
    args = f'-silent -dir="{bench.winpath(out)}" -log="{bench.winpath(log)}" {extra}'.strip()
    return exit_without_window(bench.start(exe_path, args))


def files_in(folder: Path) -> list:
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file()) if folder.exists() else []


# ---- a whole set -------------------------------------------------------------------------------


def test_split_package_extracts_like_a_single_file(bench, tmp_path):
    exe, volumes = build_split(bench, tmp_path / "split")
    assert len(volumes) >= 5
    assert [v.name for v in volumes] == [f"test.z{k:02d}" for k in range(1, len(volumes) + 1)]
    assert all(v.stat().st_size == 200 * 1024 for v in volumes[:-1])
    # The program holds no archive bytes: it stays the size of the stub and its settings.
    assert exe.path.stat().st_size < 100_000
    out, log = tmp_path / "out", tmp_path / "lauf.log"
    assert run_silent(bench, exe.path, out, log) == 0
    bench.compare_trees(out, exe.source)
    assert "Ende: Exitcode 0" in log_text(log)


def test_test_switch_checks_the_volumes(bench, tmp_path):
    exe, volumes = build_split(bench, tmp_path)
    out, log = tmp_path / "out", tmp_path / "lauf.log"
    assert run_silent(bench, exe.path, out, log, "-test") == 0
    flip_byte(volumes[1])
    assert run_silent(bench, exe.path, out, log, "-test") == EXIT_FAILED
    assert DAMAGED.format("test.z02") in log_text(log)
    assert not out.exists()


# id, how the download was renamed: the program only, or the volumes alike
RENAMES = [
    ("program-only", False),
    ("volumes-alike", True),
]


@pytest.mark.parametrize("volumes_too", [r[1] for r in RENAMES], ids=[r[0] for r in RENAMES])
def test_renamed_program_finds_its_volumes(bench, tmp_path, volumes_too):
    exe, volumes = build_split(bench, tmp_path)
    renamed = exe.path.rename(tmp_path / "test (1).exe")
    if volumes_too:
        for v in volumes:
            v.rename(tmp_path / ("test (1)" + v.suffix))
    out, log = tmp_path / "out", tmp_path / "lauf.log"
    assert run_silent(bench, renamed, out, log) == 0
    bench.compare_trees(out, exe.source)


def test_split_package_in_a_folder_outside_the_code_page(bench, tmp_path):
    """A download folder such as C:\\Users\\Łukasz\\Downloads on a Western system: the program
    finds and checks its volumes through its own Unicode path."""
    exe, volumes = build_split(bench, tmp_path / "bau")
    downloads = tmp_path / "Łukasz Пакет" / "Downloads"
    downloads.mkdir(parents=True)
    program = downloads / exe.path.name
    shutil.move(str(exe.path), str(program))
    for v in volumes:
        shutil.move(str(v), str(downloads / v.name))
    out, log = tmp_path / "out", tmp_path / "lauf.log"
    assert run_silent(bench, program, out, log) == 0
    bench.compare_trees(out, exe.source)


# ---- a missing volume --------------------------------------------------------------------------


def test_missing_volume_in_silent_mode_fails_naming_it(bench, tmp_path):
    exe, volumes = build_split(bench, tmp_path)
    volumes[1].unlink()
    out, log = tmp_path / "out", tmp_path / "lauf.log"
    assert run_silent(bench, exe.path, out, log) == EXIT_FAILED
    assert "Meldung: " + MISSING.format("test.z02") in log_text(log)
    assert "Ende: Exitcode 2" in log_text(log)
    assert files_in(out) == []


def start_extraction(bench, exe_path: Path, out: Path):
    run = bench.start(exe_path)
    dialog = run.dialog()
    dialog.settext(FOLDER_FIELD, bench.winpath(out))
    dialog.click(EXTRACT)
    return run


def test_missing_volume_is_asked_for_until_it_is_there(bench, tmp_path):
    exe, volumes = build_split(bench, tmp_path)
    kept = tmp_path / "kept.z03"
    volumes[2].rename(kept)
    out = tmp_path / "out"
    run = start_extraction(bench, exe.path, out)
    box = run.wait_message_box()
    assert (box.caption, box.text, box.button_ids) == (BOX_CAPTION, MISSING.format("test.z03"), [IDRETRY, IDCANCEL])
    box.click(IDRETRY)
    box = run.wait_message_box()  # still missing: asked again
    assert box.text == MISSING.format("test.z03")
    kept.rename(volumes[2])
    box.click(IDRETRY)
    assert run.wait_message_box().text.startswith(DONE.format(3))
    bench.compare_trees(out, exe.source)


def test_cancel_at_a_missing_volume_ends_as_a_failed_run(bench, tmp_path):
    exe, volumes = build_split(bench, tmp_path)
    volumes[-1].unlink()
    out = tmp_path / "out"
    run = start_extraction(bench, exe.path, out)
    box = run.wait_message_box()
    assert box.text == MISSING.format(volumes[-1].name)
    box.click(IDCANCEL)
    # A failed run: the dialog ends without any success message, and nothing was written.
    assert run.wait_exit() == EXIT_FAILED
    assert files_in(out) == []


# ---- a damaged or replaced volume --------------------------------------------------------------


def flip_byte(path: Path, at: int = 1000) -> None:
    data = bytearray(path.read_bytes())
    data[at] ^= 0x01
    path.write_bytes(bytes(data))


def replace_with_other_build(bench, tmp_path, volumes):
    """test.z02 of a build of other data, of the same size: a valid volume, not this one."""
    _, others = build_split(bench, tmp_path / "other", seed=2)
    assert others[1].stat().st_size == volumes[1].stat().st_size
    shutil.copyfile(others[1], volumes[1])
    return "test.z02"


def damage_first(bench, tmp_path, volumes):
    flip_byte(volumes[0])
    return "test.z01"


def damage_last(bench, tmp_path, volumes):
    flip_byte(volumes[-1], at=volumes[-1].stat().st_size - 1)
    return volumes[-1].name


def truncate_middle(bench, tmp_path, volumes):
    data = volumes[2].read_bytes()
    volumes[2].write_bytes(data[:-1])
    return "test.z03"


# id, the change (returns the name of the volume it made bad)
BAD_VOLUMES = [
    ("first-byte-flipped", damage_first),
    ("last-byte-flipped", damage_last),
    ("replaced-same-size", replace_with_other_build),
    ("one-byte-short", truncate_middle),
]


@pytest.mark.parametrize("spoil", [b[1] for b in BAD_VOLUMES], ids=[b[0] for b in BAD_VOLUMES])
def test_bad_volume_is_refused_before_anything_is_written(bench, tmp_path, spoil):
    exe, volumes = build_split(bench, tmp_path)
    bad = spoil(bench, tmp_path, volumes)
    out, log = tmp_path / "out", tmp_path / "lauf.log"
    assert run_silent(bench, exe.path, out, log) == EXIT_FAILED
    text = log_text(log)
    assert "Meldung: " + DAMAGED.format(bad) in text
    assert "Datei: " not in text  # no file reported as extracted
    assert files_in(out) == []


def test_bad_volume_box_names_it_and_reports_no_success(bench, tmp_path):
    exe, volumes = build_split(bench, tmp_path)
    bad = replace_with_other_build(bench, tmp_path, volumes)
    out = tmp_path / "out"
    run = start_extraction(bench, exe.path, out)
    box = run.wait_message_box()
    assert (box.caption, box.text, box.icon) == (BOX_CAPTION, DAMAGED.format(bad), "error")
    box.click(box.button_ids[0])
    assert run.wait_exit() == EXIT_FAILED
    assert files_in(out) == []


# ---- signing -----------------------------------------------------------------------------------


def test_signed_split_package_extracts(bench, tmp_path):
    exe, volumes = build_split(bench, tmp_path)
    key, certificate = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Tarvel Test",
                    "-days", "2", "-keyout", str(key), "-out", str(certificate)], check=True, capture_output=True)
    signed = tmp_path / "signiert.exe"
    subprocess.run(["osslsigncode", "sign", "-certs", str(certificate), "-key", str(key), "-in", str(exe.path),
                    "-out", str(signed)], check=True, capture_output=True)
    assert signed.stat().st_size > exe.path.stat().st_size  # the certificate is appended
    assert subprocess.run([str(BUILDER), "test", str(signed)], capture_output=True).returncode == 0
    out, log = tmp_path / "out", tmp_path / "lauf.log"
    assert run_silent(bench, signed, out, log) == 0
    bench.compare_trees(out, exe.source)


# ---- large: the default split below 2 GiB ------------------------------------------------------


def write_noise_file(path: Path, size: int) -> None:
    """Incompressible bytes without holding them in memory (the system's generator: fast, and
    the test compares with what it wrote, whatever that is)."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 64 << 20)
            f.write(os.urandom(n))
            left -= n


@pytest.mark.large
def test_three_gib_package_is_split_by_default_and_extracts(bench, tmp_path):
    """3.03 GiB stored: the builder finds it too large for one program and splits it into 1 GiB
    volumes; the program checks 3.03 GiB of volumes and extracts it."""
    source = tmp_path / "src"
    # 3.03 GiB: four volumes, the last one short.
    sizes = {"gross/eins.bin": 1_700_000_000, "gross/zwei.bin": 1_550_000_000, "klein.txt": 10_000}
    for name, size in sizes.items():
        write_noise_file(source / name, size)
    try:
        started = time.monotonic()
        (tmp_path / "paket").mkdir()
        exe = tmp_path / "paket" / "test.exe"
        result = subprocess.run([str(BUILDER), "build", "-o", str(exe), "--level", "0", str(source)],
                                capture_output=True, text=True, timeout=3600)
        built = time.monotonic()
        assert result.returncode == 0, result.stderr
        assert "split package" in result.stderr  # the note says why
        volumes = sorted((tmp_path / "paket").glob("test.z*"))
        assert [v.name for v in volumes] == ["test.z01", "test.z02", "test.z03", "test.z04"]
        assert all(v.stat().st_size == 1 << 30 for v in volumes[:-1])
        out, log = tmp_path / "out", tmp_path / "lauf.log"
        code = exit_without_window(bench.start(exe, f'-silent -dir="{bench.winpath(out)}" '
                                                          f'-log="{bench.winpath(log)}"'), timeout=1800)
        extracted = time.monotonic()
        assert code == 0, log_text(log)
        bench.compare_trees(out, source)
        print(f"3 GiB split package: build {built - started:.0f} s, check and extract {extracted - built:.0f} s")
    finally:
        # The disk is shared: the big files go at once, whatever the outcome.
        for folder in ("src", "paket", "out"):
            shutil.rmtree(tmp_path / folder, ignore_errors=True)
