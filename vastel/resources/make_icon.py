#!/usr/bin/env python3
"""Draws DatabaseClearDialogIcon8.ico: the erase dialog's 16x16, 256-colour icon.

A database cylinder with a red cross over its lower right corner. The image
is written as a Windows icon file with a single 8-bit entry (BITMAPINFOHEADER,
a 256-entry palette, the colour indices bottom-up, then the 1-bit
transparency mask), which windres turns into one RT_ICON and the
RT_GROUP_ICON that lists it. The output depends on nothing but this script:
run it again and the bytes are the same.

Usage: make_icon.py [output.ico]   (default: DatabaseClearDialogIcon8.ico beside this script)
"""

import os
import struct
import sys

SIZE = 16


def build_palette():
    """The 16 classic VGA colours, a 6x6x6 colour cube, then a grey ramp."""
    palette = [
        (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
        (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
        (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
        (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
    ]
    levels = (0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF)
    palette += [(r, g, b) for r in levels for g in levels for b in levels]
    grey = 0x08
    while len(palette) < 256:
        palette.append((grey, grey, grey))
        grey += 0x0A
    return palette


PALETTE = build_palette()

# The drawing's colours; each is in the palette above.
OUTLINE = (0x00, 0x00, 0x80)
SIDE = (0x33, 0x66, 0x99)
HIGHLIGHT = (0x66, 0x99, 0xCC)
LID = (0x99, 0xCC, 0xFF)
CROSS = (0xFF, 0x00, 0x00)
CROSS_EDGE = (0x80, 0x00, 0x00)

# The cylinder, top row first: 'o' rim, 't' lid, 's' side, 'h' highlight.
CYLINDER = [
    "................",
    "....oooooooo....",
    "..oottttttttoo..",
    ".otttttttttttto.",
    ".otttttttttttto.",
    ".oootttttttoooo.",
    ".ohsoooooooosso.",
    ".ohssssssssssso.",
    ".ohssssssssssso.",
    ".ohssssssssssso.",
    ".ohssssssssssso.",
    ".ohssssssssssso.",
    ".oohssssssssoo..",
    "...ooossssooo...",
    ".....oooooo.....",
    "................",
]

# The cross, drawn over the cylinder's lower right corner (rows and columns
# 8..15): 'x' red stroke, 'e' its darker edge, '.' leaves what is below.
CROSS_ORIGIN = 8
CROSS_ART = [
    "ee....ee",
    "exe..exe",
    ".exeexe.",
    "..exxe..",
    "..exxe..",
    ".exeexe.",
    "exe..exe",
    "ee....ee",
]

LETTERS = {"o": OUTLINE, "t": LID, "s": SIDE, "h": HIGHLIGHT, "x": CROSS, "e": CROSS_EDGE}


def draw():
    """The picture as rows of colours, top row first; None is transparent."""
    assert len(CYLINDER) == SIZE and all(len(row) == SIZE for row in CYLINDER)
    pixels = [[LETTERS.get(ch) for ch in row] for row in CYLINDER]
    for dy, row in enumerate(CROSS_ART):
        for dx, ch in enumerate(row):
            if ch != ".":
                pixels[CROSS_ORIGIN + dy][CROSS_ORIGIN + dx] = LETTERS[ch]
    return pixels


def icon_bytes():
    pixels = draw()
    and_stride = ((SIZE + 31) // 32) * 4  # mask rows are padded to 32 bits
    colour_rows = bytearray()
    mask_rows = bytearray()
    for row in reversed(pixels):  # DIBs are stored bottom-up
        colour_rows += bytes(0 if c is None else PALETTE.index(c) for c in row)
        mask = bytearray(and_stride)
        for x, c in enumerate(row):
            if c is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        mask_rows += mask
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        SIZE,  # biWidth
        SIZE * 2,  # biHeight: the colour image and the mask together
        1,  # biPlanes
        8,  # biBitCount
        0,  # biCompression: BI_RGB
        len(colour_rows) + len(mask_rows),  # biSizeImage
        0,  # biXPelsPerMeter
        0,  # biYPelsPerMeter
        0,  # biClrUsed: 0 means all 256 entries
        0,  # biClrImportant
    )
    image = header + palette + bytes(colour_rows) + bytes(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)  # reserved, type 1 = icon, one image
    entry = struct.pack(
        "<BBBBHHII",
        SIZE,  # width
        SIZE,  # height
        0,  # colour count: 0 when there are 256 or more
        0,  # reserved
        1,  # planes
        8,  # bits per pixel
        len(image),
        6 + 16,  # the image follows the directory and its single entry
    )
    return directory + entry + image


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, "DatabaseClearDialogIcon8.ico")
    with open(out, "wb") as f:
        f.write(icon_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
