"""Writing .ico files for the tests of --icon: each image one plain colour, as a bitmap (with
its palette and transparency mask) or as a PNG stream, so a test can tell which image Windows
drew. Made here at test time with struct and zlib; nothing but the format's own rules."""

import struct
import zlib

ICON_HEADER = struct.Struct("<HHH")             # reserved, type (1 icon), count
ICON_ENTRY = struct.Struct("<BBBBHHII")         # width, height, colours, reserved, planes, bits, bytes, offset
GROUP_ENTRY = struct.Struct("<BBBBHHIH")        # the same, with the RT_ICON number for the offset
BITMAP_HEADER = struct.Struct("<IiiHHIIiiII")   # BITMAPINFOHEADER


def bitmap_image(size: int, bits: int, rgb: tuple) -> bytes:
    """A DIB icon image of size x size in one colour: 8 bits with a two-colour palette, or 32
    bits with alpha; the mask marks every pixel opaque."""
    header = BITMAP_HEADER.pack(40, size, 2 * size, 1, bits, 0, 0, 0, 0, 0, 0)
    red, green, blue = rgb
    if bits == 8:
        palette = bytes([0, 0, 0, 0, blue, green, red, 0]) + bytes(4 * 254)
        row = bytes([1]) * size
    elif bits == 32:
        palette = b""
        row = bytes([blue, green, red, 255]) * size
    else:
        raise ValueError(f"{bits} bits per pixel")
    row += bytes(-len(row) % 4)
    mask_row = bytes((size + 31) // 32 * 4)
    return header + palette + row * size + mask_row * size


def png_image(size: int, rgb: tuple) -> bytes:
    """An RGBA PNG stream of size x size in one colour."""
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = (b"\0" + bytes(rgb + (255,)) * size) * size
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico_file(images: list) -> bytes:
    """A .ico of (width, height, bits, image bytes) tuples, in that order."""
    offset = ICON_HEADER.size + ICON_ENTRY.size * len(images)
    directory, data = ICON_HEADER.pack(0, 1, len(images)), b""
    for width, height, bits, image in images:
        directory += ICON_ENTRY.pack(width % 256, height % 256, 0, 0, 1, bits, len(image), offset + len(data))
        data += image
    return directory + data


RED, BLUE, GREEN, YELLOW = (220, 20, 30), (20, 40, 210), (30, 190, 40), (240, 220, 10)

# The test icon: four sizes, each its own colour; the 256x256 one a PNG stream. The two sizes
# Windows draws at 96 DPI have the same depth, so its choice is by size alone.
SAMPLE_IMAGES = [
    (16, 16, 32, bitmap_image(16, 32, RED)),
    (32, 32, 32, bitmap_image(32, 32, BLUE)),
    (48, 48, 8, bitmap_image(48, 8, GREEN)),
    (256, 256, 32, png_image(256, YELLOW)),
]
COLOURS = {SAMPLE_IMAGES[0][3]: RED, SAMPLE_IMAGES[1][3]: BLUE, SAMPLE_IMAGES[2][3]: GREEN, SAMPLE_IMAGES[3][3]: YELLOW}
SAMPLE_SIZES = ["16x16 32bpp", "32x32 32bpp", "48x48 8bpp", "256x256 png"]


def group_entries(group: bytes) -> list:
    """The entries of an RT_GROUP_ICON resource as tuples of GROUP_ENTRY's fields."""
    _, kind, count = ICON_HEADER.unpack_from(group)
    assert kind == 1
    return [GROUP_ENTRY.unpack_from(group, ICON_HEADER.size + i * GROUP_ENTRY.size) for i in range(count)]
