#!/usr/bin/env python3
"""Writes the demo release's firmware image: a packaged image with one section
(51, in two parts) and the 2048-byte version block after it; with --boot-loader, its
boot-loader image instead: one section (50) and nothing after it.

The contents are synthetic and deterministic: the same bytes on every run, so the
build is reproducible and nothing binary is kept in the tree.

Layout (all words 32-bit little-endian):
  0x000  header (256 bytes): magic 01 13 15 13, tag "3GIMAGE ", word 0x10 = 0x409,
         L51a at 0x14, L51b at 0x18, type 4 at 0x34, table offset 0 at 0x44,
         version block length 2048 at 0x48, zeros elsewhere
  0x100  section 51, first part (L51a bytes): a 32-bit ARM ELF executable header
         followed by filler
  ...    section 51, second part (L51b bytes): "Intel_FBF" followed by filler
  ...    version block (2048 bytes): "1.2.3", "1.2.3.4", "1.2.3.4.5", each
         NUL-padded to 64 bytes, then zeros

Boot-loader image (BOOT_TOTAL bytes): the same header words except L51a = L51b = 0,
L50 = 196,608 at 0x30 and no version block (0x48 = 0); section 50 follows at 0x100.

--fault makes an image the updater must refuse before it touches the phone, for the
tests: "short" ends one byte before the last section does, "no-unit" has every
section size 0 (the header and the version block only).
"""

import argparse
import hashlib
import os
import struct
import sys

HEADER_SIZE = 256
L51A = 780_156
L51B = 4_259_840
VERSION_BLOCK = 2048
IMAGE_TYPE = 4
TOTAL = HEADER_SIZE + L51A + L51B + VERSION_BLOCK  # 5,042,300
L50 = 196_608
BOOT_TOTAL = HEADER_SIZE + L50  # 196,864


def filler(label: bytes, length: int) -> bytes:
    """Deterministic bytes that look like compressed data."""
    out = bytearray()
    counter = 0
    while len(out) < length:
        out += hashlib.sha256(label + struct.pack("<I", counter)).digest()
        counter += 1
    return bytes(out[:length])


def header(l51a=L51A, l51b=L51B, l50=0, version_block_length=VERSION_BLOCK) -> bytes:
    h = bytearray(HEADER_SIZE)
    h[0:4] = bytes([0x01, 0x13, 0x15, 0x13])
    h[4:12] = b"3GIMAGE "
    struct.pack_into("<I", h, 0x10, 0x409)
    struct.pack_into("<I", h, 0x14, l51a)
    struct.pack_into("<I", h, 0x18, l51b)
    struct.pack_into("<I", h, 0x30, l50)
    struct.pack_into("<I", h, 0x34, IMAGE_TYPE)
    struct.pack_into("<I", h, 0x44, 0)
    struct.pack_into("<I", h, 0x48, version_block_length)
    return bytes(h)


def arm_executable() -> bytes:
    """An ELF32 little-endian ARM executable header with one loadable segment."""
    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    entry = 0x8000_1000
    elf = ident + struct.pack(
        "<HHIIIIIHHHHHH",
        2,      # e_type: executable
        40,     # e_machine: ARM
        1,      # e_version
        entry,  # e_entry
        52,     # e_phoff
        0,      # e_shoff
        0,      # e_flags
        52,     # e_ehsize
        32,     # e_phentsize
        1,      # e_phnum
        0, 0, 0)
    program_header = struct.pack("<IIIIIIII", 1, 0x1000, 0x8000_0000, 0x8000_0000,
                                 L51A - 0x1000, L51A - 0x1000, 5, 0x1000)
    head = elf + program_header
    return head + bytes(0x1000 - len(head)) + filler(b"section 51a", L51A - 0x1000)


def flash_block() -> bytes:
    magic = b"Intel_FBF"
    return magic + filler(b"section 51b", L51B - len(magic))


def version_block() -> bytes:
    block = bytearray(VERSION_BLOCK)
    for i, text in enumerate((b"1.2.3", b"1.2.3.4", b"1.2.3.4.5")):
        block[64 * i:64 * i + len(text)] = text
    return bytes(block)


def image() -> bytes:
    data = header() + arm_executable() + flash_block() + version_block()
    assert len(data) == TOTAL, len(data)
    return data


def boot_loader_image() -> bytes:
    data = header(l51a=0, l51b=0, l50=L50, version_block_length=0) + filler(b"section 50", L50)
    assert len(data) == BOOT_TOTAL, len(data)
    return data


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", required=True, help="image file to write")
    parser.add_argument("--boot-loader", action="store_true", help="the boot-loader image instead")
    parser.add_argument("--fault", choices=("short", "no-unit"), help="a broken image, for the tests")
    args = parser.parse_args()
    data = boot_loader_image() if args.boot_loader else image()
    if args.fault == "short":
        data = data[:HEADER_SIZE + (L50 if args.boot_loader else L51A + L51B) - 1]
    elif args.fault == "no-unit":
        data = header(l51a=0, l51b=0) + version_block()
    tmp = args.output + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
