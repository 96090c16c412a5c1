#!/usr/bin/env python3
"""Writes the example's two models as Wavefront OBJ files; convert them with
    talven model Model/torus.obj Model/torus.mdl
    talven model Model/glow.obj Model/glow.mdl
"""
import math
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Model")


def torus(path, big=1.0, small=0.38, around=32, across=16):
    lines = ["# a torus around the y axis, texture wrapped twice around it"]
    for i in range(around):
        a = 2 * math.pi * i / around
        for j in range(across):
            b = 2 * math.pi * j / across
            r = big + small * math.cos(b)
            lines.append("v %.5f %.5f %.5f" % (r * math.cos(a), small * math.sin(b), r * math.sin(a)))
    for i in range(around + 1):
        for j in range(across + 1):
            lines.append("vt %.5f %.5f" % (2.0 * i / around, j / across))
    lines.append("usemtl ring")

    def v(i, j):
        return (i % around) * across + (j % across) + 1

    def t(i, j):
        return i * (across + 1) + j + 1

    for i in range(around):
        for j in range(across):
            q = [(i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)]
            lines.append("f " + " ".join("%d/%d" % (v(*c), t(*c)) for c in q))
    open(path, "w").write("\n".join(lines) + "\n")


def glow(path, rings=8, segments=12, r=0.25):
    lines = ["# a small sphere for the light"]
    for i in range(rings + 1):
        p = math.pi * i / rings
        for j in range(segments):
            th = 2 * math.pi * j / segments
            lines.append("v %.5f %.5f %.5f" % (r * math.sin(p) * math.cos(th), r * math.cos(p),
                                               r * math.sin(p) * math.sin(th)))
    lines.append("usemtl glow")

    def v(i, j):
        return i * segments + (j % segments) + 1

    for i in range(rings):
        for j in range(segments):
            if i > 0:
                lines.append("f %d %d %d" % (v(i, j), v(i + 1, j), v(i, j + 1)))
            if i < rings - 1:
                lines.append("f %d %d %d" % (v(i, j + 1), v(i + 1, j), v(i + 1, j + 1)))
    open(path, "w").write("\n".join(lines) + "\n")


if __name__ == "__main__":
    torus(os.path.join(HERE, "torus.obj"))
    glow(os.path.join(HERE, "glow.obj"))
