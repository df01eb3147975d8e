#!/usr/bin/env python3
"""Draws the program's icons and the splash picture and writes them as .ico and .bmp files beside this script.

The pictures are drawn from simple shapes (circles, rounded rectangles, polygons, stroked letters) with 4x4
supersampling, so the script needs nothing but Python. Run it again after changing a picture; the files it writes
are kept in the repository.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # supersampling per axis


class Canvas:
    """An RGBA picture; shapes are drawn with coverage from supersampling."""

    def __init__(self, w, h, fill=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(fill) for _ in range(w * h)]

    def blend(self, x, y, color, coverage):
        if coverage <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        r, g, b, a = color
        a = a / 255.0 * coverage
        p = self.px[y * self.w + x]
        out_a = a + p[3] / 255.0 * (1 - a)
        if out_a <= 0:
            return
        for i, c in enumerate((r, g, b)):
            p[i] = int(round((c * a + p[i] * p[3] / 255.0 * (1 - a)) / out_a))
        p[3] = int(round(out_a * 255))

    def shape(self, inside, color, box=None):
        """Fills the points where inside(x, y) holds (x, y in pixels, floats)."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)))):
                n = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS):
                            n += 1
                self.blend(x, y, color, n / (SS * SS))

    def circle(self, cx, cy, r, color):
        self.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, color, (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1))

    def ring(self, cx, cy, r, width, color):
        self.shape(lambda x, y: (r - width) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r, color,
                   (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1))

    def round_rect(self, x0, y0, x1, y1, radius, color):
        def inside(x, y):
            if not (x0 <= x <= x1 and y0 <= y <= y1):
                return False
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
        self.shape(inside, color, (x0 - 1, y0 - 1, x1 + 1, y1 + 1))

    def polygon(self, points, color):
        def inside(x, y):
            c = False
            n = len(points)
            for i in range(n):
                (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
                if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                    c = not c
            return c
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.shape(inside, color, (min(xs) - 1, min(ys) - 1, max(xs) + 1, max(ys) + 1))

    def stroke(self, segments, width, color):
        """Thick lines with round ends; segments is a list of polylines."""
        lines = []
        for poly in segments:
            lines += list(zip(poly, poly[1:]))
        hw = width / 2.0

        def inside(x, y):
            for (ax, ay), (bx, by) in lines:
                dx, dy = bx - ax, by - ay
                l2 = dx * dx + dy * dy
                t = 0 if l2 == 0 else max(0, min(1, ((x - ax) * dx + (y - ay) * dy) / l2))
                px, py = ax + t * dx - x, ay + t * dy - y
                if px * px + py * py <= hw * hw:
                    return True
            return False
        xs = [p[0] for poly in segments for p in poly]
        ys = [p[1] for poly in segments for p in poly]
        self.shape(inside, color, (min(xs) - hw - 1, min(ys) - hw - 1, max(xs) + hw + 1, max(ys) + hw + 1))


def arc(cx, cy, rx, ry, a0, a1, steps=16):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


# Stroked letters on a 10-wide, 14-high cell (baseline at 14, x-height at 6).
def glyph(ch):
    if ch == 'K':
        return [[(1, 0), (1, 14)], [(9, 0), (1, 8)], [(4, 5.5), (9, 14)]]
    if ch == 'o':
        return [arc(5, 10, 4, 4, 0, 360, 24)]
    if ch == 'v':
        return [[(1, 6), (5, 14), (9, 6)]]
    if ch == 'r':
        return [[(2, 6), (2, 14)], arc(6.5, 10.5, 4.5, 4.5, 180, 285, 8)]
    if ch == 'a':
        return [arc(5, 10, 4, 4, 0, 360, 24), [(9, 6), (9, 14)]]
    return []


def text(canvas, s, x, y, scale, width, color, advance=11):
    segs = []
    for i, ch in enumerate(s):
        for poly in glyph(ch):
            segs.append([(x + (px + i * advance) * scale, y + py * scale) for px, py in poly])
    canvas.stroke(segs, width, color)


BLUE = (22, 74, 150, 255)
LIGHT = (84, 150, 224, 255)
WHITE = (255, 255, 255, 255)
RED = (200, 40, 40, 255)
YELLOW = (240, 190, 30, 255)
GREY = (128, 128, 128, 255)
GREEN = (40, 150, 70, 255)


def kovra_icon(size, frame=None, restore=False):
    """The program's icon: a blue disk with a white arrow into a tray; animation frames move the arrow."""
    c = Canvas(size, size)
    s = size / 32.0
    c.round_rect(1 * s, 1 * s, 31 * s, 31 * s, 6 * s, BLUE)
    c.round_rect(6 * s, 22 * s, 26 * s, 27 * s, 1.5 * s, WHITE)  # the tray (the backup drive)
    shift = 0 if frame is None else (frame - 1.5) * 2.5 * s
    if restore:  # the arrow points up, out of the tray
        pts = [(16, 4), (24, 12), (19, 12), (19, 19), (13, 19), (13, 12), (8, 12)]
    else:
        pts = [(13, 4), (19, 4), (19, 11), (24, 11), (16, 19), (8, 11), (13, 11)]
    c.polygon([(x * s, y * s + shift) for x, y in pts], (255, 255, 255, 255) if frame is None else LIGHT if frame % 2 else WHITE)
    return c


def info_icon(size):
    c = Canvas(size, size)
    s = size / 32.0
    c.circle(16 * s, 16 * s, 14.5 * s, (40, 100, 200, 255))
    c.circle(16 * s, 9 * s, 2.2 * s, WHITE)
    c.round_rect(14 * s, 13 * s, 18 * s, 25 * s, 1 * s, WHITE)
    return c


def warning_icon(size):
    c = Canvas(size, size)
    s = size / 32.0
    c.polygon([(16 * s, 2 * s), (31 * s, 29 * s), (1 * s, 29 * s)], YELLOW)
    c.round_rect(14.5 * s, 10 * s, 17.5 * s, 21 * s, 1 * s, (0, 0, 0, 255))
    c.circle(16 * s, 25 * s, 1.8 * s, (0, 0, 0, 255))
    return c


def error_icon(size):
    c = Canvas(size, size)
    s = size / 32.0
    c.circle(16 * s, 16 * s, 14.5 * s, RED)
    c.stroke([[(10 * s, 10 * s), (22 * s, 22 * s)], [(22 * s, 10 * s), (10 * s, 22 * s)]], 3.5 * s, WHITE)
    return c


def debug_icon(size):
    c = Canvas(size, size)
    s = size / 32.0
    c.circle(16 * s, 16 * s, 14.5 * s, GREY)
    c.ring(16 * s, 16 * s, 8 * s, 3 * s, WHITE)
    c.circle(16 * s, 16 * s, 2.5 * s, WHITE)
    return c


def tips_icon(size):
    c = Canvas(size, size)
    s = size / 32.0
    c.round_rect(2 * s, 3 * s, 30 * s, 23 * s, 5 * s, (255, 250, 200, 255))
    c.polygon([(20 * s, 22 * s), (26 * s, 30 * s), (14 * s, 22 * s)], (255, 250, 200, 255))
    c.circle(16 * s, 8 * s, 1.8 * s, (40, 100, 200, 255))
    c.round_rect(14.5 * s, 11 * s, 17.5 * s, 19 * s, 1 * s, (40, 100, 200, 255))
    return c


def dib_image(c):
    """One icon image as a 32-bit DIB of twice the height (colour bottom-up, then an AND mask)."""
    w, h = c.w, c.h
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = c.px[y * w + x]
            rows += bytes((b, g, r, a))
    stride = ((w + 31) // 32) * 4
    mask = b''
    for y in range(h - 1, -1, -1):
        bits = bytearray(stride)
        for x in range(w):
            if c.px[y * w + x][3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + rows + mask


def write_ico(name, canvases):
    images = [dib_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.w % 256, c.h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(out)


def write_bmp(name, c, background):
    """A 24-bit bottom-up BMP; transparent pixels take the background colour."""
    w, h = c.w, c.h
    stride = (w * 3 + 3) & ~3
    rows = b''
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b, a = c.px[y * w + x]
            af = a / 255.0
            r, g, b = (int(round(v * af + bg * (1 - af))) for v, bg in zip((r, g, b), background))
            row += bytes((b, g, r))
        rows += bytes(row) + bytes(stride - len(row))
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(rows), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(header + info + rows)


def splash():
    """The splash picture. Its corners are the key colour 0x808080, which the splash window keys out."""
    w, h = 400, 240
    c = Canvas(w, h)
    c.round_rect(0, 0, w, h, 18, (236, 242, 250, 255))
    # The blue face; the light strip below it carries the version line the splash window writes.
    c.shape(lambda x, y: y < 198 and (x >= 18 and x <= w - 18 or y >= 18 or
                                      min((x - 18) ** 2, (x - w + 18) ** 2) + (y - 18) ** 2 <= 18 * 18),
            BLUE, (0, 0, w, 198))
    # A lighter band across the top half.
    c.shape(lambda x, y: y < 120 - 40 * math.sin(x / w * math.pi), (255, 255, 255, 28), (0, 0, w, 130))
    # The program's mark and name.
    mark = kovra_icon(64)
    for y in range(64):
        for x in range(64):
            p = mark.px[y * 64 + x]
            c.blend(40 + x, 60 + y, (p[0], p[1], p[2], 255), p[3] / 255.0)
    c.round_rect(40, 60, 104, 124, 12, (255, 255, 255, 40))
    text(c, 'Kovra', 128, 62, 4.2, 7.5, WHITE, advance=11.5)
    c.round_rect(128, 138, 360, 141, 1.5, LIGHT)
    return c


def main():
    write_ico('Kovra.ico', [kovra_icon(32), kovra_icon(16)])
    # The tray animation: 527, 528, 525, 526 while a backup runs, 530, 531, 532, 529 while a restore runs.
    frames = {525: (False, 2), 526: (False, 3), 527: (False, 0), 528: (False, 1),
              529: (True, 3), 530: (True, 0), 531: (True, 1), 532: (True, 2)}
    for rid, (restore, frame) in frames.items():
        write_ico('Tray%d.ico' % rid, [kovra_icon(16, frame, restore), kovra_icon(32, frame, restore)])
    write_ico('LogError.ico', [error_icon(16), error_icon(32)])
    write_ico('LogWarning.ico', [warning_icon(16), warning_icon(32)])
    write_ico('LogInformation.ico', [info_icon(16), info_icon(32)])
    write_ico('LogDebug.ico', [debug_icon(16), debug_icon(32)])
    write_ico('LogTips.ico', [tips_icon(32), tips_icon(16)])
    write_bmp('../Splash.bmp', splash(), (0x80, 0x80, 0x80))


if __name__ == '__main__':
    main()
