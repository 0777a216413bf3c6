"""What the built image tells Windows, read by an independent PE reader (pefile): the manifest's
execution level (per --elevation), DPI awareness, supported systems and processor, the PE
checksum; a package signed with osslsigncode that still passes the stub's own check; and the
replacement of a hidden system file, which keeps both attributes; the version resource and
the icon the builder writes (--product-name ..., --icon), read by pefile and, under Wine, by
GetFileVersionInfo/VerQueryValue and ExtractIconEx; the refusal of broken .ico files; an
internal error during a replacement, which leaves the old file and no temporary file."""

import json
import os
import struct
import subprocess
import xml.etree.ElementTree as ET

import pytest

from extractkit import expect_success, hidden_args
from iconfile import BLUE, COLOURS, RED, SAMPLE_IMAGES, SAMPLE_SIZES, bitmap_image, group_entries, ico_file, png_image
from sfxfile import build_sfx
from winebench import BOX_CAPTION, BUILDER, OUT_DIR, STUB

pefile = pytest.importorskip("pefile")

FILES = {"a.txt": b"abc" * 100}
INFO = "Info-Text"
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
LONG_PATH_SETTINGS = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
# Microsoft's identifiers of Windows Vista, 7, 8, 8.1 and 10/11.
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
ARCHITECTURE = {pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: "x86",
                pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: "amd64"}


def manifest_of(pe) -> ET.Element:
    """The RT_MANIFEST resource, parsed."""
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            data = kind.directory.entries[0].directory.entries[0].data.struct
            return ET.fromstring(pe.get_data(data.OffsetToData, data.Size))
    raise AssertionError("no manifest resource")


@pytest.mark.parametrize("elevation, level", [
    (None, "asInvoker"),
    ("invoker", "asInvoker"),
    ("highest", "highestAvailable"),
    ("admin", "requireAdministrator"),
])
def test_manifest_declares_level_dpi_systems_and_processor(tmp_path, elevation, level):
    exe = build_sfx(tmp_path, files=FILES, elevation=elevation).path
    pe = pefile.PE(str(exe))
    manifest = manifest_of(pe)
    request = manifest.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                            f"{ASM_V3}requestedExecutionLevel")
    assert (request.get("level"), request.get("uiAccess")) == (level, "false")
    settings = manifest.find(f"{ASM_V3}application/{ASM_V3}windowsSettings/{WINDOWS_SETTINGS}dpiAware")
    assert settings.text == "true"
    long_paths = manifest.find(f"{ASM_V3}application/{ASM_V3}windowsSettings/{LONG_PATH_SETTINGS}longPathAware")
    assert long_paths is not None and long_paths.text == "true"
    systems = manifest.findall(f"{COMPATIBILITY}compatibility/{COMPATIBILITY}application/{COMPATIBILITY}supportedOS")
    assert {s.get("Id") for s in systems} == SUPPORTED_OS
    identity = manifest.find(f"{ASM_V1}assemblyIdentity")
    assert identity.get("processorArchitecture") == ARCHITECTURE[pe.FILE_HEADER.Machine]
    assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()
    inspect = subprocess.run([str(BUILDER), "inspect", str(exe)], capture_output=True, text=True, check=True)
    assert f"execution_level: {level}\n" in inspect.stdout


@pytest.mark.parametrize("folder, elevation, warns", [
    (r"C:\Program Files\Tarvel", None, True),
    (r"c:/programme/tarvel", "highest", True),
    (r"C:\Program Files (x86)\Tarvel", None, True),
    (r"C:\Windows", "invoker", True),
    (r"C:\Program Files\Tarvel", "admin", False),
    (r"C:\Programmes\Tarvel", None, False),
    (r"D:\Tarvel", None, False),
])
def test_protected_folder_without_admin_warns(tmp_path, folder, elevation, warns):
    arguments = [str(BUILDER), "build", "-o", str(tmp_path / "t.exe"), "--folder", folder]
    if elevation:
        arguments += ["--elevation", elevation]
    (tmp_path / "src").mkdir()
    (tmp_path / "src" / "a.txt").write_bytes(b"a")
    result = subprocess.run(arguments + [str(tmp_path / "src")], capture_output=True, text=True, check=True)
    assert ("--elevation admin" in result.stderr) == warns, result.stderr


