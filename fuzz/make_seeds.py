#!/usr/bin/env python3
"""Writes the seed corpus of the decoder fuzzer: zlib streams of every level and strategy,
and 7-Zip Deflate64 streams, of a few small inputs, each behind the fuzzer's mode and
parameter bytes (see fuzz_inflate.cpp)."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib


def sample_inputs():
    rng = random.Random(1)
    text = b""
    for root, _, files in sorted(os.walk("/usr/include/linux")):
        for name in sorted(files):
            if name.endswith(".h") and len(text) < 6000:
                with open(os.path.join(root, name), "rb") as f:
                    text += f.read(1500)
    binary = open("/bin/ls", "rb").read()[4096:9096] if os.path.exists("/bin/ls") else bytes(5000)
    noise = bytes(rng.getrandbits(8) for _ in range(3000))
    runs = b"".join(bytes([rng.randrange(4)]) * rng.randrange(1, 300) for _ in range(40))
    far = noise[:2000] * 3
    return {"text": text[:6000], "binary": binary, "noise": noise, "runs": runs[:6000], "far": far, "tiny": b"ab"}


def deflate(data, level, strategy, wbits):
    c = zlib.compressobj(level, zlib.DEFLATED, -wbits, 8, strategy)
    return c.compress(data) + c.flush()


def deflate64(data):
    if shutil.which("7zz") is None:
        return None
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "data.bin"), "wb") as f:
            f.write(data)
        subprocess.run(["7zz", "a", "-tzip", "-mm=Deflate64", "out.zip", "data.bin"], cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        path = os.path.join(folder, "out.zip")
        if not os.path.exists(path):
            return None
        zip_bytes = open(path, "rb").read()
    if len(zip_bytes) < 30 or struct.unpack_from("<IHHH", zip_bytes)[3] != 9:
        return None
    size, = struct.unpack_from("<I", zip_bytes, 18)
    name_len, extra_len = struct.unpack_from("<HH", zip_bytes, 26)
    start = 30 + name_len + extra_len
    return zip_bytes[start:start + size]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    count = 0
    for name, data in sample_inputs().items():
        for level in (0, 1, 6, 9):
            for strategy in (0, 1, 2, 3, 4):
                for wbits in (15, 9):
                    stream = deflate(data, level, strategy, wbits)
                    for mode, parameter in ((0, 200), (0, 5), (2, 40)):
                        with open(os.path.join(out, f"{name}-{level}-{strategy}-{wbits}-{mode}-{parameter}"), "wb") as f:
                            f.write(bytes([mode, parameter]) + stream)
                        count += 1
        stream = deflate64(data)
        if stream is not None:
            for parameter in (200, 7):
                with open(os.path.join(out, f"{name}-deflate64-{parameter}"), "wb") as f:
                    f.write(bytes([1, parameter]) + stream)
                count += 1
    print(f"{count} seeds in {out}")


if __name__ == "__main__":
    main()
