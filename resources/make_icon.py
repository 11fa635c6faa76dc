#!/usr/bin/env python3
"""Draws the Dropleaf icon (a green leaf-shaped drop on a rounded tile) at every size the
icon group carries and writes it as a .ico of 32-bpp images. Deterministic: the same
script always gives the same bytes, so the artwork needs no checked-in binary."""
import math
import struct
import sys

SIZES = [16, 20, 24, 32, 40, 48, 64, 128, 256]


def coverage(inside, x, y, samples=4):
    hits = 0
    for sy in range(samples):
        for sx in range(samples):
            if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def draw(size):
    s = float(size)
    radius = s * 0.22

    def in_tile(px, py):
        m = s * 0.04
        lo, hi = m, s - m
        cx = min(max(px, lo + radius), hi - radius)
        cy = min(max(py, lo + radius), hi - radius)
        return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2 and lo <= px <= hi and lo <= py <= hi

    def in_drop(px, py):
        # A drop: circle at the bottom, tapering to a point at the top.
        cx, cy, r = s * 0.5, s * 0.60, s * 0.24
        if (px - cx) ** 2 + (py - cy) ** 2 <= r * r:
            return True
        top = s * 0.16
        if top <= py <= cy:
            t = (py - top) / (cy - top)
            half = r * math.sin(t * math.pi / 2)
            return abs(px - cx) <= half
        return False

    def in_vein(px, py):
        return abs(px - s * 0.5) <= max(0.5, s * 0.025) and s * 0.34 <= py <= s * 0.76

    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            tile = coverage(in_tile, x, y)
            drop = coverage(in_drop, x, y)
            vein = coverage(in_vein, x, y) if size >= 32 else 0.0
            # Tile: deep teal; drop: light green; vein: white.
            r, g, b = 0x1E, 0x5F, 0x74
            r, g, b = [c0 + (c1 - c0) * drop for c0, c1 in zip((r, g, b), (0x8B, 0xD4, 0x5A))]
            r, g, b = [c0 + (c1 - c0) * vein for c0, c1 in zip((r, g, b), (0xF4, 0xFF, 0xEE))]
            a = tile
            row += bytes((int(b + 0.5), int(g + 0.5), int(r + 0.5), int(a * 255 + 0.5)))
        rows.append(bytes(row))
    return rows


def dib(size, rows):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(reversed(rows))  # bottom-up
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha carries the shape; the AND mask stays clear
    return header + pixels + mask


def main(out_path):
    images = [dib(n, draw(n)) for n in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(out_path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1])