def test_unknown_elevation_is_refused(tmp_path):
    (tmp_path / "src").mkdir()
    (tmp_path / "src" / "a.txt").write_bytes(b"a")
    result = subprocess.run([str(BUILDER), "build", "-o", str(tmp_path / "t.exe"), "--elevation", "root",
                             str(tmp_path / "src")], capture_output=True, text=True)
    assert result.returncode != 0
    assert "--elevation must be invoker, highest or admin, not 'root'" in result.stderr
    assert not (tmp_path / "t.exe").exists()


def sign(exe, tmp_path):
    key, certificate = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Tarvel Test",
                    "-days", "2", "-keyout", str(key), "-out", str(certificate)], check=True, capture_output=True)
    signed = tmp_path / "signed.exe"
    subprocess.run(["osslsigncode", "sign", "-certs", str(certificate), "-key", str(key), "-in", str(exe),
                    "-out", str(signed)], check=True, capture_output=True)
    return signed


def test_signed_package_passes_the_stub_check(bench, tmp_path):
    exe = build_sfx(tmp_path / "built", files=FILES, info=INFO, elevation="admin").path
    signed = sign(exe, tmp_path)
    pe = pefile.PE(str(signed))
    assert pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size > 0
    assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()
    assert subprocess.run([str(BUILDER), "inspect", str(signed)], capture_output=True).returncode == 0
    run = bench.start(signed, "-info")
    box = run.wait_message_box()
    assert (box.caption, box.text) == (BOX_CAPTION, INFO)
    box.click(box.button_ids[0])
    assert run.wait_exit() == 0


# ---- replacing an existing file ------------------------------------------------------------------

# Wine keeps a file's DOS attributes in this extended attribute, as a hexadecimal number.
DOS_ATTRIBUTES = "user.DOSATTRIB"
HIDDEN_SYSTEM = 0x2 | 0x4


def dos_attributes(path) -> int:
    try:
        return int(os.getxattr(path, DOS_ATTRIBUTES).split(b"\0")[0], 16)
    except OSError:
        return 0


def test_hidden_system_file_is_replaced_and_keeps_both_attributes(bench, tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    old = out / "b.txt"
    old.write_text("alt")
    try:
        os.setxattr(old, DOS_ATTRIBUTES, b"0x6")
    except OSError as error:
        pytest.skip(f"this file system keeps no extended attributes: {error}")
    exe = bench.make_sfx(tmp_path, files={"b.txt": "neu b", "a.txt": "neu a"}, overwrite=True,
                         args=hidden_args(out))
    expect_success(bench.start(exe))
    assert old.read_text() == "neu b"
    assert dos_attributes(old) & HIDDEN_SYSTEM == HIDDEN_SYSTEM
    assert sorted(p.name for p in out.iterdir()) == ["a.txt", "b.txt"]


# The stub with an internal error (2353) right after the first bytes of an entry were written.
WRITE_FAULT_STUB = OUT_DIR / "testbin" / "tvsfx32-write-fault.exe"


@pytest.mark.skipif(not WRITE_FAULT_STUB.exists(), reason="the write-fault stub is built by make")
def test_internal_error_during_a_replacement_removes_the_temporary_file(bench, tmp_path):
    """The temporary file is gone while the internal-error box is still open (so also when the
    user ends the program there), the old file keeps its content, the report is written."""
    out = tmp_path / "out"
    out.mkdir()
    (out / "b.txt").write_bytes(b"alt")
    exe = bench.make_sfx(tmp_path, files={"b.txt": bytes(100_000)}, overwrite=True,
                         args=hidden_args(out), stub=WRITE_FAULT_STUB)
    run = bench.start(exe)
    box = run.wait_message_box()
    assert (box.caption, box.text) == (BOX_CAPTION, "Tarvel internal error in file sfxhead line 2353")
    assert [p.name for p in out.iterdir()] == ["b.txt"]
    assert (out / "b.txt").read_bytes() == b"alt"
    box.click("OK")
    run.wait_message_box(exclude=[box.hwnd]).click("OK")
    assert run.wait_exit() == 1
    assert (tmp_path / "TVSFX32.RPT").read_bytes().startswith(
        b"Tarvel internal error in file sfxhead line 2353\r\n")


# ---- version and icon ----------------------------------------------------------------------------

TEXTS = {"product_name": "Tärvel Prüfpaket", "company": "Beispiel GmbH", "description": "Ein Paket zum Prüfen",
         "copyright": "© 2026 Beispiel GmbH"}
STRING_NAMES = {"product_name": "ProductName", "product_version": "ProductVersion", "file_version": "FileVersion",
                "company": "CompanyName", "description": "FileDescription", "copyright": "LegalCopyright"}
GERMAN = 0x0407


def build(tmp_path, *arguments, name="t.exe"):
    """Runs the builder on a one-file folder; returns the output path and the finished process."""
    source = tmp_path / "src"
    source.mkdir(parents=True, exist_ok=True)
    (source / "a.txt").write_bytes(FILES["a.txt"])
    exe = tmp_path / name
    result = subprocess.run([str(BUILDER), "build", "-o", str(exe), *arguments, str(source)],
                            capture_output=True, text=True)
    return exe, result


def option_arguments(options: dict) -> list:
    return [part for key, value in options.items() for part in ("--" + key.replace("_", "-"), value)]


def resources(pe, kind: str) -> dict:
    """{resource number: (language, bytes)} of one resource type."""
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == pefile.RESOURCE_TYPE[kind]:
            for name in entry.directory.entries:
                language = name.directory.entries[0]
                found[name.id] = (language.id, pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size))
    return found


