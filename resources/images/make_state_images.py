#!/usr/bin/env python3
"""Writes StateImages.bmp: the selection trees' check-mark pictures, five 16 x 16 images in one 80 x 16 bitmap
(unused, unchecked, checked, partly checked, fixed), magenta where the tree shows through."""
import struct

W, H = 80, 16
MAGENTA = (255, 0, 255)
pixels = [[MAGENTA] * W for _ in range(H)]


def box(index, border, fill):
    x0 = index * 16
    for y in range(2, 15):
        for x in range(x0 + 2, x0 + 15):
            edge = y in (2, 14) or x in (x0 + 2, x0 + 14)
            pixels[y][x] = border if edge else fill


def check(index, colour):
    x0 = index * 16
    for i, (x, y) in enumerate([(5, 8), (6, 9), (7, 10), (8, 9), (9, 8), (10, 7), (11, 6)]):
        for dy in (0, 1):
            pixels[y + dy][x0 + x] = colour


box(1, (28, 81, 128), (255, 255, 255))
box(2, (28, 81, 128), (255, 255, 255))
check(2, (33, 161, 33))
box(3, (28, 81, 128), (255, 255, 255))
for y in range(5, 12):
    for x in range(3 * 16 + 5, 3 * 16 + 12):
        pixels[y][x] = (33, 161, 33)
box(4, (160, 160, 160), (230, 230, 230))
check(4, (160, 160, 160))

row = W * 3
pad = (4 - row % 4) % 4
rows = []
for r in reversed(pixels):
    rows.append(b"".join(bytes((p[2], p[1], p[0])) for p in r) + b"\0" * pad)
data = b"".join(rows)
header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
with open("StateImages.bmp", "wb") as out:
    out.write(header + info + data)
