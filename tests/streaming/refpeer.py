#!/usr/bin/env python3
"""Receiving peer for the sender tests, decoding with refcodec.py only.

  refpeer.py push tcp|http|udp PORT OUT
      listens on 127.0.0.1:PORT and collects every connection (or datagram)
  refpeer.py pull tcp|http PORT TYPES OUT
      one connection per data type of TYPES (comma-separated codes) to a
      sender's pull port, asking for that type again and again

Runs until SIGTERM (or 60 s). OUT is rewritten (atomically) five times a
second and at the end: per connection (pull: per answer) "conn N bytes=B
nulls=K", then one refcodec packet line per packet received. Datagrams of one
payload are joined by their header's LenPack (bytes still to come).
"""
import os
import signal
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import refcodec  # noqa: E402

payloads = []
_describe = refcodec.describe_packet


def capture(h, payload):
    payloads.append(payload)
    return _describe(h, payload)


refcodec.describe_packet = capture
stop = threading.Event()
ready = threading.Event()  # listening, or connected
conns = []  # bytearrays, one per connection
lock = threading.Lock()


def on_term(*_):
    stop.set()


def read_conn(s, buf):
    s.settimeout(0.2)
    while not stop.is_set():
        try:
            b = s.recv(1 << 16)
        except socket.timeout:
            continue
        except OSError:
            break
        if not b:
            break
        with lock:
            buf += b


def push(proto, port):
    if proto == "udp":
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        s.bind(("127.0.0.1", port))
        ready.set()
        s.settimeout(0.2)
        while not stop.is_set():
            try:
                d = s.recv(70000)
            except socket.timeout:
                continue
            with lock:
                conns.append(bytearray(d))
        return
    ls = socket.socket()
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ls.bind(("127.0.0.1", port))
    ls.listen(64)
    ready.set()
    ls.settimeout(0.2)
    while not stop.is_set():
        try:
            c, _ = ls.accept()
        except socket.timeout:
            continue
        buf = bytearray()
        with lock:
            conns.append(buf)
        threading.Thread(target=read_conn, args=(c, buf), daemon=True).start()


def request(text):
    return text.encode() + bytes(16) + struct.pack("<I", 0)


def pull(proto, port, code):
    names = {1: "VD", 2: "AD", 4: "UD", 8: "CD", 16: "FD"}
    s = socket.create_connection(("127.0.0.1", port))
    if proto == "http":
        s.sendall(b"POST http://127.0.0.1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n")
    s.settimeout(3)
    ready.set()
    first = True
    pending = b""
    while not stop.is_set():
        s.sendall(request(("CLR" if first else "") + names[code] + ("" if first else "GET")))
        first = False
        while True:  # one answer: "hmSN", or "hmSB" ... "hmSE" + 12
            sn, sb = pending.find(refcodec.SN), pending.find(refcodec.SB)
            if sn >= 0 and (sb < 0 or sn < sb) and len(pending) >= sn + 16:
                pending = pending[sn + 16:]
                time.sleep(0.01)
                break
            e = pending.find(refcodec.SE, sb + 16) if sb >= 0 else -1
            if e >= 0 and len(pending) >= e + 16:
                with lock:
                    conns.append(bytearray(pending[sb:e + 16]))
                pending = pending[e + 16:]
                break
            try:
                b = s.recv(1 << 16)
            except (socket.timeout, OSError):
                return
            if not b:
                return
            pending += b


def report(mode, proto, out):
    payloads.clear()
    with lock:
        items = [bytes(c) for c in conns]
    lines = []
    if proto == "udp":
        lines.append("conn 0 bytes=%d nulls=0 datagrams=%d" % (sum(map(len, items)), len(items)))
        lines += join_datagrams(items)
    else:
        for i, b in enumerate(items):
            lines.append("conn %d bytes=%d nulls=%d" % (i, len(b), b.count(refcodec.NULL8)))
            lines += refcodec.read_batch(b) if mode == "pull" else refcodec.read_stream(b)
    with open(out + ".tmp", "w") as f:
        f.write("".join(x + "\n" for x in lines))
    os.rename(out + ".tmp", out)


def main():
    signal.signal(signal.SIGTERM, on_term)
    mode, proto, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    args = sys.argv[4:]
    codes = [int(c) for c in args.pop(0).split(",")] if mode == "pull" else [0]
    out = args[0]
    for code in codes:
        target, targs = (push, (proto, port)) if mode == "push" else (pull, (proto, port, code))
        threading.Thread(target=target, args=targs, daemon=True).start()
    end = time.time() + 60
    ready.wait(10)
    while not stop.wait(0.2) and time.time() < end:
        report(mode, proto, out)
    stop.set()
    time.sleep(0.3)
    report(mode, proto, out)


def join_datagrams(items):
    """Each payload's datagrams, joined. A datagram's LenPack field holds
    min(packet size, h + 8 + bytes still to come), h the header bytes before
    that field: the last datagram of a payload is the one whose field does
    not exceed h + 8 + its own bytes."""
    lines, parts, first = [], [], None
    for d in items:
        before = len(payloads)
        if not refcodec.read_datagram(d) or len(payloads) == before:
            continue
        h, _ = refcodec.parse_header(d, d.find(refcodec.MARKER))
        chunk = payloads.pop()
        first = first or h
        parts.append(chunk)
        guids = bin(h["word"] & 0x700).count("1")
        if h["lenpack"] <= 10 + 16 * guids + 8 + len(chunk):
            lines.append(capture(first, b"".join(parts)))
            parts, first = [], None
    return lines


if __name__ == "__main__":
    main()
