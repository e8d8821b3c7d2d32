#!/usr/bin/env python3
"""Reference codec of the KzMedia stream packet format, standard library only.

Written from the wire layout on its own (not from the C++), so that the two
codecs check each other. Used as a program by the streaming tests:

  refcodec.py encode   < cases      one case per line in, one hex line out
  refcodec.py decode < lines        "K hex..." in, description lines and "--" out
                                    (K: stream, datagram, batch, cmd, block,
                                    hpack, spack, request; datagrams one hex each)

A case line is a kind followed by key=value fields (see encode_case).
Every decoder prints one canonical line per item (see describe_*).
"""
import struct
import sys
import zlib

MARKER = b"mdBD"
BLOCK_BEGIN, BLOCK_END = b"mcBD", b"mcED"
HP_TCP, HP_UDP = b"hmHT", b"hmHU"
SB, SE, SN = b"hmSB", b"hmSE", b"hmSN"
NULL8 = b"CON_NULL"
F_FROM, F_TO, F_GROUP, F_FULLY, F_PARTS = 0x100, 0x200, 0x400, 0x800, 0x1000
TYPES = {1: "video", 2: "audio", 4: "user", 8: "cmd", 16: "file"}
MAX_CHUNK = 32767
INFLATE_FLOOR = 35648
NULL_GUID = bytes(16)


# ---- media information -----------------------------------------------------

def info_bytes(code, f):
    if code == 1:
        return bytes([int(f.get("enc", "0"))])
    if code == 2:
        return struct.pack("<IBB", int(f.get("rate", "8000")), int(f.get("bits", "0")), int(f.get("ch", "1")))
    if code == 16:
        name = f.get("name", "").encode("utf-16-le")
        units = len(name) // 2
        if units > 127:  # cut to 127 units, never half a surrogate pair
            cut = 254
            if 0xD800 <= struct.unpack_from("<H", name, cut - 2)[0] <= 0xDBFF:
                cut -= 2
            name = name[:cut]
        return (bytes([len(name)]) + name + bytes.fromhex(f.get("fguid", "00" * 16)) +
                struct.pack("<qq", int(f.get("offs", "0")), int(f.get("total", "0"))))
    return b""


def parse_info(code, b, p):
    """(description, end) or None when b ends too early."""
    if code == 1:
        return ("enc=%d" % b[p], p + 1) if len(b) >= p + 1 else None
    if code == 2:
        if len(b) < p + 6:
            return None
        rate, bits, ch = struct.unpack_from("<IBB", b, p)
        return ("rate=%d bits=%d ch=%d" % (rate, bits, ch), p + 6)
    if code == 16:
        if len(b) < p + 1 or len(b) < p + 33 + b[p]:
            return None
        n = b[p]
        name = b[p + 1:p + 1 + n].decode("utf-16-le", errors="replace")
        q = p + 1 + n
        offs, total = struct.unpack_from("<qq", b, q + 16)
        return ("name=%s fguid=%s offs=%d total=%d" % (name.encode("utf-8").hex(), b[q:q + 16].hex(), offs, total),
                q + 32)
    return ("", p)


# ---- packet header ---------------------------------------------------------

def header_bytes(word, guids, media, part, lenpack, info):
    out = MARKER + struct.pack("<H", word)
    for flag, g in zip((F_FROM, F_TO, F_GROUP), guids):
        if word & flag:
            out += g
    return out + struct.pack("<HHq", media, part, lenpack) + info


def flag_word(code, guids, use_guid):
    word = code
    if use_guid:
        for flag, g in zip((F_FROM, F_TO, F_GROUP), guids):
            if g != NULL_GUID:
                word |= flag
    return word


def parse_header(b, p):
    """Header at b[p:] (starting with the marker): (fields, end), None if short, 'bad' if not a header."""
    if len(b) < p + 6:
        return None
    word = struct.unpack_from("<H", b, p + 4)[0]
    code = word & 31
    if code not in TYPES:
        return "bad"
    q = p + 6
    guids = []
    for flag in (F_FROM, F_TO, F_GROUP):
        if word & flag:
            if len(b) < q + 16:
                return None
            guids.append(b[q:q + 16])
            q += 16
        else:
            guids.append(NULL_GUID)
    if len(b) < q + 12:
        return None
    media, part, lenpack = struct.unpack_from("<HHq", b, q)
    if lenpack < 0:
        return "bad"
    info = parse_info(code, b, q + 12)
    if info is None:
        return None
    comp = {F_FULLY: "fully", F_PARTS: "parts"}.get(word & (F_FULLY | F_PARTS), "none")
    return (dict(word=word, code=code, guids=guids, media=media, part=part, lenpack=lenpack, info=info[0],
                 comp=comp), info[1])