def version_of(pe):
    """(fixed file version, fixed product version, table name, its strings, translation) or None."""
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return None
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    table, translation = [], None
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            table = [(t.LangID.decode(), {k.decode(): v.decode() for k, v in t.entries.items()}) for t in info.StringTable]
        if info.Key == b"VarFileInfo":
            translation = info.Var[0].entry[b"Translation"]
    [(name, strings)] = table
    return (numbers(fixed.FileVersionMS, fixed.FileVersionLS), numbers(fixed.ProductVersionMS, fixed.ProductVersionLS),
            name, strings, translation)


def inspect_lines(exe) -> list:
    return subprocess.run([str(BUILDER), "inspect", str(exe)], capture_output=True, text=True, check=True).stdout.splitlines()


@pytest.mark.parametrize("versions, fixed_file, fixed_product, warns", [
    ({"product_version": "1.2.3"}, (1, 2, 3, 0), (1, 2, 3, 0), False),
    ({"file_version": "1.2.3.4", "product_version": "5.6"}, (1, 2, 3, 4), (5, 6, 0, 0), False),
    ({"file_version": "10.0.19041.65535"}, (10, 0, 19041, 65535), (10, 0, 19041, 65535), False),
    ({"product_version": "2.0 beta"}, (0, 0, 0, 0), (0, 0, 0, 0), True),
    ({"file_version": "1.65536", "product_version": "1.2.3.4.5"}, (0, 0, 0, 0), (0, 0, 0, 0), True),
])
def test_version_resource_holds_the_given_fields(tmp_path, versions, fixed_file, fixed_product, warns):
    given = {**TEXTS, **versions}
    exe, result = build(tmp_path, *option_arguments(given))
    assert result.returncode == 0, result.stderr
    assert ("Windows shows the text, but the version numbers it compares are 0.0.0.0" in result.stderr) == warns
    pe = pefile.PE(str(exe))
    # One version stands for both when only one is given.
    given.setdefault("file_version", given.get("product_version"))
    given.setdefault("product_version", given.get("file_version"))
    expected = {STRING_NAMES[key]: value for key, value in given.items()}
    assert version_of(pe) == (fixed_file, fixed_product, "040704E4", expected, "0x0407 0x04e4")
    assert [language for language, _ in resources(pe, "RT_VERSION").values()] == [GERMAN]
    assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()
    lines = inspect_lines(exe)
    assert f"version file: {'.'.join(map(str, fixed_file))}" in lines
    assert f"version ProductName: \"{TEXTS['product_name']}\"" in lines
    assert "execution_level: asInvoker" in lines and "icon: 16x16 8bpp, 32x32 8bpp" in lines


