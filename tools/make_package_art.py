#!/usr/bin/env python3
"""Draws the package's side picture (240 x 320, 24 bits) and window icon
(32 x 32 and 16 x 16, 256 colours) from code, so the same bytes come out on
every run and no artwork has to be kept in the tree.

The picture: a night-blue to teal gradient, a phone outline with a lit screen
and a downward arrow onto a bar: firmware going into the phone.
"""

import argparse
import os
import struct
import sys

NAVY = (11, 42, 74)
TEAL = (29, 122, 140)
FRAME = (214, 222, 230)
SCREEN = (18, 30, 44)
GLOW = (120, 210, 225)
WHITE = (255, 255, 255)


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x, left + radius), right - 1 - radius)
    cy = min(max(y, top + radius), bottom - 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def in_arrow(x, y, cx, top, shaft_w, shaft_h, head_w, head_h):
    """A downward arrow: a shaft from top, then a triangle head."""
    if top <= y < top + shaft_h and abs(x - cx) * 2 < shaft_w:
        return True
    hy = y - (top + shaft_h)
    if 0 <= hy < head_h:
        half = head_w / 2 * (1 - hy / head_h)
        return abs(x - cx) < half
    return False


def side_picture_pixel(x, y, w, h):
    t = y / (h - 1)
    colour = lerp(NAVY, TEAL, t)
    # Soft diagonal light band across the background.
    band = (x + y * 0.6) % 180
    if band < 24:
        colour = lerp(colour, WHITE, 0.06)
    left, top, right, bottom = 75, 70, 165, 250
    if in_rounded_rect(x, y, left, top, right, bottom, 14):
        colour = FRAME
        if in_rounded_rect(x, y, left + 7, top + 18, right - 7, bottom - 26, 3):
            s = (y - (top + 18)) / (bottom - 26 - top - 18)
            colour = lerp(SCREEN, lerp(SCREEN, GLOW, 0.35), s)
            if in_arrow(x, y, 120, 112, 14, 40, 44, 26):
                colour = WHITE
            if 188 <= y < 196 and 92 <= x < 148:
                colour = GLOW
        if in_rounded_rect(x, y, 111, bottom - 19, 129, bottom - 9, 5):
            colour = lerp(FRAME, SCREEN, 0.25)
    return colour


def side_picture(width=240, height=320):
    row_size = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(width):
            r, g, b = side_picture_pixel(x, y, width, height)
            row += bytes((b, g, r))
        row += bytes(row_size - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return file_header + info + pixels


def icon_pixel(x, y, size):
    """None for transparent, else a colour."""
    s = size / 32.0
    if not in_rounded_rect(x, y, 1 * s, 1 * s, 31 * s, 31 * s, 6 * s):
        return None
    colour = lerp(TEAL, NAVY, y / (size - 1))
    if in_arrow(x + 0.5, y, 16 * s, 5 * s, 6 * s, 10 * s, 18 * s, 8 * s):
        colour = WHITE
    if 24 * s <= y < 27 * s and 8 * s <= x < 24 * s:
        colour = GLOW
    return colour


def icon_image(size):
    grid = [[icon_pixel(x, y, size) for x in range(size)] for y in range(size)]
    palette = [(0, 0, 0)]
    for row in grid:
        for c in row:
            if c is not None and c not in palette:
                palette.append(c)
    if len(palette) > 256:
        raise SystemExit("icon uses more than 256 colours")
    index = {c: i for i, c in enumerate(palette)}
    palette += [(0, 0, 0)] * (256 - len(palette))
    xor_row = (size + 3) & ~3
    and_row = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(index[c] if c is not None else 0 for c in grid[y])
        xor += row + bytes(xor_row - len(row))
        bits = bytearray(and_row)
        for x, c in enumerate(grid[y]):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return info + colours + xor + mask


def icon(sizes=(32, 16)):
    images = [icon_image(s) for s in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def write(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bitmap", required=True, help="side picture (.bmp) to write")
    parser.add_argument("--icon", required=True, help="window icon (.ico) to write")
    args = parser.parse_args()
    write(args.bitmap, side_picture())
    write(args.icon, icon())
    return 0


if __name__ == "__main__":
    sys.exit(main())
