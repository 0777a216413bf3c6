"""Inputs whose names all fit code page 1252, and a listing of what a package built from them
holds, for the test that such a package stays byte for byte what the builder made before it
kept names as UTF-8 (tests/unit/builder/nt_names_test.cpp; the expected listing is
fitting_names.txt beside this file).

    fitting_names.py make DIR     writes DIR/in.zip and the folder DIR/in
    fitting_names.py list FILE    prints the listing of the built FILE

The listing leaves out what depends on the stub: the local headers with their data as one
SHA-256 (they hold no offsets), each central header with its offset zeroed, the decoded
configuration block and the record's flags.
"""
import hashlib
import os
import struct
import sys
import zlib

DOS_TIME, DOS_DATE = 0x6000, (41 << 9) | (6 << 5) | 15  # 2021-06-15 12:00
FOLDER_MTIME = 1623758400  # 2021-06-15 12:00:00 UTC


def unicode_path(utf8, stored):
    return struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, zlib.crc32(stored)) + utf8


# name bytes, general purpose flags, version made by, extra field
ZIP_ENTRIES = [
    (b"B\xc3\xbcro.txt", 0x0800, 0x0314, b""),           # UTF-8 flag
    (b"B\x81ro-dos.txt", 0, 20, b""),                    # MS-DOS: CP437
    (b"\x84-ntfs.txt", 0, 0x0A14, b""),                  # NTFS: CP437
    (b"R\xe9sum\xe9.txt", 0, 0x0314, b""),               # Unix, Latin-1 bytes
    (b"Bu\xcc\x88ro-nfd.txt", 0x0800, 0x1314, b""),      # macOS, decomposed
    (b"K\x84se.txt", 0, 20, unicode_path("Käse.txt".encode(), b"K\x84se.txt")),
    (b"plain.txt", 0, 20, b""),
    (b"Gr\xfc\xdfe/", 0, 0x0314, b""),
]

FOLDER_FILES = ["Größe.txt", "Ärger/ä.txt", "plain.txt", "Bu\u0308ro.txt"]


def raw_zip(entries):
    out, central = b"", b""
    for name, flags, made_by, extra in entries:
        data = b"" if name.endswith(b"/") else b"x"
        fields = struct.pack("<HHHHIIIHH", flags, 0, DOS_TIME, DOS_DATE, zlib.crc32(data), len(data), len(data),
                             len(name), len(extra))
        central += struct.pack("<IHH", 0x02014B50, made_by, 20) + fields + struct.pack("<HHHII", 0, 0, 0, 0, len(out))
        central += name + extra
        out += struct.pack("<IH", 0x04034B50, 20) + fields + name + extra + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
    return out + central + end


def make(folder):
    with open(os.path.join(folder, "in.zip"), "wb") as f:
        f.write(raw_zip(ZIP_ENTRIES))
    for name in FOLDER_FILES:
        path = os.path.join(folder, "in", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("content of " + name + "\n" * 40)
        os.utime(path, (FOLDER_MTIME, FOLDER_MTIME))
    for parent, _, _ in os.walk(os.path.join(folder, "in")):
        os.utime(parent, (FOLDER_MTIME, FOLDER_MTIME))


def listing(path):
    data = open(path, "rb").read()
    marker = data.index(b"TVK\x01sfx\x02")
    archive_offset, config_offset = struct.unpack_from("<II", data, marker + 12)
    flags = struct.unpack_from("<I", data, marker + 28)[0]
    end = data.rindex(b"PK\x05\x06")
    count, size, directory = struct.unpack_from("<HII", data, end + 10)
    print("flags %08X" % flags)
    if config_offset:
        print("config " + zlib.decompressobj(-15).decompress(data[config_offset:archive_offset]).hex())
    print("local " + hashlib.sha256(data[archive_offset:directory]).hexdigest())
    at = directory
    for _ in range(count):
        name_size, extra_size, comment_size = struct.unpack_from("<HHH", data, at + 28)
        record = bytearray(data[at:at + 46 + name_size + extra_size + comment_size])
        record[42:46] = b"\0\0\0\0"  # the local header's offset, which the stub's size moves
        print("central " + record.hex())
        at += len(record)


if __name__ == "__main__":
    make(sys.argv[2]) if sys.argv[1] == "make" else listing(sys.argv[2])
