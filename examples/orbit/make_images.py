#!/usr/bin/env python3
"""Draws the pictures of the Orbit Garden example and writes them as PNG.

The PNGs are checked in; this script is how they were made (run it from any
folder to make them again). Only the standard library is used.
"""
import math
import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "Orbit", "img")


def write_png(path, width, height, pixels, alpha):
    """pixels: list of rows, each a list of (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a) if alpha else (r, g, b))

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    color_type = 6 if alpha else 2
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def clamp(v):
    return max(0, min(255, int(round(v))))


def background(w=640, h=360):
    rnd = random.Random(7)
    rows = []
    for y in range(h):
        t = y / (h - 1)
        base = (int(8 + 18 * t), int(10 + 10 * t), int(40 - 10 * t))
        rows.append([base + (255,) for _ in range(w)])
    for _ in range(260):
        x, y = rnd.randrange(w), rnd.randrange(h)
        v = rnd.randrange(120, 256)
        rows[y][x] = (v, v, min(255, v + 20), 255)
    return rows


def sphere(size, colour, light=(-0.4, -0.5), stripes=0, glow=False):
    rows = []
    c = (size - 1) / 2
    r0 = size / 2 - 0.5
    for y in range(size):
        row = []
        for x in range(size):
            dx, dy = (x - c) / r0, (y - c) / r0
            d = math.hypot(dx, dy)
            if glow:
                a = max(0.0, 1.0 - d) ** 1.6
                core = max(0.0, 1.0 - d * 2.2)
                rgb = [colour[i] * (0.7 + 0.3 * core) + 255 * core * 0.6 for i in range(3)]
                row.append((clamp(rgb[0]), clamp(rgb[1]), clamp(rgb[2]), clamp(255 * a)))
                continue
            if d > 1.0:
                row.append((0, 0, 0, 0))
                continue
            edge = clamp(255 * min(1.0, (1.0 - d) * r0))  # soft rim
            nz = math.sqrt(max(0.0, 1 - d * d))
            shade = max(0.15, -(dx * light[0] + dy * light[1]) * 0.6 + nz * 0.7)
            band = 1.0
            if stripes and int((dy + 1) * stripes) % 2:
                band = 0.8
            rgb = [colour[i] * shade * band for i in range(3)]
            row.append((clamp(rgb[0]), clamp(rgb[1]), clamp(rgb[2]), edge))
        rows.append(row)
    return rows


# A 5x7 capital font for the title.
FONT = {
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    " ": ["00000"] * 7,
}


def title(text="ORBIT GARDEN", scale=6):
    w = (len(text) * 6 - 1) * scale + 8
    h = 7 * scale + 8
    ink = [[0] * w for _ in range(h)]
    for i, ch in enumerate(text):
        for gy, line in enumerate(FONT[ch]):
            for gx, bit in enumerate(line):
                if bit == "1":
                    for yy in range(scale):
                        for xx in range(scale):
                            ink[4 + gy * scale + yy][4 + (i * 6 + gx) * scale + xx] = 1
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            if ink[y][x]:
                t = y / h
                row.append((255, clamp(200 + 40 * t), clamp(90 + 80 * t), 255))
            else:
                near = any(ink[yy][xx] for yy in range(max(0, y - 3), min(h, y + 4))
                           for xx in range(max(0, x - 3), min(w, x + 4)))
                row.append((40, 20, 80, 200) if near else (0, 0, 0, 0))
        rows.append(row)
    return rows, w, h


def cursor(size=24):
    rows = []
    c = size // 2
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - c, y - c)
            on = abs(d - 8) < 1.2 or ((x == c or y == c) and d < 11 and d > 3)
            row.append((255, 255, 255, 230) if on else (0, 0, 0, 0))
        rows.append(row)
    return rows


def main():
    os.makedirs(OUT, exist_ok=True)
    write_png(os.path.join(OUT, "bg.png"), 640, 360, background(), alpha=False)
    write_png(os.path.join(OUT, "sun.png"), 128, 128, sphere(128, (255, 190, 60), glow=True), alpha=True)
    write_png(os.path.join(OUT, "planet1.png"), 40, 40, sphere(40, (90, 160, 255), stripes=5), alpha=True)
    write_png(os.path.join(OUT, "planet2.png"), 28, 28, sphere(28, (230, 110, 80)), alpha=True)
    write_png(os.path.join(OUT, "planet3.png"), 52, 52, sphere(52, (120, 220, 140), stripes=7), alpha=True)
    write_png(os.path.join(OUT, "moon.png"), 14, 14, sphere(14, (200, 200, 210)), alpha=True)
    rows, w, h = title()
    write_png(os.path.join(OUT, "title.png"), w, h, rows, alpha=True)
    write_png(os.path.join(OUT, "cursor.png"), 24, 24, cursor(), alpha=True)


if __name__ == "__main__":
    main()
