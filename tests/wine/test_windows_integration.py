"""What the built image tells Windows, read by an independent PE reader (pefile): the manifest's
execution level (per --elevation), DPI awareness, supported systems and processor, the PE
checksum; a package signed with osslsigncode that still passes the stub's own check; and the
replacement of a hidden system file, which keeps both attributes."""

import os
import subprocess
import xml.etree.ElementTree as ET

import pytest

from extractkit import expect_success, hidden_args
from sfxfile import build_sfx
from winebench import BOX_CAPTION, BUILDER

pefile = pytest.importorskip("pefile")

FILES = {"a.txt": b"abc" * 100}
INFO = "Info-Text"
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
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
