#!/usr/bin/env python3
"""Reference reader of changed-area video, standard library only.

Written from the container layout on its own (not from the C++): reads the
video packets of a captured stream connection (through refcodec.py), finds
the changed-area containers in their payloads, turns each area picture into
PPM (JPEG with djpeg, BMP and PNG with ImageMagick convert), and rebuilds the
frames a receiver shows:

  refchange.py STREAM_FILE OUT_DIR

writes OUT_DIR/frame_NNNN.ppm for every frame shown, in order, and prints
one line per container ("whole", "areas N" or "skipped").
"""
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import refcodec  # noqa: E402

HEAD, RECORD = 33, 15


def to_rgb(fmt, picture):
    """(width, height, RGB bytes) of an area picture."""
    if fmt == 1:
        ppm = subprocess.run(["djpeg", "-ppm"], input=picture, capture_output=True, check=True).stdout
    else:
        kind = {3: "bmp", 4: "png"}[fmt]
        ppm = subprocess.run(["convert", kind + ":-", "-depth", "8", "ppm:-"], input=picture, capture_output=True,
                             check=True).stdout
    fields, p = [], 0
    while len(fields) < 4:
        while ppm[p:p + 1].isspace():
            p += 1
        q = p
        while not ppm[q:q + 1].isspace():
            q += 1
        fields.append(ppm[p:q])
        p = q
    w, h = int(fields[1]), int(fields[2])
    return w, h, ppm[p + 1:p + 1 + w * h * 3]


class Rebuild:
    def __init__(self):
        self.w = self.h = 0
        self.pixels = bytearray()
        self.num_frame = 0
        self.changed = 0
        self.have_base = False

    def container(self, c):
        w, h, _, _, n = struct.unpack_from("<HHqqB", c, 12)
        if (w, h) != (self.w, self.h):
            self.w, self.h, self.pixels, self.have_base = w, h, bytearray(w * h * 3), False
        p, end, corrupted, areas = HEAD, len(c) - 4, False, 0
        while p + RECORD <= end:
            x, y, rw, rh, fmt, f, size = struct.unpack_from("<HHHHBHI", c, p)
            p += RECORD
            if size == 0 or p + size > end:
                break
            picture, p = c[p:p + size], p + size
            areas += 1
            whole = f == 0 and (rw, rh) == (w, h)
            if whole:
                self.num_frame = n
            if not whole and not self.have_base:
                corrupted = True
                continue
            valid = not whole and self.num_frame == n and f in (self.changed, self.changed + 1)
            pw, ph, rgb = to_rgb(fmt, picture)
            for row in range(min(rh, ph, h - y)):
                for col in range(min(rw, pw, w - x)):
                    s, t = (row * pw + col) * 3, ((y + row) * w + x + col) * 3
                    for k in range(3):
                        if f == 0:
                            self.pixels[t + k] = rgb[s + k]
                        elif valid:
                            self.pixels[t + k] = max(0, min(255, 2 * rgb[s + k] - 255 + self.pixels[t + k]))
            if f != 0 and not valid:
                corrupted, self.have_base = True, False
                continue
            self.changed, self.have_base = f, True
        kind = "whole" if areas == 1 and self.num_frame == n and c[HEAD + 4:HEAD + 8] == struct.pack("<HH", w, h) \
            else "areas %d" % areas
        return None if corrupted else kind


def containers(video):
    p = 0
    while True:
        s = video.find(b"DMIB", p)
        if s < 0 or s + 16 > len(video):
            return
        length = struct.unpack_from("<I", video, s + 8)[0]
        if length < HEAD + 4 or s + length > len(video) or video[s + length - 4:s + length] != b"DMIE":
            p = s + 1
            continue
        yield video[s:s + length]
        p = s + length


def main():
    stream, out = sys.argv[1], sys.argv[2]
    packets = refcodec.read_stream(open(stream, "rb").read(), emit=lambda h, d: (h, d))
    video = b"".join(d for h, d in packets if h["code"] == 1)
    r, shown = Rebuild(), 0
    for c in containers(video):
        kind = r.container(c)
        print(kind or "skipped")
        if kind:
            with open(os.path.join(out, "frame_%04d.ppm" % shown), "wb") as f:
                f.write(b"P6\n%d %d\n255\n" % (r.w, r.h) + bytes(r.pixels))
            shown += 1


if __name__ == "__main__":
    main()
