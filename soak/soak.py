#!/usr/bin/env python3
"""Soak and kill-during-save runs for talven (`make soak`; not part of CI).

threads: the game in soak/threads runs 32 script threads doing random work
  for SOAK_MINUTES (default 10) with the stall watchdog on
  (TALVEN_STALL_SECONDS, default SOAK_STALL=30). Prints the process's RSS
  every 10 s. Fails on a watchdog report, on silence (no status line for
  three periods; all thread stacks are then saved with gdb), on failed
  script checks, or when RSS at the end exceeds RSS after warm-up by more
  than 10 % + 8 MiB.
saves: SOAK_TRIALS (default 1000) runs of the game in soak/saves, each
  killed with SIGKILL at a random moment, then every file checked here
  (INI, save data, BMP, PNG; JPEG through ffmpeg) and the compressed file
  through a separate talven run: never torn, never missing once saved,
  never older than the last save that completed; at most one temporary
  file per target left by the kills.
SOAK_MULTITHREADING=0 or 1 overrides the game's MultiThreading for the
threads run.

Usage: soak.py TALVEN [threads|saves|both]
"""
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SDK = os.path.join(HERE, "..", "sdk", "talven.h")


def make_game(src, dest, settings, name):
    os.makedirs(dest, exist_ok=True)
    for f in os.listdir(src):
        shutil.copy(os.path.join(src, f), dest)
    shutil.copy(SDK, dest)
    with open(os.path.join(dest, "settings.h"), "w") as f:
        f.write(settings)
    with open(os.path.join(dest, name + ".cfg"), "w") as f:
        f.write("[General]\nFileSystem=3\n[Script]\nLoad=main.c\n")


def rss_mib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    return None


def dump_stacks(talven, pid, path):
    if not shutil.which("gdb"):
        return False
    with open(path, "w") as out:
        subprocess.run(["gdb", "-nx", talven, "-p", str(pid), "-batch", "-ex", "thread apply all bt 30"],
                       stdout=out, stderr=subprocess.STDOUT, timeout=120)
    return True


def soak_threads(talven, work):
    minutes = float(os.environ.get("SOAK_MINUTES", "10"))
    stall = os.environ.get("SOAK_STALL", "30")
    seconds = max(20, int(minutes * 60))
    seed = int(os.environ.get("SOAK_SEED", str(random.randrange(1, 1 << 30))))
    game = os.path.join(work, "threads")
    make_game(os.path.join(HERE, "threads"), game,
              "#define SOAK_SECONDS %d\n#define SOAK_SEED %d\n" % (seconds, seed), "Soak")
    print("threads: %d s, seed %d, stall bound %s s" % (seconds, seed, stall), flush=True)
    env = dict(os.environ, TALVEN_STALL_SECONDS=stall)
    extra = []
    if os.environ.get("SOAK_MULTITHREADING"):
        extra = ["--config", "MultiThreading=" + os.environ["SOAK_MULTITHREADING"]]
    p = subprocess.Popen([talven, "--headless", "--log", "--timeout", str(seconds + 300)] + extra + [game],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, text=True,
                         errors="replace")
    lines = []
    last_status = [time.monotonic()]
    problems = []

    def reader():
        for line in p.stdout:
            line = line.rstrip("\n")
            lines.append(line)
            if line.startswith("SOAK"):
                last_status[0] = time.monotonic()
                print("  " + line, flush=True)
            elif "watchdog:" in line or line.startswith("FAIL") or "error" in line:
                print("  " + line, flush=True)
                problems.append(line)

    t = threading.Thread(target=reader, daemon=True)
    t.start()
    start = time.monotonic()
    curve = []
    stacks = os.path.join(work, "stacks.txt")
    while p.poll() is None:
        time.sleep(1)
        now = time.monotonic() - start
        if now >= 10 * (len(curve) + 1):
            r = rss_mib(p.pid)
            if r is not None:
                curve.append((int(now), r))
                print("  RSS t=%4d s %8.1f MiB" % curve[-1], flush=True)
        silent = time.monotonic() - last_status[0] > 35
        if (problems and any("watchdog:" in x for x in problems)) or silent:
            if silent:
                problems.append("no status line for 35 s")
            if dump_stacks(talven, p.pid, stacks):
                problems.append("thread stacks in " + stacks)
            p.kill()
            break
    p.wait()
    t.join(5)
    status = p.returncode
    if status != 0:
        problems.append("exit status %d" % status)
    if not any(l.startswith("SOAK done") for l in lines):
        problems.append("the run did not finish")
    warm = min(60.0, max(20.0, seconds * 0.2))
    after = [r for (s, r) in curve if s >= warm]
    if len(after) >= 2:
        base, end = after[0], sum(r for (_, r) in curve[-2:]) / 2
        print("  RSS after warm-up %.1f MiB, at the end %.1f MiB (%+.1f MiB)" % (base, end, end - base))
        if end > base * 1.10 + 8:
            problems.append("RSS grew after warm-up: %.1f -> %.1f MiB" % (base, end))
    for x in problems:
        print("threads: PROBLEM: " + x)
    print("threads: %s" % ("FAILED" if problems else "passed"), flush=True)
    return not problems