def test_without_options_the_stub_keeps_its_resources(tmp_path):
    exe, result = build(tmp_path)
    assert result.returncode == 0, result.stderr
    pe = pefile.PE(str(exe))
    assert version_of(pe) is None
    stub = pefile.PE(str(STUB))
    for kind in ("RT_ICON", "RT_GROUP_ICON", "RT_MANIFEST"):
        assert resources(pe, kind).keys() == resources(stub, kind).keys()
    assert {"version: none", "icon: 16x16 8bpp, 32x32 8bpp"} <= set(inspect_lines(exe))


def test_icon_replaces_the_stub_icon_with_every_image(tmp_path):
    icon = tmp_path / "sample.ico"
    icon.write_bytes(ico_file(SAMPLE_IMAGES))
    exe, result = build(tmp_path, "--icon", str(icon), "--elevation", "admin", "--product-version", "3.1")
    assert result.returncode == 0, result.stderr
    pe = pefile.PE(str(exe))
    [(_, group)] = resources(pe, "RT_GROUP_ICON").values()
    entries = group_entries(group)
    images = resources(pe, "RT_ICON")
    assert len(entries) == len(images) == len(SAMPLE_IMAGES)
    for (width, height, _, _, planes, bits, size, number), (w, h, b, image) in zip(entries, SAMPLE_IMAGES):
        assert (width or 256, height or 256, planes, bits, size) == (w, h, 1, b, len(image))
        assert images[number][1] == image
    # The other resources stay as they were: the manifest (with the level written in) and the version.
    assert manifest_of(pe).find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                                f"{ASM_V3}requestedExecutionLevel").get("level") == "requireAdministrator"
    assert version_of(pe)[0] == (3, 1, 0, 0)
    assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()
    assert "icon: " + ", ".join(SAMPLE_SIZES) in inspect_lines(exe)
    report = json.loads(subprocess.run([str(BUILDER), "inspect", "--json", str(exe)], capture_output=True,
                                       text=True, check=True).stdout)
    assert report["icon"] == SAMPLE_SIZES
    assert report["version"]["product_version"] == "3.1.0.0"
    assert report["execution_level"] == "requireAdministrator" and report["ok"]


def bad_icons() -> list:
    """(name, .ico bytes, what the one error line says)."""
    bitmap = bitmap_image(16, 8, RED)
    one = lambda width, image, **entry: ico_file([(width, width, 8, image)])
    past_end = bytearray(one(16, bitmap))
    struct.pack_into("<I", past_end, 6 + 12, len(past_end) - 100)  # offset of image 1
    huge_png = png_image(16, RED).replace(struct.pack(">II", 16, 16), struct.pack(">II", 4000, 4000), 1)
    return [
        ("text", b"hello, not an icon", "not an icon file (no .ico header)"),
        ("png file", png_image(16, RED), "not an icon file (no .ico header)"),
        ("cursor", b"\0\0\2\0" + one(16, bitmap)[4:], "not an icon file (no .ico header)"),
        ("no images", struct.pack("<HHH", 0, 1, 0), "the icon file holds no images"),
        ("short directory", struct.pack("<HHH", 0, 1, 3) + bytes(20), "its directory of 3 images runs past the end"),
        ("image past the end", bytes(past_end), "image 1 (16x16): its bytes lie outside the file"),
        ("image inside the directory", one(16, bitmap)[:18] + b"\0\0\0\0" + one(16, bitmap)[22:],
         "image 1 (16x16): its bytes lie outside the file"),
        ("bitmap of another size", one(16, bitmap_image(32, 8, RED)),
         "image 1 (16x16): the directory says 16x16, its bitmap is 32x64"),
        ("absurd png", ico_file([(0, 0, 32, huge_png)]), "image 1 (256x256): the directory says 256x256, its PNG is 4000x4000"),
        ("truncated bitmap", one(16, bitmap[:-40]), "image 1 (16x16): its bitmap needs"),
        ("neither", one(16, bytes(64)), "image 1 (16x16): it is neither a PNG stream nor a bitmap"),
    ]


