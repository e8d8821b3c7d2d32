#!/usr/bin/env python3
"""Reference HWL codec, standard library only.

Written from the format description on its own (not from the C++), so that
the two codecs check each other. Used as a program by the wavelet tests:

  hwlcodec.py JOBS    one job a line:
    decode IN.hwl OUT.dump
        reads a stream, writes its quantised planes and its pixels
    make W H BPP DEPTH BY BU BV SEED OUT.hwl OUT.dump
        builds quantised planes and factors of its own, writes them as a
        stream, and the planes and pixels as a dump

A dump: per plane (1 grey, 3 colour) width*height signed 32-bit
little-endian integers, then the pixels, row-major, one byte each for grey,
R G B for colour.
"""
import math
import random
import struct
import sys

HEADER = struct.Struct("<6sHHBBIIIIIIBBB")
S = 1 / math.sqrt(2)


# ---- bands ------------------------------------------------------------------

def band_cells(w, h, d, band):
    """Flat indices of detail level `band` (0..d) or of the low-pass band (d+1)."""
    if band > d:
        rects = [(0, h >> (d + 1), 0, w >> (d + 1))]
    else:
        rects = [(0, h >> (band + 1), w >> (band + 1), w >> band),
                 (h >> (band + 1), h >> band, 0, w >> band)]
    for r0, r1, c0, c1 in rects:
        for r in range(r0, r1):
            for c in range(c0, c1):
                yield r * w + c


# ---- codes and values -------------------------------------------------------

