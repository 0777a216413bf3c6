#!/usr/bin/env python3
"""Seeds of the builder's fuzz targets, written into build/fuzz/corpus-<target>/:
small input ZIPs from Python zipfile (stored, deflated, with folders, with a comment, 7-Zip
Deflate64 when 7zz is there), a self-extractor built from one of them (for inspect) and the
stub itself (for the stub reader).

    make_builder_seeds.py BUILD_FUZZ_DIR TVSFX STUB
"""
import io
import shutil
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


def main():
    out, tvsfx, stub = Path(sys.argv[1]), sys.argv[2], sys.argv[3]
    corpus = {t: out / f"corpus-{t}" for t in ("fuzz_zip_input", "fuzz_inspect", "fuzz_stub_reader")}
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


if __name__ == "__main__":
    main()
