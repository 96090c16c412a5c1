#!/usr/bin/env python3
"""Builds Firefly Night as a release folder: generated pictures, sounds,
music and the lantern model packed into directory archives by talven.

    python3 examples/firefly/make_release.py TALVEN OUT [--loose]

OUT receives Firefly.cfg, Firefly.bin (the scripts) and data.bin (images,
sounds, music, model). With --loose the scripts and data also lie unpacked
beside the archives and the configuration reads loose files first
(FileSystem=3), for changing the game between runs without packing. Only
the standard library is used.
"""
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 1280, 720
POND_TOP = 560
RATE = 22050


# ---- pictures ---------------------------------------------------------------

def write_png(path, width, height, rows):
    """rows: list of bytearrays of RGBA bytes (width * 4 each)."""
    raw = bytearray()
    for row in rows:
        raw.append(0)
        raw += row

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 6))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def clamp(v):
    return max(0, min(255, int(v)))


def canvas(w, h, colour=(0, 0, 0, 0)):
    return [bytearray(bytes(colour) * w) for _ in range(h)]


def put(rows, x, y, c):
    if 0 <= y < len(rows) and 0 <= x < len(rows[0]) // 4:
        rows[y][x * 4:x * 4 + 4] = bytes(c)


def blend(rows, x, y, c, a):
    """Mixes colour c into an opaque pixel with weight a (0..1)."""
    if not (0 <= y < len(rows) and 0 <= x < len(rows[0]) // 4) or a <= 0:
        return
    i = x * 4
    p = rows[y]
    for k in range(3):
        p[i + k] = clamp(p[i + k] * (1 - a) + c[k] * a)


def background():
    rnd = random.Random(11)
    rows = []
    for y in range(H):
        t = y / (POND_TOP - 1) if y < POND_TOP else 1.0
        sky = (clamp(10 + 40 * t), clamp(12 + 22 * t), clamp(40 + 40 * t), 255)
        rows.append(bytearray(bytes(sky) * W))
    for _ in range(420):  # stars
        x, y = rnd.randrange(W), rnd.randrange(POND_TOP - 120)
        v = rnd.randrange(110, 256)
        put(rows, x, y, (v, v, min(255, v + 25), 255))
    mx, my, mr = 1040, 110, 46  # the moon and its halo
    for y in range(my - 140, my + 140):
        for x in range(mx - 140, mx + 140):
            d = math.hypot(x - mx, y - my)
            if d < mr:
                blend(rows, x, y, (250, 244, 214), 1.0)
            elif d < 140:
                blend(rows, x, y, (120, 130, 170), 0.35 * (1 - (d - mr) / (140 - mr)) ** 2)
    for x in range(W):  # two ranges of hills
        far = int(400 + 40 * math.sin(x / 170.0) + 18 * math.sin(x / 53.0 + 1))
        near = int(470 + 30 * math.sin(x / 120.0 + 2) + 12 * math.sin(x / 31.0))
        for y in range(far, POND_TOP):
            put(rows, x, y, (20, 34, 48, 255))
        for y in range(near, POND_TOP):
            put(rows, x, y, (12, 30, 26, 255))
    for _ in range(90):  # reeds on the bank
        x = rnd.randrange(W)
        top = POND_TOP - rnd.randrange(30, 110)
        lean = rnd.uniform(-0.25, 0.25)
        for y in range(top, POND_TOP + 6):
            put(rows, int(x + (y - top) * lean), y, (8, 22, 14, 255))
    for y in range(POND_TOP, H):  # the pond mirrors the bank and the sky
        t = (y - POND_TOP) / (H - POND_TOP)
        src = rows[max(0, POND_TOP - 1 - int((y - POND_TOP) * 1.6))]
        water = (14 + 10 * t, 26 + 16 * t, 58 + 20 * t)
        row = bytearray(W * 4)
        for x in range(W):
            i = x * 4
            row[i:i + 4] = bytes((clamp(water[0] * 0.5 + src[i] * 0.5), clamp(water[1] * 0.5 + src[i + 1] * 0.5),
                                  clamp(water[2] * 0.5 + src[i + 2] * 0.5), 255))
        rows[y] = row
        half = int(50 - 30 * t)
        for x in range(mx - half, mx + half):
            if (y // 3 + x // 17) % 3:
                blend(rows, x, y, (230, 226, 190), 0.45 * (1 - t))
    return rows


def firefly(size=48):
    rows = canvas(size, size)
    c = (size - 1) / 2
    for y in range(size):
        for x in range(size):
            d = math.hypot(x - c, y - c) / (size / 2)
            if d >= 1:
                continue
            core = max(0.0, 1 - d * 4)
            a = (1 - d) ** 2.2
            put(rows, x, y, (clamp(200 + 55 * core), 255, clamp(90 + 165 * core), clamp(255 * a)))
    return rows


def jar(w=96, h=112):
    rows = canvas(w, h)
    for y in range(h):
        for x in range(w):
            if y < 14:  # the lid
                if 10 <= x < w - 10:
                    put(rows, x, y, (140, 90, 50, 255) if y % 5 else (100, 60, 34, 255))
                continue
            body = 6 if y > 26 else 18 - (y - 14)  # a neck, then the body
            if x < body or x >= w - body or y >= h - 2:
                continue
            edge = min(x - body, w - body - 1 - x, h - 3 - y)
            if edge < 3:
                put(rows, x, y, (200, 230, 240, 230))
            else:
                shine = 90 if body + 10 < x < body + 16 else 0
                put(rows, x, y, (150 + shine, 200, 220, 60 + shine))
    return rows


def wasp(w=72, h=56):
    rows = canvas(w, h)
    for y in range(h):
        for x in range(w):
            bx, by = (x - 40) / 26.0, (y - 32) / 13.0
            if bx * bx + by * by < 1:
                stripe = (x // 7) % 2
                put(rows, x, y, (240, 200, 30, 255) if stripe else (30, 24, 16, 255))
                continue
            hx, hy = (x - 12) / 10.0, (y - 30) / 9.0
            if hx * hx + hy * hy < 1:
                put(rows, x, y, (40, 30, 20, 255))
                continue
            for wx in (30, 48):  # wings
                ux, uy = (x - wx) / 12.0, (y - 12) / 11.0
                if ux * ux + uy * uy < 1:
                    put(rows, x, y, (210, 230, 255, 120))
    return rows


def bar(w=560, h=64):
    rows = canvas(w, h)
    r = 24
    for y in range(h):
        for x in range(w):
            dx = max(r - x, x - (w - 1 - r), 0)
            dy = max(r - y, y - (h - 1 - r), 0)
            d = math.hypot(dx, dy)
            if d < r:
                a = min(1.0, (r - d) / 3.0)
                glow = 1 - abs(y - h / 2) / (h / 2)
                put(rows, x, y, (255, clamp(200 + 40 * glow), 110, clamp(a * (70 + 90 * glow))))
    return rows


def paper(size=64):
    rows = canvas(size, size)
    for y in range(size):
        for x in range(size):
            rib = 1 if x % 16 < 2 or y % 21 < 2 else 0
            v = 0.8 + 0.2 * math.sin(y / 3.0)
            c = (70, 30, 20) if rib else (clamp(250 * v), clamp(170 * v), clamp(90 * v))
            put(rows, x, y, c + (255,))
    return rows


# ---- sounds -----------------------------------------------------------------

def write_wav(path, samples):
    data = b"".join(struct.pack("<h", max(-32767, min(32767, int(s)))) for s in samples)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16))
        f.write(b"data" + struct.pack("<I", len(data)) + data)


def tone(seconds, freq, amp, decay):
    out = []
    phase = 0.0
    n = int(seconds * RATE)
    for i in range(n):
        t = i / RATE
        phase += 2 * math.pi * freq(t) / RATE
        out.append(amp * math.sin(phase) * math.exp(-t * decay) * min(1.0, i / 40.0))
    return out


def select_sound():
    return tone(0.08, lambda t: 1200.0, 14000, 30)


def catch_sound():
    a = tone(0.22, lambda t: 900 + 7000 * t, 13000, 12)
    b = tone(0.22, lambda t: 1800 + 14000 * t, 4000, 16)
    return [x + y for x, y in zip(a, b)]


def buzz_sound():
    out = []
    n = int(0.35 * RATE)
    phase = 0.0
    for i in range(n):
        t = i / RATE
        phase += (170 + 25 * math.sin(2 * math.pi * 30 * t)) / RATE
        saw = 2 * (phase % 1.0) - 1
        out.append(9000 * saw * min(1.0, (0.35 - t) * 20))
    return out


def night_sound(seconds=8):
    rnd = random.Random(5)
    n = seconds * RATE
    out = [0.0] * n
    low = 0.0
    for i in range(n):  # a soft wind: low-passed noise
        low += (rnd.uniform(-1, 1) - low) * 0.02
        out[i] = low * 3000
    for start in range(0, n - RATE // 4, RATE // 3):  # cricket chirps
        if rnd.random() < 0.6:
            continue
        f = rnd.choice((4200, 4700))
        for k in range(3):
            s0 = start + k * RATE // 20
            for j in range(RATE // 40):
                t = j / RATE
                out[s0 + j] += 2500 * math.sin(2 * math.pi * f * t) * math.sin(math.pi * j / (RATE // 40))
    edge = RATE // 10  # fade the loop's seam
    for i in range(edge):
        g = i / edge
        out[i] *= g
        out[n - 1 - i] *= g
    return out


# ---- music ------------------------------------------------------------------

def var_len(n):
    b = [n & 0x7F]
    n >>= 7
    while n:
        b.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(b)


def track(events):
    """events: list of (tick, bytes), absolute ticks; returns an MTrk chunk."""
    data = bytearray()
    last = 0
    for tick, ev in sorted(events, key=lambda e: e[0]):
        data += var_len(tick - last) + ev
        last = tick
    data += b"\x00\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data


def music():
    tpq = 240
    scale = [0, 2, 4, 7, 9, 12, 14, 16]
    rnd = random.Random(3)
    tempo = [(0, b"\xff\x51\x03" + struct.pack(">I", 750000)[1:])]  # 80 bpm
    tempo.append((0, b"\xff\x03\x0bFirefly Sky"))
    melody = [(0, b"\xc0\x0a"), (0, b"\xb0\x07\x64")]  # music box
    bass = [(0, b"\xc1\x58"), (0, b"\xb1\x07\x50")]  # soft pad
    chords = [57, 53, 48, 55]
    tick = 0
    for bar_no in range(16):
        root = chords[bar_no % 4]
        bass.append((tick, bytes((0x91, root - 12, 70))))
        bass.append((tick + tpq * 4 - 10, bytes((0x81, root - 12, 0))))
        for beat in range(8):
            if rnd.random() < 0.25:
                continue
            note = 72 + scale[rnd.randrange(len(scale))] - (0 if bar_no % 2 else 5)
            t = tick + beat * tpq // 2
            melody.append((t, bytes((0x90, note, 60 + rnd.randrange(30)))))
            melody.append((t + tpq // 2 - 5, bytes((0x80, note, 0))))
        tick += tpq * 4
    head = b"MThd" + struct.pack(">IHHH", 6, 1, 3, tpq)
    return head + track(tempo) + track(melody) + track(bass)


# ---- the lantern model ------------------------------------------------------

def lantern_obj(path, sides=10, rings=7):
    lines = ["# a paper lantern: a bulging barrel with a cap top and bottom"]
    verts = []
    for i in range(rings + 1):
        t = i / rings
        y = 0.8 - 1.6 * t
        r = 0.45 + 0.35 * math.sin(math.pi * t)
        for j in range(sides):
            a = 2 * math.pi * j / sides
            verts.append((r * math.cos(a), y, r * math.sin(a)))
    verts.append((0.0, 0.95, 0.0))   # top of the cap
    verts.append((0.0, -0.95, 0.0))  # bottom of the cap
    for v in verts:
        lines.append("v %.5f %.5f %.5f" % v)
    for i in range(rings + 1):
        for j in range(sides + 1):
            lines.append("vt %.5f %.5f" % (j / sides, i / rings))
    top, bottom = len(verts) - 1, len(verts)

    def v(i, j):
        return i * sides + (j % sides) + 1

    def t(i, j):
        return i * (sides + 1) + j + 1

    lines.append("usemtl paper")
    for i in range(rings):
        for j in range(sides):
            q = [(i, j), (i, j + 1), (i + 1, j + 1), (i + 1, j)]
            lines.append("f " + " ".join("%d/%d" % (v(*c), t(*c)) for c in q))
    lines.append("usemtl cap")
    for j in range(sides):
        lines.append("f %d %d %d" % (top, v(0, j + 1), v(0, j)))
        lines.append("f %d %d %d" % (bottom, v(rings, j), v(rings, j + 1)))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def spark_obj(path, r=0.08):
    """A small octahedron: one glowing firefly of the 3D scene."""
    p = [(r, 0, 0), (-r, 0, 0), (0, r, 0), (0, -r, 0), (0, 0, r), (0, 0, -r)]
    faces = [(3, 5, 1), (3, 2, 5), (3, 6, 2), (3, 1, 6), (4, 1, 5), (4, 5, 2), (4, 2, 6), (4, 6, 1)]
    lines = ["# a glowing spark", "usemtl glow"]
    lines += ["v %.5f %.5f %.5f" % v for v in p]
    lines += ["f %d %d %d" % f for f in faces]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


# ---- the release ------------------------------------------------------------

def make_data(talven, data):
    for sub in ("img", "snd", "music", "model"):
        os.makedirs(os.path.join(data, sub), exist_ok=True)
    pictures = {"bg": (background(), W, H), "fly": (firefly(), 48, 48), "jar": (jar(), 96, 112),
                "wasp": (wasp(), 72, 56), "bar": (bar(), 560, 64), "paper": (paper(), 64, 64)}
    for name, (rows, w, h) in pictures.items():
        write_png(os.path.join(data, "img", name + ".png"), w, h, rows)
    write_wav(os.path.join(data, "snd", "select.wav"), select_sound())
    write_wav(os.path.join(data, "snd", "catch.wav"), catch_sound())
    write_wav(os.path.join(data, "snd", "buzz.wav"), buzz_sound())
    write_wav(os.path.join(data, "snd", "night.wav"), night_sound())
    with open(os.path.join(data, "music", "sky.mid"), "wb") as f:
        f.write(music())
    with tempfile.TemporaryDirectory() as tmp:
        for name, make in (("lantern", lantern_obj), ("spark", spark_obj)):
            obj = os.path.join(tmp, name + ".obj")
            make(obj)
            subprocess.run([talven, "model", obj, os.path.join(data, "model", name + ".mdl")],
                           check=True, stdout=subprocess.DEVNULL)


def main(argv):
    loose = "--loose" in argv
    args = [a for a in argv if a != "--loose"]
    if len(args) != 2:
        sys.stderr.write(__doc__)
        return 2
    talven, out = os.path.abspath(args[0]), os.path.abspath(args[1])
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "data")
        make_data(talven, data)
        subprocess.run([talven, "pack", data, os.path.join(out, "data.bin"), "--seed", "7", "--backslash"], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run([talven, "pack", os.path.join(HERE, "Firefly"), os.path.join(out, "Firefly.bin"),
                        "--seed", "9"], check=True, stdout=subprocess.DEVNULL)
        if loose:
            for name, source in (("data", data), ("Firefly", os.path.join(HERE, "Firefly"))):
                shutil.rmtree(os.path.join(out, name), ignore_errors=True)
                shutil.copytree(source, os.path.join(out, name))
    with open(os.path.join(HERE, "Firefly.cfg")) as f:
        cfg = f.read()
    if loose:
        cfg = cfg.replace("FileSystem=1", "FileSystem=3")
    with open(os.path.join(out, "Firefly.cfg"), "w") as f:
        f.write(cfg)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
