#!/usr/bin/env python3
"""Draws the Expert Mode dialog's tab pictures (16 x 16 and 32 x 32) with the shapes of make_images.py and writes
them as .ico files beside this script: System, Auto-Backup, Schedule Backup, Instant Backup, Instant Restore."""
import math

from make_images import BLUE, WHITE, Canvas, arc, write_ico

GREEN = (40, 150, 70, 255)
ORANGE = (220, 130, 30, 255)
GREY = (110, 110, 120, 255)


def system_icon(size):
    """A gear: a ring with eight teeth."""
    c = Canvas(size, size)
    s = size / 32.0
    for k in range(8):
        a = k * math.pi / 4
        cx, cy = 16 + 11.5 * math.cos(a), 16 + 11.5 * math.sin(a)
        c.circle(cx * s, cy * s, 3.2 * s, GREY)
    c.circle(16 * s, 16 * s, 11 * s, GREY)
    c.circle(16 * s, 16 * s, 4.5 * s, WHITE)
    return c


def auto_icon(size):
    """Two arrows chasing each other round a circle."""
    c = Canvas(size, size)
    s = size / 32.0
    c.circle(16 * s, 16 * s, 15 * s, GREEN)
    c.stroke([[(x * s, y * s) for x, y in arc(16, 16, 9, 9, 200, 340)],
              [(x * s, y * s) for x, y in arc(16, 16, 9, 9, 20, 160)]], 2.5 * s, WHITE)
    c.polygon([(22 * s, 9 * s), (28 * s, 13 * s), (21 * s, 16 * s)], WHITE)
    c.polygon([(10 * s, 23 * s), (4 * s, 19 * s), (11 * s, 16 * s)], WHITE)
    return c


def schedule_icon(size):
    """A clock."""
    c = Canvas(size, size)
    s = size / 32.0
    c.circle(16 * s, 16 * s, 15 * s, ORANGE)
    c.circle(16 * s, 16 * s, 12 * s, WHITE)
    c.stroke([[(16 * s, 16 * s), (16 * s, 8 * s)], [(16 * s, 16 * s), (22 * s, 19 * s)]], 2.5 * s, ORANGE)
    return c


def arrow_icon(size, up):
    """A tray with an arrow into it (backup) or out of it (restore)."""
    c = Canvas(size, size)
    s = size / 32.0
    c.round_rect(1 * s, 1 * s, 31 * s, 31 * s, 6 * s, BLUE if not up else GREEN)
    c.round_rect(6 * s, 22 * s, 26 * s, 27 * s, 1.5 * s, WHITE)
    if up:
        pts = [(16, 4), (24, 12), (19, 12), (19, 19), (13, 19), (13, 12), (8, 12)]
    else:
        pts = [(13, 4), (19, 4), (19, 11), (24, 11), (16, 19), (8, 11), (13, 11)]
    c.polygon([(x * s, y * s) for x, y in pts], WHITE)
    return c


def main():
    write_ico('TabSystem.ico', [system_icon(16), system_icon(32)])
    write_ico('TabAutoBackup.ico', [auto_icon(16), auto_icon(32)])
    write_ico('TabSchedule.ico', [schedule_icon(16), schedule_icon(32)])
    write_ico('TabBackup.ico', [arrow_icon(16, False), arrow_icon(32, False)])
    write_ico('TabRestore.ico', [arrow_icon(16, True), arrow_icon(32, True)])


if __name__ == '__main__':
    main()
