#!/usr/bin/env python3
"""Draws the application icon (resource 128) and writes it as a Windows .ico file
with 16x16 and 32x32 images, 32 bits per pixel with an AND mask.

Usage: make_icon.py OUT.ico   (res/quorsel.ico is its committed output)
"""
import math
import struct
import sys


def pixel(x, y, size):
    """BGRA of one pixel: a blue rounded tile, a white access-point mast with two
    radio arcs, and a green arrow pointing down into it (an update)."""
    s = size / 32.0
    cx, cy = (x + 0.5) / s, (y + 0.5) / s  # position in 32-unit space
    # Rounded tile
    r = 6.0
    dx = max(r - cx, 0.0, cx - (32 - r))
    dy = max(r - cy, 0.0, cy - (32 - r))
    if math.hypot(dx, dy) > r:
        return (0, 0, 0, 0)
    color = (0xB0, 0x5A, 0x1E, 0xFF)  # B, G, R, A: a deep blue
    # Mast and base
    if 14.5 <= cx <= 17.5 and 14 <= cy <= 27:
        color = (0xFF, 0xFF, 0xFF, 0xFF)
    if 10 <= cx <= 22 and 25 <= cy <= 28:
        color = (0xFF, 0xFF, 0xFF, 0xFF)
    # Radio arcs around the mast's top
    d = math.hypot(cx - 16, cy - 14)
    ang = math.degrees(math.atan2(-(cy - 14), cx - 16))
    if (5.0 <= d <= 6.6 or 9.0 <= d <= 10.6) and (20 <= ang <= 70 or 110 <= ang <= 160):
        color = (0xFF, 0xFF, 0xFF, 0xFF)
    # Update arrow at the top
    if 14.5 <= cx <= 17.5 and 3 <= cy <= 8:
        color = (0x40, 0xD0, 0x40, 0xFF)
    if 8 <= cy <= 12 and abs(cx - 16) <= (12 - cy) * 1.1:
        color = (0x40, 0xD0, 0x40, 0xFF)
    return color


def image(size):
    rows = []
    mask_rows = []
    stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):  # bottom-up
        row = bytearray()
        mask = bytearray(stride)
        for x in range(size):
            b, g, r, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
            if a == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b''.join(rows) + b''.join(mask_rows)


def main():
    if len(sys.argv) != 2:
        raise SystemExit('usage: make_icon.py OUT.ico')
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
