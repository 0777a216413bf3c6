#!/usr/bin/env python3
"""Seeds of the builder's fuzz targets, written into build/fuzz/corpus-<target>/:
small input ZIPs from Python zipfile (stored, deflated, with folders, with a comment, 7-Zip
Deflate64 when 7zz is there), a self-extractor built from one of them (for inspect), the
stub itself (for the stub reader), and the entries of packages encrypted with the password
"secret", AES-256 and traditional, in the entry decoder's input form (fuzz_entry_decoder.cpp).

    make_builder_seeds.py BUILD_FUZZ_DIR TVSFX STUB
"""
import io
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path


def zips():
    made = {}
    files = {"a.txt": b"hello\n" * 20, "sub/b.bin": bytes(range(256)) * 4, "empty/": b"", "c.txt": b""}
    for name, method in (("stored", zipfile.ZIP_STORED), ("deflated", zipfile.ZIP_DEFLATED)):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            for path, data in files.items():
                z.writestr(path, data)
            z.comment = b"seed"
        made[name] = buffer.getvalue()
    if shutil.which("7zz"):
        with tempfile.TemporaryDirectory() as folder:
            Path(folder, "text.txt").write_bytes(b"".join(b"line %d\n" % i for i in range(300)))
            subprocess.run(["7zz", "a", "-tzip", "-mm=Deflate64", "d.zip", "text.txt"], cwd=folder, check=True,
                           stdout=subprocess.DEVNULL)
            made["deflate64"] = Path(folder, "d.zip").read_bytes()
    return made


def local_entries(exe: bytes):
    """(fields, data) of each file entry of a built package, in fuzz_entry_decoder's form: the
    stub never holds a local header signature, so the first one starts the archive."""
    at = exe.find(b"PK\x03\x04")
    while exe[at:at + 4] == b"PK\x03\x04":
        flags, method, time, _, crc, packed, size, name_size, extra_size = struct.unpack_from("<HHHHIIIHH", exe, at + 6)
        extra = exe[at + 30 + name_size:at + 30 + name_size + extra_size]
        record = extra.find(b"\x01\x99\x07\x00")
        aes = extra[record + 4:record + 11] if record >= 0 else bytes(7)
        data_at = at + 30 + name_size + extra_size
        fields = struct.pack("<BHHII", flags & 0xFF, method, time, crc, size) + aes
        yield fields + exe[data_at:data_at + packed]
        at = data_at + packed + (16 if flags & 8 else 0)


def entry_seeds(tvsfx, stub):
    """Entries of packages built with --password secret: AES-256 and traditional."""
    seeds = {}
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder, "src")
        source.mkdir()
        Path(source, "text.txt").write_bytes(b"".join(b"Zeile %d\n" % i for i in range(400)))
        Path(source, "tiny.txt").write_bytes(b"x")
        for kind in ("aes256", "zipcrypto"):
            exe = Path(folder, kind + ".exe")
            for level in ("0", "9"):
                subprocess.run([tvsfx, "build", "--stub", stub, "-o", str(exe), "--password", "secret",
                                "--encryption", kind, "--level", level, str(source)], check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                for i, entry in enumerate(local_entries(exe.read_bytes())):
                    seeds[f"{kind}-level{level}-{i}"] = entry
    return seeds


def main():
    out, tvsfx, stub = Path(sys.argv[1]), sys.argv[2], sys.argv[3]
    targets = ("fuzz_zip_input", "fuzz_inspect", "fuzz_stub_reader", "fuzz_entry_decoder")
    corpus = {t: out / f"corpus-{t}" for t in targets}
    for folder in corpus.values():
        folder.mkdir(parents=True, exist_ok=True)
    for name, data in zips().items():
        (corpus["fuzz_zip_input"] / f"{name}.zip").write_bytes(data)
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder, "in.zip")
        source.write_bytes(zips()["deflated"])
        exe = Path(folder, "out.exe")
        subprocess.run([tvsfx, "build", "--stub", stub, "-o", str(exe), "--title", "Seed", str(source)], check=True,
                       stdout=subprocess.DEVNULL)
        (corpus["fuzz_inspect"] / "built.exe").write_bytes(exe.read_bytes())
    (corpus["fuzz_stub_reader"] / "stub.exe").write_bytes(Path(stub).read_bytes())
    for name, data in entry_seeds(tvsfx, stub).items():
        (corpus["fuzz_entry_decoder"] / name).write_bytes(data)


if __name__ == "__main__":
    main()