def describe_packet(h, payload):
    return "packet type=%s word=%04x from=%s to=%s group=%s media=%d part=%d comp=%s %s size=%d crc=%08x" % (
        TYPES[h["code"]], h["word"], h["guids"][0].hex(), h["guids"][1].hex(), h["guids"][2].hex(), h["media"],
        h["part"], h["comp"], h["info"], len(payload), zlib.crc32(payload))


# ---- compression blocks ----------------------------------------------------

def block(chunk, level=9):
    z = zlib.compress(chunk, level)
    if len(z) < len(chunk):
        return BLOCK_BEGIN + struct.pack("<h", len(z)) + z + BLOCK_END
    return BLOCK_BEGIN + struct.pack("<h", -len(chunk)) + chunk + BLOCK_END


def inflate(data, limit):
    d = zlib.decompressobj()
    try:
        out = d.decompress(data, limit + 1)
    except zlib.error:
        return None
    if len(out) > limit or not d.eof:
        return None
    return out


def read_blocks(b, p, want, limit_of):
    """Blocks from b[p:] until `want` bytes are out (want None: all blocks).
    Returns (data, end, state): state "done", "wait" (more bytes needed) or
    "abandon" (a packet header came first; end is where it starts)."""
    out = b""
    while want is None or len(out) < want:
        s = b.find(BLOCK_BEGIN, p)
        m = b.find(MARKER, p) if want is not None else -1
        if m >= 0 and (s < 0 or m < s):
            return out, m, "abandon"
        if s < 0:
            return out, p, "wait"
        if len(b) < s + 6:
            return out, s, "wait"
        n = struct.unpack_from("<h", b, s + 4)[0]
        if len(b) < s + 6 + abs(n) + 4:
            return out, s, "wait"
        if b[s + 6 + abs(n):s + 10 + abs(n)] != BLOCK_END:
            p = s + 4  # misplaced end: look again after this begin
            continue
        data = b[s + 6:s + 6 + abs(n)]
        if n > 0:
            limit = limit_of(len(data), len(out))
            data = inflate(data, limit)
        if data is not None and (want is None or len(out) + len(data) <= want):
            out += data
        p = s + 10 + abs(n)
    return out, p, "done"


# ---- sending one payload ---------------------------------------------------

def encode_payload(code, f, payload):
    """The bytes a sender puts on a stream connection (or the datagrams)."""
    guids = [bytes.fromhex(f.get(k, "00" * 16)) for k in ("from", "to", "group")]
    word = flag_word(code, guids, f.get("useguid", "1") == "1")
    comp, proto = f.get("comp", "none"), f.get("proto", "tcp")
    bufsize = int(f.get("bufsize", "8192"))
    media, part = int(f.get("media", "0")), int(f.get("part", "0"))
    parts = comp == "parts" or (proto == "udp" and comp != "none")
    source = payload
    if comp == "fully" and proto != "udp":
        z = zlib.compress(payload, 9)
        if len(z) < len(payload) and len(payload) <= max(4 * len(z), INFLATE_FLOOR):
            source = z
        else:
            comp = "none"
    cbits = {"fully": F_FULLY, "parts": F_PARTS}.get(comp, 0)
    over = 10 if parts else 0
    if code == 16:
        f = dict(f, total=str(int(f.get("offs", "0")) + len(payload)))
    hlen = len(header_bytes(word | cbits, guids, media, part, 0, info_bytes(code, f)))
    bufsize = max(bufsize, hlen + over + 1)  # room for a header, a block's overhead and one byte
    packets, pos, first = [], 0, True
    while pos < len(source) or (first and not source):
        fi = dict(f)
        if code == 16:  # offsets count from the start of the file the payload is taken from
            fi["offs"] = str(int(f.get("offs", "0")) + pos)
        if proto == "udp":
            h = header_bytes(word | cbits, guids, media, part, 0, info_bytes(code, fi))
            before = 10 + 16 * bin(word & 0x700).count("1")
            h = h[:before] + struct.pack("<q", min(bufsize, before + 8 + len(source) - pos)) + h[before + 8:]
        elif first:
            h = header_bytes(word | cbits, guids, media, part, len(source), info_bytes(code, fi))
        else:
            h = b""
        n = min(len(source) - pos, max(1, bufsize - len(h) - over))
        if parts:
            n = min(n, MAX_CHUNK)
        chunk = source[pos:pos + n]
        packets.append(h + (block(chunk) if parts and chunk else chunk))
        pos += n
        part = (part + 1) & 0xFFFF
        first = False
        if not source:
            break
    return packets


# ---- stream and datagram readers -----------------------------------------

