#!/usr/bin/env python3
"""Writes toolbar.bmp: a 16-colour strip of three 16 x 15 button images on light grey (the button face), each a
black-framed 8 x 8 square, red, green and blue. The file is kept in the repository."""
import os
import struct

WIDTH, HEIGHT, CELL = 48, 15, 16
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
           (0, 255, 255), (255, 255, 255)]
GREY, BLACK, RED, GREEN, BLUE = 7, 0, 9, 10, 12


def pixel(x, y):
    cell, cx = divmod(x, CELL)
    if 3 <= cx <= 12 and 2 <= y <= 11:
        if cx in (3, 12) or y in (2, 11):
            return BLACK
        return (RED, GREEN, BLUE)[cell]
    return GREY


def main():
    stride = ((WIDTH * 4 + 31) // 32) * 4
    rows = b""
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray(stride)
        for x in range(WIDTH):
            value = pixel(x, y)
            row[x // 2] |= value << 4 if x % 2 == 0 else value
        rows += bytes(row)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "toolbar.bmp"), "wb") as f:
        f.write(header + info + palette + rows)


if __name__ == "__main__":
    main()
