#!/usr/bin/env python3
"""Draws the Quick Configure Wizard's progress animation and writes it as "Config.avi" beside this script.

A disk with a light that moves along its front, in 8 uncompressed frames of 8 bits per pixel (the kind the
animation control plays). Needs nothing but Python; the file it writes is kept in the repository.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
W, H, FRAMES = 64, 40, 8
# Palette: 0 dialog grey (the transparent colour), 1 dark frame, 2 disk body, 3 disk front, 4 light, 5 dim light.
PALETTE = [(236, 233, 216), (64, 64, 64), (160, 168, 184), (112, 120, 136), (40, 200, 60), (60, 90, 70)]


def frame(n):
    px = [[0] * W for _ in range(H)]
    for y in range(6, 34):
        for x in range(4, 60):
            edge = y in (6, 33) or x in (4, 59)
            px[y][x] = 1 if edge else (3 if y >= 24 else 2)
    for i in range(FRAMES):
        x0 = 10 + i * 6
        for y in range(27, 31):
            for x in range(x0, x0 + 4):
                px[y][x] = 4 if i == n else 5
    return px


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def lst(kind, body):
    return chunk(b"LIST", kind + body)


def main():
    stride = (W + 3) // 4 * 4
    frames = []
    for n in range(FRAMES):
        rows = frame(n)
        data = b"".join(bytes(rows[y]) + b"\0" * (stride - W) for y in reversed(range(H)))
        frames.append(data)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    palette += b"\0" * (256 * 4 - len(palette))
    usec = 125000
    avih = struct.pack("<IIIIIIIIII4I", usec, 0, 0, 0x10, FRAMES, 0, 1, stride * H, W, H, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"DIB ", 0, 0, 0, 0, usec, 1000000, 0, FRAMES,
                       stride * H, 0xFFFFFFFF, 0, 0, 0, W, H)
    strf = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, stride * H, 0, 0, 256, 0) + palette
    hdrl = lst(b"hdrl", chunk(b"avih", avih) + lst(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi = lst(b"movi", b"".join(chunk(b"00db", f) for f in frames))
    body = b"AVI " + hdrl + movi
    with open(os.path.join(HERE, "Config.avi"), "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


if __name__ == "__main__":
    main()
