#!/usr/bin/env python3
"""Writes resources/morvane.ico: the program's icon, a memory module.

One 32 x 32 image in 16 colours (4 bits per pixel, the standard Windows
16-colour palette) with a 1-bit transparency mask. The picture is drawn
here from rectangles and points, so running this script again writes the
same bytes: `python3 resources/make_icon.py [output.ico]`.
Uses only the Python standard library.
"""

import os
import struct
import sys

SIZE = 32

# The standard Windows 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 dark red
    (0x00, 0x80, 0x00),  # 2 dark green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 green
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white
]

BLACK, DARK_GREEN, OLIVE, SILVER, GREY, GREEN, YELLOW, WHITE = 0, 2, 3, 7, 8, 10, 11, 15


def draw():
    """Returns the picture: rows top to bottom of palette indices, None
    where the icon is transparent."""
    px = [[None] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    def clear(x0, y0, x1, y1):
        fill(x0, y0, x1, y1, None)

    # The board: a dark green card with a black outline and cut corners.
    left, top, right, bottom = 1, 6, 30, 25
    fill(left, top, right, bottom, BLACK)
    fill(left + 1, top + 1, right - 1, bottom - 1, DARK_GREEN)
    for x, y in ((left, top), (right, top), (left, bottom), (right, bottom)):
        px[y][x] = None
    # A light edge along the top of the card.
    fill(left + 2, top + 1, right - 2, top + 1, GREEN)

    # The latch notches in each side, just above the contacts.
    for x, inner in ((left, left + 1), (right, right - 1)):
        clear(x, 18, x, 19)
        fill(inner, 18, inner, 19, BLACK)

    # Four memory chips with their legs above and below.
    for x0 in (3, 10, 17, 24):
        fill(x0, 10, x0 + 4, 16, BLACK)
        fill(x0, 10, x0 + 4, 10, GREY)
        px[11][x0 + 1] = SILVER
        for x in (x0, x0 + 2, x0 + 4):
            px[9][x] = SILVER
            px[17][x] = SILVER

    # The gold contacts along the bottom edge.
    for x in range(3, 29, 2):
        fill(x, 20, x, 23, YELLOW)
        px[24][x] = OLIVE

    # The key notch between the contacts.
    clear(19, 21, 20, bottom)
    fill(18, 21, 18, bottom, BLACK)
    fill(21, 21, 21, bottom, BLACK)
    fill(19, 20, 20, 20, BLACK)
    return px


def icon_bytes(px):
    """Encodes the picture as a .ico file holding one 32 x 32, 4 bpp image."""
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        SIZE,  # biWidth
        SIZE * 2,  # biHeight: the colour image and the mask
        1,  # biPlanes
        4,  # biBitCount
        0,  # biCompression: BI_RGB
        0,  # biSizeImage
        0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)

    colour = bytearray()
    mask = bytearray()
    for row in reversed(px):  # bitmaps are stored bottom row first
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            colour.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)  # rows are already 4-byte aligned

    image = header + palette + bytes(colour) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, count
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image),
                        len(directory) + 16)
    return directory + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "morvane.ico")
    with open(out, "wb") as f:
        f.write(icon_bytes(draw()))


if __name__ == "__main__":
    main()
