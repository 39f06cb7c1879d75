#!/usr/bin/env python3
"""Generates FwUpdate's icon (resource 128): a flash chip taking in a green arrow.

Run from anywhere; writes fwupdate/win32/fwupdate.ico. The .ico is committed, so the build
does not need Python.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from icon_art import BLACK, GREEN, GREY, LIME, SILVER, write_ico  # noqa: E402


def flash_chip_with_arrow(c):
    # Pins, then the body over their inner ends.
    for y in (16, 20, 24):
        c.rect(2, y, 30, y + 2, GREY)
    c.round_rect(6, 12, 26, 30, 2, BLACK)
    c.ellipse(11, 25, 2, 2, SILVER)
    # The arrow: dark rim, bright fill.
    c.polygon([(11, 0), (21, 0), (21, 8), (27, 8), (16, 20), (5, 8), (11, 8)], GREEN)
    c.polygon([(13, 2), (19, 2), (19, 10), (23, 10), (16, 17), (9, 10), (13, 10)], LIME)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "..", "win32", "fwupdate.ico")
    write_ico(out, flash_chip_with_arrow)
    print(os.path.normpath(out))


if __name__ == "__main__":
    main()
