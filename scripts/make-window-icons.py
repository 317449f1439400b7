#!/usr/bin/env python3
"""Draws the window's fallback tool-bar icons (24 x 24 PNG) and its program
icon (32 x 32) into src/app/qt/icons. The window prefers the desktop theme's
icons and uses these where the theme has none. The program icon also goes into
data/icons/hicolor for the desktop's menus: the same drawing as an SVG file
and as PNG files of every size the desktop asks for. Run it again after
changing a drawing; the PNG and SVG files are kept in the repository."""
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

    def blend(self, x, y, rgba, coverage):
        """Paints rgba over the pixel with the given share (0..1) of its area."""
        below = self.px[y][x]
        a = rgba[3] / 255 * coverage
        out_a = a + below[3] / 255 * (1 - a)
        if out_a <= 0:
            return
        rgb = tuple(round((rgba[i] * a + below[i] * below[3] / 255 * (1 - a)) / out_a)
                    for i in range(3))
        self.px[y][x] = rgb + (round(out_a * 255),)

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
# The desktop's name for the program: its menu entry, metadata and icon.
APP_ID = "com.orvane.Migrator"


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


# The program icon on a 32-unit grid: a database (blue, lighter top) and a
# sheet (green, white grid) with the arrow from one to the other. A rect
# covers the cells x0..x1, y0..y1; a line is a stroke with round ends between
# two points of the grid.
PROGRAM_ICON = (
    ("rect", (2, 6, 13, 26), BLUE),
    ("rect", (2, 6, 13, 8), (90, 140, 220, 255)),
    ("rect", (19, 6, 30, 26), SHEET),
    ("rect", (19, 11, 30, 11), WHITE),
    ("rect", (19, 16, 30, 16), WHITE),
    ("rect", (19, 21, 30, 21), WHITE),
    ("rect", (24, 6, 24, 26), WHITE),
    ("line", (9, 16, 21, 16, 3), GREEN),
    ("line", (16, 11, 21, 16, 3), GREEN),
    ("line", (16, 21, 21, 16, 3), GREEN),
)
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def program():
    c = Canvas(32)
    for kind, geometry, rgba in PROGRAM_ICON:
        if kind == "rect":
            c.rect(*geometry, rgba)
        else:
            c.line(*geometry, rgba)
    return c


def program_scaled(size, samples=4):
    """The program icon at size x size pixels: rects snapped to whole pixels
    (at least one wide), strokes smoothed by samples x samples points a pixel."""
    scale = size / 32
    c = Canvas(size)
    for kind, geometry, rgba in PROGRAM_ICON:
        if kind == "rect":
            x0, y0, x1, y1 = geometry
            left, top = round(x0 * scale), round(y0 * scale)
            right = max(left + 1, round((x1 + 1) * scale))
            bottom = max(top + 1, round((y1 + 1) * scale))
            c.rect(left, top, right - 1, bottom - 1, rgba)
            continue
        x0, y0, x1, y1, width = (v * scale for v in geometry)
        r = width / 2
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy
        for py in range(max(0, int(min(y0, y1) - r)), min(size, int(max(y0, y1) + r) + 1)):
            for px in range(max(0, int(min(x0, x1) - r)), min(size, int(max(x0, x1) + r) + 1)):
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        x = px + (sx + 0.5) / samples
                        y = py + (sy + 0.5) / samples
                        t = ((x - x0) * dx + (y - y0) * dy) / length2 if length2 else 0
                        t = min(1.0, max(0.0, t))
                        ex, ey = x - (x0 + t * dx), y - (y0 + t * dy)
                        hits += ex * ex + ey * ey <= r * r
                if hits:
                    c.blend(px, py, rgba, hits / (samples * samples))
    return c


def program_svg():
    def colour(rgba):
        return "#%02x%02x%02x" % rgba[:3]
    parts = []
    for kind, geometry, rgba in PROGRAM_ICON:
        if kind == "rect":
            x0, y0, x1, y1 = geometry
            parts.append(f'  <rect x="{x0}" y="{y0}" width="{x1 - x0 + 1}" height="{y1 - y0 + 1}" '
                         f'fill="{colour(rgba)}"/>')
        else:
            x0, y0, x1, y1, width = geometry
            parts.append(f'  <line x1="{x0}" y1="{y0}" x2="{x1}" y2="{y1}" stroke="{colour(rgba)}" '
                         f'stroke-width="{width}" stroke-linecap="round"/>')
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n'
            + "\n".join(parts) + "\n</svg>\n")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "src", "app", "qt", "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw in (("configure", configure), ("connect", connect), ("migrate", migrate),
                       ("delete", delete), ("backup", backup), ("migrator", program)):
        with open(os.path.join(out, name + ".png"), "wb") as f:
            f.write(draw().png())
    theme = os.path.join(root, "data", "icons", "hicolor")
    for size in THEME_SIZES:
        apps = os.path.join(theme, f"{size}x{size}", "apps")
        os.makedirs(apps, exist_ok=True)
        with open(os.path.join(apps, APP_ID + ".png"), "wb") as f:
            f.write(program_scaled(size).png())
    apps = os.path.join(theme, "scalable", "apps")
    os.makedirs(apps, exist_ok=True)
    with open(os.path.join(apps, APP_ID + ".svg"), "w", encoding="utf-8") as f:
        f.write(program_svg())
    return 0


if __name__ == "__main__":
    sys.exit(main())