def read_stream(b, emit=None):
    """Packets of a stream connection, in order (emit(header, payload) of each; describe_packet by default)."""
    emit = emit or describe_packet
    out, p = [], 0
    while True:
        s = b.find(MARKER, p)
        if s < 0:
            return out
        r = parse_header(b, s)
        if r is None:
            return out
        if r == "bad":
            p = s + 1
            continue
        h, q = r
        n = h["lenpack"]
        if h["comp"] == "parts":
            data, end, state = read_blocks(b, q, n, lambda size, got: n - got)
            if state == "wait":
                return out
            if state == "done":
                out.append(emit(h, data))
            p = end
            continue
        if n < 0 or len(b) < q + n:
            return out
        data = b[q:q + n]
        p = q + n
        if h["comp"] == "fully":
            data = inflate(data, max(4 * n, INFLATE_FLOOR))
            if data is None:
                continue
        out.append(emit(h, data))


def read_datagram(b):
    s = b.find(MARKER)
    r = parse_header(b, s) if s >= 0 else None
    if r is None or r == "bad":
        return []
    h, q = r
    data = b[q:]
    if h["comp"] != "none":
        data, _, _ = read_blocks(data, 0, None, lambda size, got: max(4 * size, INFLATE_FLOOR))
    return [describe_packet(h, data)]


# ---- packs and requests ----------------------------------------------------

def hpack(marker, lenpack, to, frm, group):
    return marker + struct.pack("<q", lenpack) + to + frm + group


def spack(marker, key, datalen):
    return marker + struct.pack("<Iq", key, datalen)


def describe_hpack(b):
    lenpack = struct.unpack_from("<q", b, 4)[0]
    return "hpack marker=%s len=%d to=%s from=%s group=%s" % (
        b[:4].decode("latin-1"), lenpack, b[12:28].hex(), b[28:44].hex(), b[44:60].hex())


def describe_spack(b):
    key, datalen = struct.unpack_from("<Iq", b, 4)
    return "spack marker=%s key=%d len=%d" % (b[:4].decode("latin-1"), key, datalen)


def describe_request(b):
    return "request text=%s guid=%s key=%d" % (b[:5].decode("latin-1"), b[5:21].hex(),
                                              struct.unpack_from("<I", b, 21)[0])


def read_batch(b):
    """One pulled answer: the session packs, then each packet as the stream reader reads it."""
    s = min([i for i in (b.find(SB), b.find(SN)) if i >= 0], default=-1)
    if s < 0 or len(b) < s + 16:
        return []
    begin = b[s:s + 16]
    out = [describe_spack(begin)]
    if begin[:4] == SN:
        return out
    e = b.find(SE, s + 16)
    if e < 0 or len(b) < e + 16:
        return out + ["incomplete"]
    end = b[e:e + 16]
    out.append(describe_spack(end))
    if end[4:] != begin[4:] or e == s + 16:
        return out + ["invalid"]
    work = b[s + 16:e]
    heads = [i for i in range(len(work) - 3) if work[i:i + 4] in (HP_TCP, HP_UDP)]
    i = 0
    while i < len(heads) and heads[i] + 60 <= len(work):
        start = heads[i]
        lenpack = struct.unpack_from("<q", work, start + 4)[0]
        stop = start + 60 + lenpack
        if lenpack < 0 or (stop != len(work) and stop not in heads):
            stop = next((h for h in heads if h >= start + 60), len(work))
        packet = work[start + 60:stop]
        if packet != NULL8:
            out.append(describe_hpack(work[start:start + 60]))
            out += read_stream(packet)
        while i < len(heads) and heads[i] < stop:
            i += 1
    return out


# ---- commands --------------------------------------------------------------

PTYPES = ["none", "string", "integer", "float", "datetime", "bin", "boolean"]


def cmd_bytes(name, params):
    out = bytes([len(name) & 0xFF]) + name + bytes([len(params) & 0xFF])
    for pname, ptype, value in params:
        out += bytes([len(pname) & 0xFF]) + pname + bytes([PTYPES.index(ptype)]) + struct.pack("<I", len(value))
        out += value
    return out


def param_value(ptype, text):
    if ptype == "integer":
        return struct.pack("<q", int(text))
    if ptype in ("float", "datetime"):
        return struct.pack("<d", float(text))
    if ptype == "boolean":
        return bytes([1 if text == "1" else 0])
    return bytes.fromhex(text)


def read_cmds(b):
    if not b:
        return []
    out, p = [], 1
    for _ in range(b[0]):
        name, params, ok = b"", [], True

        def take(n):
            nonlocal p, ok
            if not ok or len(b) < p + n:
                ok = False
                return None
            p += n
            return b[p - n:p]

        n = take(1)
        name = take(n[0]) if n else None
        count = take(1)
        for _ in range(count[0] if count else 0):
            pn = take(1)
            pname = take(pn[0]) if pn else None
            ptype = take(1)
            vlen = take(4)
            value = take(struct.unpack("<I", vlen)[0]) if vlen else None
            if not ok:
                break
            params.append("%s:%s:%s" % (pname.hex(), PTYPES[ptype[0]] if ptype[0] < 7 else ptype[0], value.hex()))
        out.append("cmd name=%s params=%s" % ((name or b"").hex() if ok else "", ",".join(params)))
        if not ok:
            break
    return out


