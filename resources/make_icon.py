#!/usr/bin/env python3
"""Draws the program's icon and writes it as a one-image .ico file: 32 x 32 pixels, 24 bits per
pixel, a 3,240-byte image (40-byte header, colour bitmap, AND mask; no palette).

The picture: a memory module (green board, black chips, gold contacts) with a bright sweep
passing over it and a few sparkles behind: memory being swept clean. The output is
deterministic; the file in the repository is this script's output, byte for byte.

    make_icon.py [output.ico] [preview.png]
"""

import math
import os
import struct
import sys
import zlib

SIZE = 32
TRANSPARENT = None

BOARD = (34, 120, 70)
BOARD_EDGE = (20, 80, 45)
CHIP = (30, 32, 38)
CHIP_SHINE = (70, 74, 84)
GOLD = (230, 180, 50)
GOLD_DARK = (150, 110, 30)
SWEEP_CORE = (255, 255, 255)
SWEEP_EDGE = (120, 210, 255)
SPARKLE = (255, 250, 200)


def draw():
    px = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    # The module: a board with a notch, four chips and a row of contacts.
    rect(2, 11, 29, 23, BOARD)
    rect(2, 11, 29, 11, BOARD_EDGE)
    rect(2, 23, 29, 23, BOARD_EDGE)
    rect(2, 11, 2, 23, BOARD_EDGE)
    rect(29, 11, 29, 23, BOARD_EDGE)
    for x0 in (4, 10, 17, 23):
        rect(x0, 13, x0 + 4, 19, CHIP)
        rect(x0, 13, x0 + 4, 13, CHIP_SHINE)
    for x in range(3, 29):
        px[24][x] = GOLD if x % 2 else GOLD_DARK
        px[25][x] = GOLD if x % 2 else GOLD_DARK
    px[24][15] = px[25][15] = px[24][16] = px[25][16] = TRANSPARENT  # the key notch

    # The sweep: a thick arc from the upper left down across the module.
    cx, cy, radius = 4.0, 34.0, 27.0
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy) - radius
            angle = math.atan2(cy - (y + 0.5), x + 0.5 - cx)
            if not (0.35 < angle < 1.45):
                continue
            if abs(d) < 1.1:
                px[y][x] = SWEEP_CORE
            elif abs(d) < 2.3:
                px[y][x] = SWEEP_EDGE

    # Sparkles left behind the sweep.
    for sx, sy in ((25, 4), (29, 8), (21, 7)):
        for dx, dy in ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1)):
            px[sy + dy][sx + dx] = SPARKLE
    return px


def icon_image(px):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        bits = 0
        for x in range(SIZE):
            p = px[y][x]
            colour += bytes((0, 0, 0)) if p is None else bytes((p[2], p[1], p[0]))
            bits = (bits << 1) | (1 if p is None else 0)
        mask += struct.pack(">I", bits)  # 32 pixels: exactly one 4-byte row
    return header + bytes(colour) + bytes(mask)


def ico_file(image):
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


def png_preview(px, scale=8):
    rows = b""
    for y in range(SIZE * scale):
        row = bytearray(b"\0")
        for x in range(SIZE * scale):
            p = px[y // scale][x // scale]
            row += bytes((200, 200, 200, 255)) if p is None else bytes((*p, 255))
        rows += bytes(row)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", SIZE * scale, SIZE * scale, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "Trimbolt64.ico")
    px = draw()
    image = icon_image(px)
    assert len(image) == 3240, len(image)
    with open(out, "wb") as f:
        f.write(ico_file(image))
    if len(sys.argv) > 2:
        with open(sys.argv[2], "wb") as f:
            f.write(png_preview(px))


if __name__ == "__main__":
    main()
