#!/usr/bin/env python3
"""Seeds of the builder's fuzz targets, written into build/fuzz/corpus-<target>/:
small input ZIPs from Python zipfile (stored, deflated, with folders, with a comment) and from
the other producers that are installed (Info-ZIP zip, 7-Zip, bsdtar, jar, Go), each in the
ways it writes (stored, Deflate, Deflate64, streamed with data descriptors, encrypted with
the password "secret", UTF-8 names); hand-made ZIPs of the shapes that once found a bug in
the builder (hostile_input_test.cpp makes the same); a self-extractor built from one of
them (for inspect), the stub itself (for the stub reader), and the entries of packages
encrypted with "secret", AES-256 and traditional, in the entry decoder's input form
(fuzz_entry_decoder.cpp).

    make_builder_seeds.py BUILD_FUZZ_DIR TVSFX STUB
"""
import io
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib
from pathlib import Path


def python_zips():
    made = {}
    files = {"a.txt": b"hello\n" * 20, "sub/b.bin": bytes(range(256)) * 4, "empty/": b"", "c.txt": b""}
    for name, method in (("stored", zipfile.ZIP_STORED), ("deflated", zipfile.ZIP_DEFLATED)):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            for path, data in files.items():
                z.writestr(path, data)
            z.comment = b"seed"
        made["python-" + name] = buffer.getvalue()
    return made


def write_source(folder: Path):
    """A small tree every producer packs: text, binary, an empty file and folder, a name that is
    not ASCII, a nested folder."""
    (folder / "sub" / "tief").mkdir(parents=True)
    (folder / "leer").mkdir()
    (folder / "text.txt").write_bytes(b"".join(b"line %d\n" % i for i in range(200)))
    (folder / "sub" / "bytes.bin").write_bytes(bytes(range(256)) * 3)
    (folder / "sub" / "tief" / "empty.txt").write_bytes(b"")
    (folder / "B\xc3\xbcro.txt").write_bytes(b"Sommer\r\n")


# How each producer writes the tree into out.zip, run in the tree's folder: (name, tool, command).
PRODUCERS = [
    ("infozip-deflate", "zip", "zip -q -r ../out.zip ."),
    ("infozip-stored", "zip", "zip -q -0 -r ../out.zip ."),
    ("infozip-encrypted", "zip", "zip -q -r -P secret ../out.zip ."),
    ("infozip-streamed", "zip", "zip -q -r - . | cat > ../out.zip"),
    ("7zz-deflate", "7zz", "7zz a -tzip ../out.zip . >/dev/null"),
    ("7zz-deflate64", "7zz", "7zz a -tzip -mm=Deflate64 ../out.zip . >/dev/null"),
    ("7zz-copy-utf8", "7zz", "7zz a -tzip -mm=Copy -mcu=on ../out.zip . >/dev/null"),
    ("7zz-zipcrypto", "7zz", "7zz a -tzip -mem=ZipCrypto -psecret ../out.zip . >/dev/null"),
    ("7zz-aes256", "7zz", "7zz a -tzip -mem=AES256 -psecret ../out.zip . >/dev/null"),
    ("bsdtar", "bsdtar", "bsdtar --format zip -cf ../out.zip ."),
    ("bsdtar-stored", "bsdtar", "bsdtar --format zip --options zip:compression=store -cf ../out.zip ."),
    ("jar", "jar", "jar cf ../out.zip ."),
]

GO_ZIP = """package main

import (
\t"archive/zip"
\t"os"
)

func main() {
\tw := zip.NewWriter(os.Stdout)
\tfor _, name := range []string{"a.txt", "B\u00fcro/b.txt"} {
\t\tf, _ := w.Create(name)
\t\tf.Write([]byte("hello from go\\n"))
\t}
\tw.Close()
}
"""


def producer_zips():
    made = {}
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder, "src")
        write_source(source)
        for name, tool, command in PRODUCERS:
            if not shutil.which(tool):
                continue
            archive = Path(folder, "out.zip")
            archive.unlink(missing_ok=True)
            subprocess.run(command, shell=True, cwd=source, check=True, stderr=subprocess.DEVNULL)
            made[name] = archive.read_bytes()
        if shutil.which("go"):
            Path(folder, "zipgo.go").write_text(GO_ZIP)
            made["go"] = subprocess.run(["go", "run", "zipgo.go"], cwd=folder, check=True,
                                        capture_output=True).stdout
    return made


