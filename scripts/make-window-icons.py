#!/usr/bin/env python3
"""Draws the window's fallback tool-bar icons (24 x 24 PNG) and its program
icon (32 x 32) into src/app/qt/icons. The window prefers the desktop theme's
icons and uses these where the theme has none. Run it again after changing a
drawing; the PNG files are kept in the repository."""
import math
import os
import struct
import sys
import zlib


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def dot(self, x, y, rgba):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = rgba

    def rect(self, x0, y0, x1, y1, rgba):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.dot(x, y, rgba)

    def disc(self, cx, cy, r, rgba):
        for y in range(self.size):
            for x in range(self.size):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.dot(x, y, rgba)

    def line(self, x0, y0, x1, y1, width, rgba):
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 4) + 1
        for i in range(steps + 1):
            t = i / steps
            self.disc(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, width / 2, rgba)

    def png(self):
        raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in self.px)
        def chunk(tag, data):
            c = struct.pack(">I", len(data)) + tag + data
            return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
        head = struct.pack(">IIBBBBB", self.size, self.size, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


GREY = (70, 70, 80, 255)
BLUE = (40, 90, 180, 255)
GREEN = (30, 150, 60, 255)
RED = (200, 30, 30, 255)
WHITE = (250, 250, 250, 255)
SHEET = (60, 140, 70, 255)


def configure():
    c = Canvas(24)
    for i, knob in enumerate((7, 15, 10)):
        y = 5 + i * 7
        c.rect(3, y, 20, y + 1, GREY)
        c.rect(knob - 2, y - 2, knob + 2, y + 3, BLUE)
    return c


def connect():
    c = Canvas(24)
    c.line(4, 20, 10, 14, 3, GREY)
    c.rect(9, 8, 15, 14, BLUE)
    c.line(12, 8, 16, 4, 2, GREY)
    c.line(15, 11, 19, 7, 2, GREY)
    return c


def migrate():
    c = Canvas(24)
    c.rect(2, 4, 9, 19, BLUE)
    c.rect(16, 4, 22, 19, SHEET)
    for y in (8, 12, 16):
        c.rect(16, y, 22, y, WHITE)
    c.line(7, 12, 16, 12, 3, GREEN)
    c.line(12, 8, 16, 12, 3, GREEN)
    c.line(12, 16, 16, 12, 3, GREEN)
    return c


def delete():
    c = Canvas(24)
    c.line(5, 5, 19, 19, 4, RED)
    c.line(19, 5, 5, 19, 4, RED)
    return c


def backup():
    c = Canvas(24)
    c.rect(3, 3, 20, 20, BLUE)
    c.rect(7, 3, 16, 9, WHITE)
    c.rect(13, 4, 15, 8, BLUE)
    c.rect(6, 13, 17, 20, WHITE)
    c.rect(8, 15, 15, 15, GREY)
    c.rect(8, 17, 15, 17, GREY)
    return c


def program():
    c = Canvas(32)
    c.rect(2, 6, 13, 26, BLUE)
    c.rect(2, 6, 13, 8, (90, 140, 220, 255))
    c.rect(19, 6, 30, 26, SHEET)
    for y in (11, 16, 21):
        c.rect(19, y, 30, y, WHITE)
    c.rect(24, 6, 24, 26, WHITE)
    c.line(9, 16, 21, 16, 3, GREEN)
    c.line(16, 11, 21, 16, 3, GREEN)
    c.line(16, 21, 21, 16, 3, GREEN)
    return c


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "src", "app", "qt", "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw in (("configure", configure), ("connect", connect), ("migrate", migrate),
                       ("delete", delete), ("backup", backup), ("migrator", program)):
        with open(os.path.join(out, name + ".png"), "wb") as f:
            f.write(draw().png())
    return 0


if __name__ == "__main__":
    sys.exit(main())
