#!/usr/bin/env python3
"""Draws the System page's button pictures (16 x 16 and 32 x 32) with the shapes of make_images.py and writes them
as .ico files beside this script: the enclosure's one-touch button, Manage Secure Disk, the file filter and
Initialize Disk Drive."""
from make_images import BLUE, LIGHT, WHITE, YELLOW, Canvas, arc, write_ico

DARK = (60, 64, 72, 255)
STEEL = (150, 156, 166, 255)
GREEN = (40, 150, 70, 255)
ORANGE = (220, 130, 30, 255)


def enclosure(c, s, top):
    """The enclosure seen from the front: a dark case with a slot and a small lamp."""
    c.round_rect(2 * s, top * s, 30 * s, 30 * s, 3 * s, DARK)
    c.round_rect(5 * s, (top + 3) * s, 19 * s, (top + 5) * s, 1 * s, STEEL)
    c.circle(25 * s, (top + 4) * s, 1.6 * s, GREEN)


def one_touch_icon(size):
    """The enclosure with its big round button pressed by a finger's tip, the pressing shown by two arcs."""
    c = Canvas(size, size)
    s = size / 32.0
    enclosure(c, s, 17)
    c.circle(16 * s, 11 * s, 8 * s, BLUE)
    c.circle(16 * s, 11 * s, 5.5 * s, LIGHT)
    c.ring(16 * s, 11 * s, 8 * s, max(1.4 * s, 1), WHITE)
    if size >= 32:
        c.stroke([arc(16, 11, 11.5, 11.5, 200, 245, 6), arc(16, 11, 11.5, 11.5, 295, 340, 6)], 1.6 * s, BLUE)
    return c


def secure_disk_icon(size):
    """The enclosure with a padlock in front of it."""
    c = Canvas(size, size)
    s = size / 32.0
    enclosure(c, s, 12)
    shackle = [(11, 15)] + arc(16, 10, 5, 6, 180, 360, 12) + [(21, 15)]
    c.stroke([[(x * s, y * s) for x, y in shackle]], max(2.6 * s, 2), STEEL)
    c.round_rect(8 * s, 14 * s, 24 * s, 27 * s, 2 * s, YELLOW)
    c.circle(16 * s, 19.5 * s, 2 * s, DARK)
    c.polygon([(15 * s, 20 * s), (17 * s, 20 * s), (17.6 * s, 24.5 * s), (14.4 * s, 24.5 * s)], DARK)
    return c


def filter_icon(size):
    """A funnel that holds back a file (the file shows where there is room for it)."""
    c = Canvas(size, size)
    s = size / 32.0
    c.polygon([(3 * s, 3 * s), (29 * s, 3 * s), (19 * s, 15 * s), (19 * s, 27 * s), (13 * s, 30 * s), (13 * s, 15 * s)],
              BLUE)
    c.polygon([(7 * s, 5 * s), (25 * s, 5 * s), (18 * s, 13 * s), (14 * s, 13 * s)], LIGHT)
    if size < 32:
        return c
    c.round_rect(22 * s, 19 * s, 31 * s, 30 * s, 1 * s, WHITE)
    c.round_rect(23 * s, 20 * s, 30 * s, 29 * s, 1 * s, ORANGE)
    c.stroke([[(24 * s, 21 * s), (29 * s, 28 * s)], [(29 * s, 21 * s), (24 * s, 28 * s)]], 1.6 * s, WHITE)
    return c


def initialize_icon(size):
    """A disk cut into its two parts, the public one blue and the secure one orange, with a tick that it is ready."""
    c = Canvas(size, size)
    s = size / 32.0
    c.round_rect(2 * s, 8 * s, 30 * s, 26 * s, 3 * s, DARK)
    c.round_rect(5 * s, 11 * s, 17 * s, 18 * s, 1 * s, BLUE)
    c.round_rect(18 * s, 11 * s, 27 * s, 18 * s, 1 * s, ORANGE)
    c.round_rect(5 * s, 21 * s, 27 * s, 23 * s, 1 * s, STEEL)
    c.circle(25 * s, 7 * s, 6.5 * s, GREEN)
    c.stroke([[(21.5 * s, 7 * s), (24 * s, 9.5 * s), (28.5 * s, 4.5 * s)]], 1.8 * s, WHITE)
    return c


def main():
    write_ico('SysOneTouch.ico', [one_touch_icon(16), one_touch_icon(32)])
    write_ico('SysSecureDisk.ico', [secure_disk_icon(16), secure_disk_icon(32)])
    write_ico('SysFilter.ico', [filter_icon(16), filter_icon(32)])
    write_ico('SysInitialize.ico', [initialize_icon(16), initialize_icon(32)])


if __name__ == '__main__':
    main()
