"""The application icon: a cardboard archive box with a green arrow pointing into it.

Drawn at build time from a few convex shapes in unit coordinates (0..1, y downwards), with 4x4
samples per pixel for soft edges, and written as a .ico file holding a 16x16 and a 32x32 image
with 8 bits per pixel and a palette of just the colours they use (about 1.8 KB in all; the same
images with 32 bits and an alpha channel took 5.4 KB, a tenth of the stub). Without an alpha
channel an edge pixel is either drawn or transparent: a pixel covered by at least half of its
samples is drawn in its own colour (blending it over some background would leave a fringe on
every other background, light or dark).
"""

import struct

SIZES = (16, 32)
SAMPLES = 4  # per pixel and axis

OUTLINE_BOX = (90, 56, 22)
BOX_SIDE = (217, 165, 91)
BOX_LID = (185, 127, 53)
OUTLINE_ARROW = (22, 84, 22)
ARROW_FILL = (60, 176, 67)


def rectangle(left, top, right, bottom):
    return [(left, top), (right, top), (right, bottom), (left, bottom)]


BOX = rectangle(0.10, 0.44, 0.90, 0.96)
LID = rectangle(0.10, 0.44, 0.90, 0.58)
ARROW_SHAFT = rectangle(0.39, 0.03, 0.61, 0.36)
ARROW_HEAD = [(0.18, 0.34), (0.82, 0.34), (0.50, 0.68)]

# Bottom to top; each outlined shape is drawn grown by one pixel in its outline colour first.
LAYERS = (
    ([BOX], BOX_SIDE),
    ([LID], BOX_LID),
    ([ARROW_SHAFT, ARROW_HEAD], ARROW_FILL),
)
OUTLINES = {BOX_SIDE: OUTLINE_BOX, BOX_LID: OUTLINE_BOX, ARROW_FILL: OUTLINE_ARROW}


def inside(polygon, x, y, grow):
    """True when (x, y) lies in the convex, clockwise polygon grown outwards by grow."""
    count = len(polygon)
    for i in range(count):
        ax, ay = polygon[i]
        bx, by = polygon[(i + 1) % count]
        # Outward normal of a clockwise edge (y downwards) is (dy, -dx).
        nx, ny = by - ay, -(bx - ax)
        length = (nx * nx + ny * ny) ** 0.5
        if ((x - ax) * nx + (y - ay) * ny) / length > grow:
            return False
    return True


def sample_colour(x, y, pixel):
    colour = None
    for shapes, fill in LAYERS:
        if any(inside(shape, x, y, pixel) for shape in shapes):
            colour = OUTLINES[fill]
        if any(inside(shape, x, y, 0.0) for shape in shapes):
            colour = fill
    return colour


def render(size):
    """Rows top to bottom of (r, g, b, a) pixels."""
    pixel = 1.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = sample_colour((px + (sx + 0.5) / SAMPLES) * pixel,
                                           (py + (sy + 0.5) / SAMPLES) * pixel, pixel)
                    if colour:
                        r, g, b, hits = r + colour[0], g + colour[1], b + colour[2], hits + 1
            if hits:
                row.append((r // hits, g // hits, b // hits, 255 * hits // (SAMPLES * SAMPLES)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


BITS_PER_PIXEL = 8


def flatten(pixel):
    """The opaque colour of a pixel, or None where it stays transparent."""
    r, g, b, a = pixel
    return (r, g, b) if a >= 128 else None


def encode_image(size, rows):
    """BITMAPINFOHEADER, the palette (only the colours used), one palette index per pixel
    bottom-up, then the AND mask (set = transparent)."""
    flat = [[flatten(pixel) for pixel in row] for row in rows]
    palette = sorted({colour for row in flat for colour in row if colour} | {(0, 0, 0)})
    if len(palette) > 1 << BITS_PER_PIXEL:
        raise SystemExit(f"icon.py: the {size}x{size} image uses {len(palette)} colours")
    index = {colour: i for i, colour in enumerate(palette)}
    mask_stride = (size + 31) // 32 * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(flat):
        # A transparent pixel holds black, which the AND mask lets the background through.
        pixels += bytes(index[colour or (0, 0, 0)] for colour in row)
        bits = bytearray(mask_stride)
        for x, colour in enumerate(row):
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    # The height counts the colour and the mask rows together, as icons require; 8-bit rows of
    # 16 and 32 pixels need no padding to a 4-byte boundary.
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, BITS_PER_PIXEL, 0,
                         len(pixels) + len(mask), 0, 0, len(palette), 0)
    return header + colours + bytes(pixels) + bytes(mask)


def build_icon():
    images = [(size, encode_image(size, render(size))) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, BITS_PER_PIXEL, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(image for _, image in images)