# ---- command line ----------------------------------------------------------

def fields(parts):
    return dict(x.split("=", 1) for x in parts)


def test_bytes(f):
    """fill=N,SEED: N bytes of a pattern that compresses; rand=N,SEED: N bytes that do not."""
    if "fill" in f:
        n, seed = (int(x) for x in f["fill"].split(","))
        return bytes((i * seed // 7) & 0xFF for i in range(n))
    if "rand" in f:
        n, x = (int(v) for v in f["rand"].split(","))
        out = bytearray()
        for _ in range(n):
            x = (x * 1103515245 + 12345) & 0x7FFFFFFF
            out.append((x >> 16) & 0xFF)
        return bytes(out)
    return b""


def encode_case(line):
    kind, *rest = line.split()
    f = fields(rest)
    if kind == "packet":
        payload = bytes.fromhex(f.get("payload", ""))
        payload += test_bytes(f)
        pk = encode_payload(int(f["type"]), f, payload)
        return b"".join(pk) if f.get("proto", "tcp") != "udp" else pk
    if kind == "header":
        code = int(f["type"])
        guids = [bytes.fromhex(f.get(k, "00" * 16)) for k in ("from", "to", "group")]
        word = flag_word(code, guids, f.get("useguid", "1") == "1")
        return header_bytes(word, guids, int(f.get("media", "0")), int(f.get("part", "0")), int(f.get("len", "0")),
                            info_bytes(code, f))
    if kind == "block":
        return block(bytes.fromhex(f.get("data", "")) + test_bytes(f))
    if kind == "batch":  # one pulled answer carrying one payload
        payload = bytes.fromhex(f.get("payload", "")) + test_bytes(f)
        pk = b"".join(encode_payload(int(f["type"]), dict(f, proto="tcp"), payload))
        key, to, frm, group = int(f.get("key", "0")), *(bytes.fromhex(f.get(k, "00" * 16)) for k in ("to", "from", "group"))
        return spack(SB, key, len(pk) + 60) + hpack(HP_TCP, len(pk), to, frm, group) + pk + spack(SE, key, len(pk) + 60)
    if kind == "hpack":
        return hpack(f["marker"].encode(), int(f["len"]), *(bytes.fromhex(f.get(k, "00" * 16))
                                                             for k in ("to", "from", "group")))
    if kind == "spack":
        return spack(f["marker"].encode(), int(f["key"]), int(f["len"]))
    if kind == "request":
        return f["text"].encode() + bytes.fromhex(f["guid"]) + struct.pack("<I", int(f["key"]))
    if kind == "cmd":
        params = []
        for item in filter(None, f.get("params", "").split(",")):
            pname, ptype, value = item.split(":")
            params.append((bytes.fromhex(pname), ptype, param_value(ptype, value)))
        return bytes([1]) + cmd_bytes(bytes.fromhex(f["name"]), params)
    raise SystemExit("unknown case kind: " + kind)


def decode(kind, b):
    if kind == "stream":
        return read_stream(b)
    if kind == "datagram":
        return [line for d in b for line in read_datagram(d)]
    if kind == "batch":
        return read_batch(b)
    if kind == "cmd":
        return read_cmds(b)
    if kind == "block":
        data, _, _ = read_blocks(b, 0, None, lambda size, got: max(4 * size, INFLATE_FLOOR))
        return ["block size=%d crc=%08x" % (len(data), zlib.crc32(data))]
    if kind == "hpack":
        return [describe_hpack(b)] if len(b) >= 60 else []
    if kind == "spack":
        return [describe_spack(b)] if len(b) >= 16 else []
    if kind == "request":
        return [describe_request(b)] if len(b) >= 25 else []
    raise SystemExit("unknown decode kind: " + kind)


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "encode":
        for line in sys.stdin:
            if line.strip():
                out = encode_case(line.strip())
                sys.stdout.write((out.hex() if isinstance(out, bytes) else " ".join(d.hex() for d in out)) + "\n")
        return
    if len(sys.argv) >= 2 and sys.argv[1] == "decode":
        for line in sys.stdin:
            kind, *hexes = line.split()
            items = [bytes.fromhex(x) for x in hexes]
            b = items if kind == "datagram" else b"".join(items)
            sys.stdout.write("".join(x + "\n" for x in decode(kind, b)) + "--\n")
        return
    raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