# ---- kill-during-save checks; each returns (generation or None, problem or None)


def check_ini(path):
    with open(path, "rb") as f:
        data = f.read()
    m = re.search(rb"\[Soak\]\r?\nGen=g:(\d+):([a-z]*)\r?\n", data)
    if not m:
        return None, "no whole [Soak] Gen line"
    g, pad = int(m.group(1)), m.group(2).decode()
    head = len("g:%d:" % g)
    want = "".join(chr(ord("a") + (g + i) % 26) for i in range(head, 1500))
    if pad != want:
        return None, "Gen text torn"
    if data.count(b"[Soak]") != 1:
        return None, "section written %d times" % data.count(b"[Soak]")
    return g, None


def check_block(data, size):
    if len(data) != size:
        return None, "size %d, not %d" % (len(data), size)
    g = struct.unpack_from("<i", data, 0)[0]
    if struct.unpack_from("<i", data, size - 4)[0] != g:
        return None, "last word differs from first"
    if data[4:size - 4].count(bytes([g & 255])) != size - 8:
        return None, "body torn"
    return g, None


def level(v):
    # Written as 16 * level + 8: a lossy save may move it by up to 8.
    return max(0, min(15, v // 16))


def colour_gen(r, g, b):
    return (level(r) << 8) | (level(g) << 4) | level(b)


def check_bmp(path):
    with open(path, "rb") as f:
        d = f.read()
    if len(d) < 54 or d[:2] != b"BM":
        return None, "not a BMP"
    size, off = struct.unpack_from("<I", d, 2)[0], struct.unpack_from("<I", d, 10)[0]
    w, h, bpp = struct.unpack_from("<iiH", d, 18)[0], abs(struct.unpack_from("<i", d, 22)[0]), struct.unpack_from("<H", d, 28)[0]
    if size != len(d):
        return None, "file size %d, header says %d" % (len(d), size)
    step = bpp // 8
    if w != 64 or h != 48 or step not in (3, 4):
        return None, "unexpected shape %dx%dx%d" % (w, h, bpp)
    pitch = (w * step + 3) & ~3
    if off + pitch * h > len(d):
        return None, "pixels cut short"
    first = d[off:off + step]
    for y in range(h):
        row = d[off + y * pitch: off + y * pitch + w * step]
        if row != first * w:
            return None, "pixels differ (row %d)" % y
    return colour_gen(first[2], first[1], first[0]), None


def check_png(path):
    with open(path, "rb") as f:
        d = f.read()
    if d[:8] != b"\x89PNG\r\n\x1a\n":
        return None, "not a PNG"
    pos, idat, ihdr, end = 8, b"", None, False
    while pos + 8 <= len(d):
        n, kind = struct.unpack_from(">I4s", d, pos)
        body = d[pos + 8:pos + 8 + n]
        if len(body) != n or pos + 12 + n > len(d):
            return None, "chunk cut short"
        if zlib.crc32(kind + body) != struct.unpack_from(">I", d, pos + 8 + n)[0]:
            return None, "chunk checksum"
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            end = True
            break
        pos += 12 + n
    if not end or not ihdr:
        return None, "no IEND"
    w, h, depth, ctype = ihdr[0], ihdr[1], ihdr[2], ihdr[3]
    chans = {2: 3, 6: 4}.get(ctype)
    if w != 64 or h != 48 or depth != 8 or not chans:
        return None, "unexpected shape"
    raw = zlib.decompress(idat)
    stride = w * chans
    if len(raw) != h * (stride + 1):
        return None, "image data length"
    prev = bytearray(stride)
    first = None
    for y in range(h):
        ft = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - chans] if i >= chans else 0
            b = prev[i]
            c = prev[i - chans] if i >= chans else 0
            if ft == 1:
                line[i] = (line[i] + a) & 255
            elif ft == 2:
                line[i] = (line[i] + b) & 255
            elif ft == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif ft == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        if first is None:
            first = bytes(line[:chans])
        if bytes(line) != first * w:
            return None, "pixels differ (row %d)" % y
        prev = line
    return colour_gen(first[0], first[1], first[2]), None


def check_jpg(path):
    with open(path, "rb") as f:
        d = f.read()
    if d[:2] != b"\xff\xd8" or not d.rstrip(b"\0").endswith(b"\xff\xd9"):
        return None, "JPEG without its start or end marker"
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                       capture_output=True, timeout=60)
    if r.returncode != 0 or r.stderr.strip() or len(r.stdout) != 64 * 48 * 3:
        return None, "ffmpeg: " + r.stderr.decode(errors="replace").strip()[:100]
    px = r.stdout[(24 * 64 + 32) * 3:(24 * 64 + 32) * 3 + 3]
    return colour_gen(px[0], px[1], px[2]), None


