#!/usr/bin/env python3
"""Generates Drivemark's icons into this folder. The .ico files are committed, so the build does
not need Python; run this after changing a picture.

  drivemark.ico  resource 107: program and tray icon (a USB stick over an eject sign)
  usb_device.ico resource 108: tree picture of a USB device
  disk.ico       resource 109: tree picture of a disk
  device.ico     resource 132: tree picture of any other device
  removal.ico    resource 128: picture of the removal dialog
  warning.ico    resource 32515: picture of the unsafe-removal notice
  media.ico      drive badge while the disk holds media (an ICONFILE)
  nomedia.ico    drive badge while the disk is empty (a NOMEDIAICONFILE)
  default.ico    the neutral picture the badge code primes a drive's icon slot with
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "fwupdate", "icons"))
from icon_art import (BLACK, BLUE, GREEN, GREY, LIME, NAVY, OLIVE, SILVER, TEAL,  # noqa: E402
                      WHITE, YELLOW, write_ico)


def stick(c, top, body, label, label_lines):
    """A USB stick lying flat, connector to the left, 14 units high from `top`."""
    c.rect(2, top + 3, 10, top + 11, SILVER)
    c.rect(4, top + 5, 6, top + 7, GREY)
    c.rect(4, top + 8, 6, top + 10, GREY)
    c.round_rect(9, top, 30, top + 14, 2, body)
    c.rect(14, top + 3, 26, top + 11, label)
    if label_lines:
        c.rect(16, top + 5, 24, top + 6, NAVY)
        c.rect(16, top + 8, 22, top + 9, NAVY)


def usb_device(c):
    stick(c, 8, BLUE, WHITE, True)


def tray(c):
    stick(c, 1, BLUE, WHITE, True)
    # Eject sign: a triangle over a bar, lower right.
    c.polygon([(12, 27), (32, 27), (22, 17)], GREEN)
    c.polygon([(15, 26), (29, 26), (22, 19)], LIME)
    c.rect(12, 28, 32, 32, GREEN)
    c.rect(14, 29, 30, 31, LIME)


def disk(c):
    c.round_rect(2, 9, 30, 25, 2, GREY)
    c.round_rect(3, 10, 29, 22, 2, SILVER)
    c.rect(6, 14, 20, 16, GREY)
    c.rect(24, 17, 27, 20, GREEN)


def device(c):
    c.rect(4, 7, 28, 25, TEAL)
    c.rect(10, 11, 22, 21, BLACK)
    for x in range(6, 27, 4):
        c.rect(x, 25, x + 2, 29, OLIVE)


def warning(c):
    c.polygon([(16, 1), (31, 29), (1, 29)], BLACK)
    c.polygon([(16, 5), (28, 27), (4, 27)], YELLOW)
    c.polygon([(14, 11), (18, 11), (17, 20), (15, 20)], BLACK)
    c.rect(14, 22, 18, 25, BLACK)


def media(c):
    stick(c, 8, BLUE, WHITE, True)


def nomedia(c):
    stick(c, 8, GREY, SILVER, False)


def default(c):
    c.round_rect(2, 11, 30, 23, 2, GREY)
    c.round_rect(3, 12, 29, 21, 2, SILVER)
    c.rect(6, 15, 26, 17, GREY)


PICTURES = {
    "drivemark.ico": tray,
    "usb_device.ico": usb_device,
    "disk.ico": disk,
    "device.ico": device,
    "removal.ico": tray,
    "warning.ico": warning,
    "media.ico": media,
    "nomedia.ico": nomedia,
    "default.ico": default,
}


def main():
    for name, draw in PICTURES.items():
        write_ico(os.path.join(here, name), draw)
        print(name)


if __name__ == "__main__":
    main()