def pack_codes(codes):
    out = bytearray((len(codes) + 3) // 4)
    for j, c in enumerate(codes):
        out[j // 4] |= c << (2 * (j % 4))
    return bytes(out)


def pack_values(values, b):
    acc = 0
    for i, v in enumerate(values):
        acc |= (v & ((1 << b) - 1)) << (i * b)
    return acc.to_bytes((len(values) * b + 7) // 8, "little")


def code_plane(q, b):
    n = len(q)
    codes, values = [], []
    i = 0
    while i < n:
        v = q[i]
        if v > 0:
            codes.append(2)
            values.append(v % 256)
        elif v < 0:
            codes.append(3)
            values.append(-v % 256)
        else:
            k = 1
            while not (i + k >= n - 1 or q[i + k] != 0 or k >= 1 << (b + 2)):
                k += 1
            r = k - 1
            if r > (b + 4) // 2:
                codes.append(1)
                values.append(r % (1 << b))
                codes.append(r >> b)
                i += r
            else:
                codes.append(0)
        i += 1
    return codes, values


def unpack_codes(block, count):
    return [(block[j // 4] >> (2 * (j % 4))) & 3 for j in range(count)]


def unpack_values(block, count, b):
    acc = int.from_bytes(block, "little")
    mask = (1 << b) - 1
    return [(acc >> (i * b)) & mask for i in range(count)]


def decode_plane(codes, values, b, n):
    q = [0] * n
    ci = vi = oi = 0
    while ci < len(codes) and vi < len(values) and oi < n:
        c = codes[ci]
        if c == 2:
            q[oi] = values[vi]
            vi += 1
        elif c == 3:
            q[oi] = -values[vi]
            vi += 1
        elif c == 1:
            ci += 1
            if ci >= len(codes):
                break
            r = codes[ci] * (1 << b) + values[vi]
            vi += 1
            if oi + r + 1 >= n:
                break
            oi += r  # the zeros are there already
        ci += 1
        oi += 1
    return q


# ---- stream -----------------------------------------------------------------

def write_stream(w, h, bpp, d, bits, planes, factors):
    nplanes = 1 if bpp == 8 else 3
    coded = [code_plane(planes[p], bits[p]) for p in range(nplanes)]
    counts = [len(coded[p][0]) if p < nplanes else 0 for p in range(3)]
    nvalues = [len(coded[p][1]) if p < nplanes else 0 for p in range(3)]
    out = bytearray(HEADER.pack("HWL".encode("utf-16-le"), w, h, bpp, d, *counts, *nvalues, *bits))
    for p in range(nplanes):
        out += struct.pack("<%dd" % (d + 2), *factors[p])
    for p in range(nplanes):
        out += pack_codes(coded[p][0]) + pack_values(coded[p][1], bits[p])
    return bytes(out)


def read_stream(data):
    if len(data) < HEADER.size:
        raise ValueError("short header")
    _, w, h, bpp, d, c1, c2, c3, v1, v2, v3, b1, b2, b3 = HEADER.unpack_from(data)
    nplanes = 1 if bpp == 8 else 3
    counts, nvalues, bits = (c1, c2, c3), (v1, v2, v3), (b1, b2, b3)
    at = HEADER.size
    factors = []
    for _ in range(nplanes):
        f = list(struct.unpack_from("<%dd" % (d + 2), data, at))
        factors.append([x if math.isfinite(x) else 0.0 for x in f])
        at += 8 * (d + 2)
    planes = []
    for p in range(nplanes):
        cb = (counts[p] + 3) // 4
        vb = (nvalues[p] * bits[p] + 7) // 8
        codes = unpack_codes(data[at:at + cb], counts[p])
        at += cb
        values = unpack_values(data[at:at + vb], nvalues[p], bits[p])
        at += vb
        planes.append(decode_plane(codes, values, bits[p], w * h))
    return w, h, bpp, d, planes, factors


# ---- pixels -----------------------------------------------------------------

def dequantise(q, w, h, d, factors):
    x = [0.0] * (w * h)
    for band in range(d + 2):
        f = factors[band]
        m = 0.0 if f == 0 or not math.isfinite(f) else 1.0 / f
        for i in band_cells(w, h, d, band):
            x[i] = q[i] * m
    return x


def inverse(x, w, h, d):
    for level in range(d, -1, -1):
        wc, hc = w >> level, h >> level
        hw, hh = wc // 2, hc // 2
        t = [[0.0] * wc for _ in range(hc)]
        for c in range(wc):
            for i in range(hh):
                lo, hi = x[i * w + c], x[(hh + i) * w + c]
                t[2 * i][c] = (lo + hi) * S
                t[2 * i + 1][c] = (lo - hi) * S
        for r in range(hc):
            row = t[r]
            for j in range(hw):
                lo, hi = row[j], row[hw + j]
                x[r * w + 2 * j] = (lo + hi) * S
                x[r * w + 2 * j + 1] = (lo - hi) * S
            if wc % 2:
                x[r * w + wc - 1] = 0.0
    return x


def to_byte(v):
    if v <= 0:
        return 0
    if v >= 255:
        return 255
    return round(v)


def pixels(w, h, bpp, d, planes, factors):
    xs = [inverse(dequantise(planes[p], w, h, d, factors[p]), w, h, d) for p in range(len(planes))]
    if bpp == 8:
        return bytes(to_byte(v) for v in xs[0])
    out = bytearray()
    for y, u, v in zip(*xs):
        r = y + 1.140251 * v
        b = y + 2.028398 * u
        g = (y - 0.3 * r - 0.11 * b) * 1.694915
        out += bytes((to_byte(r), to_byte(g), to_byte(b)))
    return bytes(out)


def dump(path, planes, pix):
    with open(path, "wb") as f:
        for q in planes:
            f.write(struct.pack("<%di" % len(q), *q))
        f.write(pix)


# ---- planes of our own ------------------------------------------------------

def make_planes(w, h, bpp, d, bits, seed):
    rnd = random.Random(seed)
    planes, factors = [], []
    for p in range(1 if bpp == 8 else 3):
        top = (1 << bits[p]) - 1
        q = [0] * (w * h)
        i = 0
        while i < w * h:
            if rnd.random() < 0.3:
                i += rnd.choice((3, 7, 40, 300, 5000))  # zero stretches of every kind of run
                continue
            q[i] = rnd.randint(-top, top)
            i += 1
        f = [rnd.uniform(0.01, 3.0) for _ in range(d + 2)]
        f[rnd.randrange(d + 1)] = 0.0  # one band cleared
        planes.append(q)
        factors.append(f)
    return planes, factors


def main():
    for line in open(sys.argv[1]):
        job = line.split()
        if not job:
            continue
        if job[0] == "decode":
            w, h, bpp, d, planes, factors = read_stream(open(job[1], "rb").read())
            dump(job[2], planes, pixels(w, h, bpp, d, planes, factors))
        elif job[0] == "make":
            w, h, bpp, d, by, bu, bv, seed = map(int, job[1:9])
            bits = (by, bu, bv)
            planes, factors = make_planes(w, h, bpp, d, bits, seed)
            with open(job[9], "wb") as f:
                f.write(write_stream(w, h, bpp, d, bits, planes, factors))
            dump(job[10], planes, pixels(w, h, bpp, d, planes, factors))
        else:
            raise SystemExit("unknown job " + job[0])


if __name__ == "__main__":
    main()
