#!/usr/bin/env python3
"""Draws the window's pictures and writes them as PNG files beside this script.

Standard library only (zlib and struct), so the pictures can be made again anywhere:
    python3 make_pictures.py
The files are committed; the build only packs them into the resources.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write_png(name, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type None
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(png)


def coverage(inside, x, y, samples=4):
    """Share of a pixel covered by a shape, by supersampling: smooth edges."""
    hits = 0
    for i in range(samples):
        for j in range(samples):
            if inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def mix(a, b, t):
    return tuple(round(a[k] + (b[k] - a[k]) * t) for k in range(3))


def lamp(name, base):
    """A 16 x 16 round lamp: a dark rim, the colour lit from the top left, a highlight."""
    size, cx, cy, radius = 16, 8.0, 8.0, 7.0
    rim = mix(base, (0, 0, 0), 0.45)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            a = coverage(lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2, x, y)
            if a == 0:
                row.append((0, 0, 0, 0))
                continue
            px, py = x + 0.5, y + 0.5
            d = math.hypot(px - cx, py - cy)
            light = math.hypot(px - 5.5, py - 5.5) / 10.0  # 0 at the highlight, about 1 at the far edge
            colour = mix(mix(base, (255, 255, 255), 0.55), mix(base, (0, 0, 0), 0.25), min(light, 1.0))
            if d > radius - 1.2:
                colour = rim
            row.append(colour + (round(255 * a),))
        rows.append(row)
    write_png(name, size, size, rows)


# A 5 x 7 pixel font for the letters of the wordmark.
GLYPHS = {
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "r": ["00000", "00000", "10110", "11001", "10000", "10000", "10000"],
    "v": ["00000", "00000", "10001", "10001", "10001", "01010", "00100"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01111"],
    "l": ["01100", "00100", "00100", "00100", "00100", "00100", "01110"],
}


def logo():
    """111 x 26 on white: the wordmark "Orvel" in dark blue with a red bar before it."""
    width, height, scale = 111, 26, 3
    white, blue, red = (255, 255, 255), (24, 52, 110), (200, 40, 40)
    pixels = [[white + (255,) for _ in range(width)] for _ in range(height)]
    for y in range(4, 22):
        for x in range(6, 10):
            pixels[y][x] = red + (255,)
    x0, y0 = 16, 2
    for letter in "Orvel":
        for gy, line in enumerate(GLYPHS[letter]):
            for gx, bit in enumerate(line):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels[y0 + gy * scale + dy][x0 + gx * scale + dx] = blue + (255,)
        x0 += 6 * scale
    write_png("logo.png", width, height, pixels)


def module_picture(name, size):
    """size x size: a controller module seen from the front, with its status lamps.
    Drawn on a 96-unit grid scaled to the size, so every size shows the same module."""
    unit = 96 / size
    body, edge, plate = (70, 90, 120), (40, 52, 72), (220, 226, 234)
    lamps = [(60, 200, 70), (230, 190, 40), (210, 50, 50)]

    def rounded(px, py, x0, y0, x1, y1, r):
        cx = min(max(px, x0 + r), x1 - r)
        cy = min(max(py, y0 + r), y1 - r)
        return (px - cx) ** 2 + (py - cy) ** 2 <= r * r

    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            a = coverage(lambda px, py: rounded(px * unit, py * unit, 10, 6, 86, 90, 8), x, y)
            if a == 0:
                row.append((0, 0, 0, 0))
                continue
            px, py = (x + 0.5) * unit, (y + 0.5) * unit
            colour = body
            if not rounded(px, py, 12, 8, 84, 88, 7):
                colour = edge
            elif rounded(px, py, 20, 16, 76, 44, 3):
                colour = plate
            else:
                for i, lamp_colour in enumerate(lamps):
                    if (px - (30 + 18 * i)) ** 2 + (py - 60) ** 2 <= 25:
                        colour = lamp_colour
                if 20 <= px <= 76 and 74 <= py <= 80 and int(px) % 6 < 4:
                    colour = edge  # terminal row
            row.append(colour + (round(255 * a),))
        rows.append(row)
    write_png(name, size, size, rows)


if __name__ == "__main__":
    lamp("red.png", (220, 30, 30))
    lamp("green.png", (30, 180, 50))
    lamp("yellow.png", (240, 200, 20))
    lamp("grey.png", (150, 150, 150))
    logo()
    module_picture("about.png", 96)  # the About box
    # The application icon of the desktop's menus, installed into the hicolor theme.
    module_picture("orvelbinloader-48.png", 48)
    module_picture("orvelbinloader-256.png", 256)