# ---- the shapes that once found a bug ------------------------------------------------------------

def raw_zip(entries, count_change=0):
    """A ZIP written as told, like hostile_input_test.cpp's make_zip: each entry a dict with
    name, data and optional method, flags, crc, compressed, size, extra (in both headers),
    local_extra (in the local one only), shared (the index of the entry whose local header it
    points at)."""
    body, central, offsets = b"", b"", []
    for e in entries:
        data = e.get("data", b"")
        e.setdefault("crc", zlib.crc32(data))
        e.setdefault("compressed", len(data))
        e.setdefault("size", len(data))
        extra = e.get("extra", b"")
        local_extra = extra + e.get("local_extra", b"")

        def fields(extra_size):
            return struct.pack("<HHHIIIIHH", 20, e.get("flags", 0), e.get("method", 0), 0, e["crc"],
                               e["compressed"], e["size"], len(e["name"]), extra_size)
        e["fields"] = fields(len(extra))
        if "shared" in e:
            offsets.append(offsets[e["shared"]])
            continue
        offsets.append(len(body))
        body += b"PK\x03\x04" + fields(len(local_extra)) + e["name"] + local_extra + data
    for e, offset in zip(entries, offsets):
        central += (b"PK\x01\x02" + struct.pack("<H", 20) + e["fields"] + struct.pack("<HHHII", 0, 0, 0, 0, offset)
                    + e["name"] + e.get("extra", b""))
    count = len(entries) + count_change
    return body + central + b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, count, count, len(central), len(body), 0)


def bug_zips():
    plain = b"z" * 1000
    return {
        # a Unicode name field added to extra fields nearly 64 KiB long: the length wrapped
        "extra-fields-near-the-limit": raw_zip([{"name": b"\xc3\xa4.txt", "flags": 0x800, "data": b"x",
                                                "local_extra": struct.pack("<HH", 0xCAFE, 65522) + bytes(65522)}]),
        # Deflate data ending before the header's size, with the CRC of what it gives
        "deflate-shorter-than-its-size": raw_zip([{"name": b"short.bin", "method": 8, "size": 2000,
                                                   "crc": zlib.crc32(plain),
                                                   "data": b"\x01\xe8\x03\x17\xfc" + plain}]),
        "file-and-folder-in-case-only": raw_zip([{"name": b"a", "data": b"x"}, {"name": b"A/b", "data": b"y"}]),
        "shared-local-header": raw_zip([{"name": b"a.txt", "data": b"x"},
                                        {"name": b"b.txt", "data": b"x", "shared": 0}]),
        "stored-encrypted-swallows-next": raw_zip([{"name": b"a.txt", "flags": 1, "data": b"x" * 17,
                                                    "compressed": 57, "size": 45}, {"name": b"b.txt", "data": b"hello"}]),
        "count-above-the-records": raw_zip([{"name": b"a.txt", "data": b"x"}, {"name": b"b.txt", "data": b"y"}], 1),
        "overlong-utf8": raw_zip([{"name": b"a\xc0\xaf.txt", "flags": 0x800, "data": b"x"}]),
        "superscript-device": raw_zip([{"name": b"COM\xc2\xb9.txt", "flags": 0x800, "data": b"x"}]),
        "escape-in-name": raw_zip([{"name": b"\x1b]0;owned\x07.txt", "data": b"x"}]),
    }


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
    for name, data in {**python_zips(), **producer_zips(), **bug_zips()}.items():
        (corpus["fuzz_zip_input"] / f"{name}.zip").write_bytes(data)
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder, "in.zip")
        source.write_bytes(python_zips()["python-deflated"])
        exe = Path(folder, "out.exe")
        subprocess.run([tvsfx, "build", "--stub", stub, "-o", str(exe), "--title", "Seed", str(source)], check=True,
                       stdout=subprocess.DEVNULL)
        (corpus["fuzz_inspect"] / "built.exe").write_bytes(exe.read_bytes())
    (corpus["fuzz_stub_reader"] / "stub.exe").write_bytes(Path(stub).read_bytes())
    for name, data in entry_seeds(tvsfx, stub).items():
        (corpus["fuzz_entry_decoder"] / name).write_bytes(data)


if __name__ == "__main__":
    main()