@pytest.mark.parametrize("name, data, message", bad_icons(), ids=[case[0] for case in bad_icons()])
def test_bad_icon_file_is_refused_in_one_line(tmp_path, name, data, message):
    icon = tmp_path / "bad.ico"
    icon.write_bytes(data)
    exe, result = build(tmp_path, "--icon", str(icon))
    assert result.returncode == 1
    assert result.stderr.startswith(f"tvsfx: error: --icon {icon}: ") and result.stderr.count("\n") == 1, result.stderr
    assert message in result.stderr
    assert not exe.exists()


@pytest.mark.parametrize("option, value, message", [
    ("--product-name", "Zeile\nzwei", "--product-name holds a control character"),
    ("--company", "x" * 256, "--company has 256 characters; the version resource takes at most 255"),
])
def test_bad_version_text_is_refused(tmp_path, option, value, message):
    exe, result = build(tmp_path, option, value)
    assert result.returncode == 2 and message in result.stderr, result.stderr
    assert not exe.exists()


def colour_text(rgb) -> str:
    return "%02X%02X%02X" % rgb


def read_verinfo(bench, tmp_path, exe) -> dict:
    """What GetFileVersionInfo, VerQueryValue and ExtractIconEx give for exe, under Wine."""
    log = tmp_path / "verinfo.json"
    run = bench.start(bench.testprog("verinfo"), f"{bench.winpath(exe)} {bench.winpath(log)}")
    assert run.wait_exit() == 0
    return json.loads(log.read_text(encoding="utf-8"))


def test_windows_reads_version_and_icon(bench, tmp_path):
    icon = tmp_path / "sample.ico"
    icon.write_bytes(ico_file(SAMPLE_IMAGES))
    given = {**TEXTS, "file_version": "1.2.3.4", "product_version": "1.2"}
    exe, result = build(tmp_path, "--icon", str(icon), *option_arguments(given))
    assert result.returncode == 0, result.stderr
    seen = read_verinfo(bench, tmp_path, exe)
    assert (seen["fixed_file"], seen["fixed_product"], seen["translation"]) == ("1.2.3.4", "1.2.0.0", [GERMAN, 1252])
    assert seen["strings"] == {STRING_NAMES[key]: value for key, value in given.items()}
    # One icon group, whose 32x32 image (blue) is the large icon; each size drawn from its own image.
    assert seen["icons"] == 1
    assert seen["large"] == [32, 32, colour_text(BLUE)]
    for width, _, _, image in SAMPLE_IMAGES:
        assert seen[f"size{width}"] == [width, width, colour_text(COLOURS[image])]

    plain, result = build(tmp_path / "plain")
    assert result.returncode == 0, result.stderr
    seen = read_verinfo(bench, tmp_path, plain)
    assert seen["fixed_file"] is None and seen["icons"] == 1 and seen["large"][:2] == [32, 32]
    assert seen["large"][2] not in (colour_text(BLUE), "000000")


def test_signed_package_with_version_and_icon_extracts(bench, tmp_path):
    icon = tmp_path / "sample.ico"
    icon.write_bytes(ico_file(SAMPLE_IMAGES))
    out = tmp_path / "out"
    exe, result = build(tmp_path, "--icon", str(icon), "--product-version", "4.5.6", *option_arguments(TEXTS),
                        *hidden_args(out))
    assert result.returncode == 0, result.stderr
    signed = sign(exe, tmp_path)
    pe = pefile.PE(str(signed))
    assert pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size > 0
    assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()
    assert version_of(pe)[0] == (4, 5, 6, 0)
    assert subprocess.run([str(BUILDER), "inspect", str(signed)], capture_output=True).returncode == 0
    expect_success(bench.start(signed))
    assert (out / "a.txt").read_bytes() == FILES["a.txt"]