def soak_saves(talven, work):
    trials = int(os.environ.get("SOAK_TRIALS", "1000"))
    game = os.path.join(work, "saves")
    files = {"ini": "save.ini", "sys": "save.dat", "pack": "pack.dat", "bmp": "img.bmp", "png": "img.png",
             "jpg": "img.jpg"}
    modulo = {"bmp": 4096, "png": 4096, "jpg": 4096}
    known = {}  # kind -> generation the files held after the last trial
    interrupted = {}  # kind being saved when the kill came -> trials
    problems = []
    start = time.monotonic()
    for trial in range(trials):
        start_gen = (trial + 1) * 100000
        make_game(os.path.join(HERE, "saves"), game, "#define START_GEN %d\n" % start_gen, "Saves")
        p = subprocess.Popen([talven, "--headless", "--log", "--timeout", "60", game], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, errors="replace")
        out = []
        reader = threading.Thread(target=lambda: out.extend(p.stdout), daemon=True)
        reader.start()
        deadline = time.monotonic() + 30
        while not any(l.startswith("READY") for l in list(out)) and time.monotonic() < deadline and p.poll() is None:
            time.sleep(0.005)
        time.sleep(random.uniform(0, 0.4))
        p.send_signal(signal.SIGKILL)
        p.wait()
        reader.join(5)
        done = {}
        last_kind = None
        for line in out:
            m = re.match(r"DONE (\w+) (\d+)", line)
            if m:
                done[m.group(1)] = int(m.group(2))
                last_kind = m.group(1)
        # The kill came while the save after the last one logged was written.
        order = list(files)
        under_way = order[(order.index(last_kind) + 1) % len(order)] if last_kind else "start"
        interrupted[under_way] = interrupted.get(under_way, 0) + 1
        for kind, name in files.items():
            path = os.path.join(game, name)
            last = done.get(kind, known.get(kind))
            # The save under way when the kill came is the next generation.
            nxt = done[kind] + 1 if kind in done else start_gen
            if not os.path.exists(path):
                if last is not None:
                    problems.append("trial %d: %s missing" % (trial, name))
                continue
            if kind == "pack":
                r = subprocess.run([talven, "--headless", "--log", "--timeout", "30", "--config", "Load=check.c",
                                    game], capture_output=True, text=True, errors="replace")
                m = re.search(r"PACK (-?\d+)", r.stdout)
                g, why = (int(m.group(1)), None) if m else (None, r.stdout.strip()[-120:])
            else:
                check = {"ini": check_ini, "sys": lambda p: check_block(open(p, "rb").read(), 65536),
                         "bmp": check_bmp, "png": check_png, "jpg": check_jpg}[kind]
                g, why = check(path)
            if why:
                problems.append("trial %d: %s torn: %s" % (trial, name, why))
                continue
            mod = modulo.get(kind)
            allowed = {x for x in (last, nxt) if x is not None}
            if mod:
                allowed = {x % mod for x in allowed}
            if g not in allowed:
                problems.append("trial %d: %s holds generation %d, expected one of %s" %
                                (trial, name, g, sorted(allowed)))
            known[kind] = nxt if g == (nxt % mod if mod else nxt) else last
        stale = [f for f in os.listdir(game) if ".tmp" in f]
        if (trial + 1) % 50 == 0 or trial + 1 == trials:
            print("  saves: %d trials in %.0f s, %d problems, %d stale temporary files now" %
                  (trial + 1, time.monotonic() - start, len(problems), len(stale)), flush=True)
        if len(problems) > 20:
            break
    # A save removes the temporaries an interrupted save of its target left,
    # so at most one per target can be there at the end.
    stale = [f for f in os.listdir(game) if ".tmp" in f]
    if len(stale) > len(files):
        problems.append("%d stale temporary files: %s" % (len(stale), ", ".join(sorted(stale)[:8])))
    print("  kills landed while saving: " + ", ".join("%s %d" % kv for kv in sorted(interrupted.items())))
    for x in problems[:20]:
        print("saves: PROBLEM: " + x)
    print("saves: %s" % ("FAILED" if problems else "passed"), flush=True)
    return not problems


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    talven = os.path.abspath(sys.argv[1])
    what = sys.argv[2] if len(sys.argv) > 2 else "both"
    work = tempfile.mkdtemp(prefix="talven-soak-")
    print("soak: working in " + work, flush=True)
    ok = True
    if what in ("threads", "both"):
        ok = soak_threads(talven, work) and ok
    if what in ("saves", "both"):
        ok = soak_saves(talven, work) and ok
    if ok:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
