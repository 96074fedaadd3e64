#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/<target>/seeds/).

The seeds are small and checked in; this script says where each came from and makes
them again, byte for byte. Images start from the demo release's generator
(tools/make_firmware_image.py); gzip streams come from Python's gzip module and the
system's gzip.
"""

import gzip
import io
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import make_firmware_image as demo  # noqa: E402

SPLIT = 0x3B00000


def write(target, name, data):
    folder = os.path.join(HERE, target, "seeds")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def sample(length, seed):
    out = bytearray()
    x = seed
    while len(out) < length:
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        r = x >> 24
        out.append(ord("a") + r % 8 if r < 200 else r)
    return bytes(out)


def image_header(sizes, type_=4, table=0, word48=0):
    """sizes: dict of L50, L51a, L51b, L52, L53, L54a, L54b."""
    h = bytearray(demo.header())
    for at in (0x14, 0x18, 0x1C, 0x24, 0x28, 0x2C, 0x30, 0x44, 0x48):
        struct.pack_into("<I", h, at, 0)
    where = {"L51a": 0x14, "L51b": 0x18, "L54a": 0x1C, "L52": 0x24, "L53": 0x28, "L54b": 0x2C, "L50": 0x30}
    for name, value in sizes.items():
        struct.pack_into("<I", h, where[name], value)
    struct.pack_into("<I", h, 0x34, type_)
    struct.pack_into("<I", h, 0x44, table)
    struct.pack_into("<I", h, 0x48, word48)
    return h


def gzip_tool(data, *options):
    return subprocess.run(["gzip", "-c", *options], input=data, stdout=subprocess.PIPE, check=True).stdout


def images():
    # The demo release's image, cut after 3 KiB: its sizes reach far past the end.
    write("image", "demo-release-cut", demo.image()[:3072])
    write("image", "worked-example", bytes(image_header({"L50": 4})) + bytes([1, 2, 3, 4]))
    sizes = {"L50": 5, "L51a": 7, "L51b": 9, "L52": 3, "L53": 2, "L54a": 11, "L54b": 6}
    body = sample(sum(sizes.values()), 7)
    write("image", "every-section", bytes(image_header(sizes)) + body)
    write("image", "split-section-54", bytes(image_header({"L54a": 0x100, "L54b": SPLIT + 1 - 0x100})) +
          sample(600, 9))
    write("image", "boot-loader-placeholder", b"fake")
    # Two extended-ROM entries after section 50, then the extension table that names
    # their sizes; the word at 0x0C (which the harness uses to pick an entry) picks
    # the second.
    first = gzip.compress(sample(2000, 3), mtime=0)
    second = gzip_tool(sample(3000, 4), "-9")
    sections = sample(8, 5)
    head = image_header({"L50": 8})
    struct.pack_into("<I", head, 0x0C, 1)
    table = bytearray(2048)
    struct.pack_into("<II", table, 196, len(first), len(second))
    offset = len(head) + len(sections) + len(first) + len(second)
    struct.pack_into("<I", head, 0x44, offset)
    write("image", "extended-rom-entries", bytes(head) + sections + first + second + bytes(table))


def streams():
    data = sample(5000, 11)
    write("gunzip", "plain", b"\x01" + gzip.compress(data, mtime=0))
    named = io.BytesIO()
    with gzip.GzipFile(filename="entry.bin", mode="wb", fileobj=named, mtime=0) as f:
        f.write(data)
    write("gunzip", "with-name", b"\x01" + named.getvalue())
    old = bytearray(gzip.compress(data, mtime=0))
    old[1] = 0x9E
    write("gunzip", "older-magic", b"\x01" + bytes(old))
    # Extra field and comment, by hand (FEXTRA | FCOMMENT).
    raw = gzip.compress(data, mtime=0)
    body = raw[10:]
    extra = b"AB\x02\x00xy"
    head = b"\x1f\x8b\x08\x14" + bytes(4) + b"\x00\x03" + struct.pack("<H", len(extra)) + extra + b"comment\x00"
    write("gunzip", "extra-and-comment", b"\x01" + head + body)
    # 1 KiB of room for 4 KiB of output: the cap is reached.
    write("gunzip", "over-small-cap", b"\x02" + gzip.compress(sample(4096, 12), mtime=0))
    write("gunzip", "stored-blocks", b"\x01" + gzip.compress(sample(300, 13), compresslevel=0, mtime=0))


def record(kind, value, word8=0):
    return struct.pack("<IIIII", kind, value, word8, 0, 0)


def runs(*pieces):
    out = bytearray()
    for p in pieces:
        assert len(p) < 256
        out += bytes([len(p)]) + p
    return bytes(out)


def status_streams():
    ready = record(0x55AA, 0x77, 1)
    progress = [record(0xAA55, v) for v in (10, 55, 90)]
    done = record(0x55AA, 0)
    write("boot_loader_stream", "serial-ready-progress-written", b"\x00" + runs(ready, *progress, done))
    shifted = b"\x00\x00\x00" + done
    write("boot_loader_stream", "serial-shifted-record", b"\x00" + runs(ready, shifted[:11], shifted[11:]))
    write("boot_loader_stream", "winusb-zero-length-packets", b"\x01" + runs(b"", ready, b"", b"", done))
    write("boot_loader_stream", "winusb-rejected", b"\x05" + runs(ready, record(0x55AA, 0x88)))
    write("boot_loader_stream", "serial-not-final-then-written", b"\x02" + runs(record(0x55AA, 5), done))
    write("boot_loader_stream", "serial-no-start-mark", b"\x00" + runs(ready, bytes(range(1, 41))))


def texts():
    def block(strings):
        out = bytearray()
        for s in strings:
            out += struct.pack("<H", len(s)) + s.encode("utf-16-le")
        return bytes(out)
    strings = [""] * 16
    strings[6] = "Flashwise for KROV_WORD_TEMPLATE"
    strings[15] = "Warning.\n This is not a \"KROV_WORD_TEMPLATE\" Device."
    table = block(strings)
    neutral = b"Krov Q512"
    payload = neutral + table
    split = len(neutral) * 256 // len(payload) + 1
    while len(payload) * split // 256 < len(neutral):
        split += 1
    write("package_texts", "name-and-string-block", bytes([3, split]) + payload)
    write("package_texts", "base-only-language-code", b"\x02\x00FRA\x00")
    write("package_texts", "long-new-version", b"\x01\xff" + b"V1.47.25.11_2026-11-20" * 3 + b"\x00")


def command_lines():
    write("wcestest_args", "enable-serial-usb", b"\x01C:\\work\\wcestest.exe\x00/c:su")
    write("wcestest_args", "disable-all-not-found", b"\x00wcestest.exe\x00/c:")
    write("wcestest_args", "usage", b"\x01wcestest\x00-?")
    write("wcestest_args", "bad-letter", b"\x01wcestest\x00/c:snux")
    write("wcestest_args", "no-colon", b"\x02wcestest\x00/cs")


def frame(kind, payload=b""):
    return struct.pack("<I", 1 + len(payload)) + bytes([kind]) + payload


def bridge():
    # The worked example's unit over the serial transport, as a stand-in sends it.
    header = bytearray(256)
    header[0:12] = bytes([0x01, 0x13, 0x15, 0x13]) + b"3GIMAGE "
    for at, v in ((0x0C, 0x04030616), (0x10, 0x409), (0x30, 4), (0x34, 4), (0x40, 4)):
        struct.pack_into("<I", header, at, v)

    def request(flag):
        block = bytearray(72)
        struct.pack_into("<IIII", block, 0, 0x5566, 0x9988, 0x9AA80000, 260)
        block[0x10:0x10 + 11] = b"Tarn_G4.abi"
        block[0x2E] = flag
        struct.pack_into("<H", block, 0x30, 4)
        struct.pack_into("<I", block, 0x44, 639)
        return bytes(block)

    for transport, name in ((0, "serial-worked-example"), (1, "winusb-worked-example")):
        stream = frame(0x01, b"FWBL\x01" + bytes([transport]))
        stream += frame(0x02, b"\x00") + frame(0x03, request(1)) + frame(0x02, b"\x01")
        if transport == 0:
            stream += frame(0x05, struct.pack("<I", 0xDB))
        stream += frame(0x04, struct.pack("<I", 20))
        stream += frame(0x02, b"\x00") + frame(0x03, request(0)) + frame(0x02, b"\x01")
        stream += frame(0x03, bytes(header)) + frame(0x03, bytes([1, 2, 3, 4])) + frame(0x02, b"\x01")
        stream += frame(0x04, struct.pack("<I", 20)) + frame(0x06)
        write("bridge_frames", name, bytes([transport | (7 << 1)]) + stream)
    write("bridge_frames", "greet-first", b"\x00" + frame(0x04, struct.pack("<I", 20)) + frame(0x07))
    write("bridge_frames", "broken-length", b"\x01" + struct.pack("<I", 0) + b"\x01")


def pe_file(resources):
    """A 32-bit program file whose one section holds `resources`: (type, id, language,
    bytes), type a string for a named type or a number."""
    tree = {}
    for kind, rid, lang, data in resources:
        tree.setdefault(kind, {}).setdefault(rid, {})[lang] = data
    kinds = sorted(tree, key=lambda k: (isinstance(k, int), str(k)))
    dirs = 16 + 8 * len(kinds)
    count = 0
    for k in kinds:
        dirs += 16 + 8 * len(tree[k])
        for rid in tree[k]:
            dirs += 16 + 8 * len(tree[k][rid])
            count += len(tree[k][rid])
    names_at = dirs + 16 * count
    names = sum(2 + 2 * len(k) for k in kinds if isinstance(k, str))
    data_at = (names_at + names + 7) & ~7
    rsrc = bytearray(data_at)
    state = {"dir": 0, "entry": dirs, "name": names_at, "data": data_at}

    def directory(n):
        at = state["dir"]
        struct.pack_into("<H", rsrc, at + 14, n)
        state["dir"] += 16 + 8 * n
        return at

    root = directory(len(kinds))
    for i, k in enumerate(kinds):
        tdir = directory(len(tree[k]))
        if isinstance(k, str):
            struct.pack_into("<I", rsrc, root + 16 + 8 * i, 0x80000000 | state["name"])
            struct.pack_into("<H", rsrc, state["name"], len(k))
            rsrc[state["name"] + 2:state["name"] + 2 + 2 * len(k)] = k.encode("utf-16-le")
            state["name"] += 2 + 2 * len(k)
        else:
            struct.pack_into("<I", rsrc, root + 16 + 8 * i, k)
        struct.pack_into("<I", rsrc, root + 20 + 8 * i, 0x80000000 | tdir)
        for j, rid in enumerate(sorted(tree[k])):
            idir = directory(len(tree[k][rid]))
            struct.pack_into("<II", rsrc, tdir + 16 + 8 * j, rid, 0x80000000 | idir)
            for m, lang in enumerate(sorted(tree[k][rid])):
                data = tree[k][rid][lang]
                struct.pack_into("<II", rsrc, idir + 16 + 8 * m, lang, state["entry"])
                struct.pack_into("<II", rsrc, state["entry"], 0x1000 + len(rsrc), len(data))
                state["entry"] += 16
                rsrc += data
                rsrc += bytes((-len(rsrc)) % 8)
    head = bytearray(0x200)
    head[0:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x40)
    struct.pack_into("<IHH", head, 0x40, 0x4550, 0x14C, 1)
    struct.pack_into("<H", head, 0x54, 224)
    struct.pack_into("<H", head, 0x58, 0x10B)
    struct.pack_into("<I", head, 0x58 + 92, 16)
    struct.pack_into("<II", head, 0x58 + 112, 0x1000, len(rsrc))
    sec = 0x58 + 224
    head[sec:sec + 8] = b".rsrc\0\0\0"
    struct.pack_into("<IIII", head, sec + 8, len(rsrc), 0x1000, len(rsrc), 0x200)
    return bytes(head + rsrc)


def releases():
    def block(texts):
        slots = [""] * 16
        for i, t in texts:
            slots[i % 16] = t
        return b"".join(struct.pack("<H", len(t)) + t.encode("utf-16-le") for t in slots)

    image = bytearray(256 + 4)
    image[0:12] = b"\x01\x13\x15\x133GIMAGE "
    struct.pack_into("<III", image, 0x10, 0x409, 0, 0)
    struct.pack_into("<I", image, 0x30, 4)
    struct.pack_into("<I", image, 0x34, 4)
    image[256:260] = bytes([1, 2, 3, 4])
    texts = [("TXT", 156, 0, b"V2.1.7 FRA"), ("TXT", 157, 0, b"V3.42.10.2_2008-05-30"), ("TXT", 159, 0, b"FRA"),
             ("TXT", 159, 1028, b"CHT"), ("TXT", 160, 1028, b"Krov Q512"), ("TXT", 161, 1028, b"Krov Q512\0")]
    strings = [(6, 3, 1033, block([(33, "Tarn_G4.abi"), (37, "Tarn_G4_SPBL.abi")]))]
    write("release_file", "worked-example-release",
          pe_file(texts + strings + [("BIN", 152, 0, bytes(image)), ("BIN", 152, 1028, b"fake"), ("BIN", 153, 1028, b"fake")]))
    write("release_file", "texts-only", pe_file(texts))
    write("release_file", "string-table-only", pe_file(strings))


def main():
    images()
    streams()
    status_streams()
    texts()
    command_lines()
    bridge()
    releases()
    return 0


if __name__ == "__main__":
    sys.exit(main())
