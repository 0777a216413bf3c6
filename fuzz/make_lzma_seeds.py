#!/usr/bin/env python3
"""Writes the seed corpus of the LZMA fuzzer (fuzz_lzma.cpp): real LZMA streams of a few small
inputs, from liblzma (Python's lzma module, with the end marker) and from 7-Zip's ZIP writer
(without it), each behind the fuzzer's 3 size bytes and option byte."""
import lzma
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_seeds import sample_inputs  # noqa: E402


def liblzma_entry(data, preset, lc=3, lp=0, pb=2):
    filters = [{"id": lzma.FILTER_LZMA1, "preset": preset, "lc": lc, "lp": lp, "pb": pb,
                "dict_size": max(4096, len(data))}]
    stream = lzma.compress(data, format=lzma.FORMAT_RAW, filters=filters)
    properties = bytes([(pb * 5 + lp) * 9 + lc]) + struct.pack("<I", max(4096, len(data)))
    return bytes([9, 20, 5, 0]) + properties + stream


def sevenzip_entry(data, level):
    if shutil.which("7zz") is None:
        return None
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "data.bin"), "wb") as f:
            f.write(data)
        subprocess.run(["7zz", "a", "-tzip", "-mm=LZMA", f"-mx={level}", "out.zip", "data.bin"], cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        path = os.path.join(folder, "out.zip")
        if not os.path.exists(path):
            return None
        zip_bytes = open(path, "rb").read()
    if len(zip_bytes) < 30 or struct.unpack_from("<IHHH", zip_bytes)[3] != 14:
        return None
    size, = struct.unpack_from("<I", zip_bytes, 18)
    name_len, extra_len = struct.unpack_from("<HH", zip_bytes, 26)
    start = 30 + name_len + extra_len
    return zip_bytes[start:start + size]


def seed(size, marker, chunk, entry):
    return struct.pack("<I", size)[:3] + bytes([(marker & 1) | ((chunk - 1) << 1)]) + entry


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    count = 0
    for name, data in sample_inputs().items():
        for preset in (0, 6, 9):
            for chunk in (128, 3):
                with open(os.path.join(out, f"{name}-liblzma-{preset}-{chunk}"), "wb") as f:
                    f.write(seed(len(data), 1, chunk, liblzma_entry(data, preset)))
                count += 1
        with open(os.path.join(out, f"{name}-liblzma-lc0lp2pb0"), "wb") as f:
            f.write(seed(len(data), 1, 64, liblzma_entry(data, 6, 0, 2, 0)))
        count += 1
        for level in (1, 9):
            entry = sevenzip_entry(data, level)
            if entry is not None:
                with open(os.path.join(out, f"{name}-7zz-{level}"), "wb") as f:
                    f.write(seed(len(data), 0, 128, entry))
                count += 1
    print(f"{count} seeds in {out}")


if __name__ == "__main__":
    main()
