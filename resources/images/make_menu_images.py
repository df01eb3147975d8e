#!/usr/bin/env python3
"""Draws the main menu's pictures: the four buttons' images (on the key colour magenta, which the buttons leave
transparent), the built-in banner 604, the logo 605 and the banner file "bg_main.bmp" that ships beside the program.
Needs nothing but Python; the files it writes are kept in the repository."""
import math
import os

from make_images import BLUE, WHITE, Canvas, kovra_icon, text, write_bmp

HERE = os.path.dirname(os.path.abspath(__file__))
MAGENTA = (255, 0, 255)
DARK = (20, 60, 130, 255)
GREEN = (40, 150, 70, 255)
ORANGE = (230, 130, 20, 255)


def disk(c, y):
    """A drive: a rounded box with a light on it."""
    c.round_rect(6, y, 34, y + 12, 3, DARK)
    c.circle(29, y + 6, 1.8, (120, 230, 120, 255))


def arrow(c, x, y0, y1, color):
    """A thick vertical arrow from y0 to y1 (pointing towards y1)."""
    c.stroke([[(x, y0), (x, y1)]], 5, color)
    d = 7 if y1 > y0 else -7
    c.polygon([(x - 8, y1 - d), (x + 8, y1 - d), (x, y1 + d * 0.6)], color)


def backup_image():
    c = Canvas(40, 40)
    disk(c, 25)
    arrow(c, 20, 3, 15, GREEN)
    return c


def restore_image():
    c = Canvas(40, 40)
    disk(c, 25)
    arrow(c, 20, 19, 7, ORANGE)
    return c


def expert_image():
    c = Canvas(40, 40)
    for i in range(8):
        a = math.radians(i * 45)
        c.stroke([[(20 + 11 * math.cos(a), 20 + 11 * math.sin(a)), (20 + 16 * math.cos(a), 20 + 16 * math.sin(a))]],
                 5, DARK)
    c.ring(20, 20, 13, 6, DARK)
    return c


def settings_image():
    c = Canvas(40, 40)
    for i, knob in enumerate((12, 26, 18)):
        y = 9 + i * 11
        c.stroke([[(5, y), (35, y)]], 3, DARK)
        c.circle(knob, y, 4.5, BLUE)
    return c


def banner(w, h, name_scale):
    c = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            t = x / w
            c.px[y * w + x] = [int(30 + 30 * t), int(80 + 50 * t), int(170 + 40 * t), 255]
    c.shape(lambda x, y: y < h * 0.55 - h * 0.25 * math.sin(x / w * math.pi), (255, 255, 255, 30))
    mark = kovra_icon(32)
    for y in range(32):
        for x in range(32):
            p = mark.px[y * 32 + x]
            c.blend(12 + x, (h - 32) // 2 + y, (p[0], p[1], p[2], 255), p[3] / 255.0)
    text(c, 'Kovra', 54, (h - 14 * name_scale) / 2 - 1, name_scale, 2.5, WHITE)
    return c


def main():
    write_bmp('MainBackup.bmp', backup_image(), MAGENTA)
    write_bmp('MainRestore.bmp', restore_image(), MAGENTA)
    write_bmp('MainExpert.bmp', expert_image(), MAGENTA)
    write_bmp('MainSettings.bmp', settings_image(), MAGENTA)
    write_bmp('MainBanner.bmp', banner(405, 48, 1.6), (0, 0, 0))
    write_bmp('MainLogo.bmp', kovra_icon(32), (0xF0, 0xF0, 0xF0))
    write_bmp('../bg_main.bmp', banner(405, 48, 1.9), (0, 0, 0))


if __name__ == '__main__':
    main()
