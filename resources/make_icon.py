#!/usr/bin/env python3
"""Draws the Dropleaf icon (a green leaf-shaped drop on a rounded tile) at every size the
icon group carries and writes it as a .ico of 32-bpp images, the 256-pixel one PNG-compressed
as Windows expects since Vista; given a second path, also the setup's wizard picture (the
164x314 bitmap of its finish page) with the same drop. Deterministic: the same script always
gives the same bytes, so the artwork needs no checked-in binary."""
import math
import struct
import sys
import zlib

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
    small = size <= 20  # the notification area's sizes: drawn to the pixel grid
    radius = 3.0 if small else s * 0.22

    def in_tile(px, py):
        m = 0.0 if small else s * 0.04
        lo, hi = m, s - m
        cx = min(max(px, lo + radius), hi - radius)
        cy = min(max(py, lo + radius), hi - radius)
        return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2 and lo <= px <= hi and lo <= py <= hi

    def in_rim(px, py):
        # A light one-pixel rim: the dark tile stays apart from a dark taskbar.
        return in_tile(px, py) and not (1 <= px <= s - 1 and 1 <= py <= s - 1 and
                                        in_tile(px - 1, py) and in_tile(px + 1, py) and
                                        in_tile(px, py - 1) and in_tile(px, py + 1))

    def in_drop(px, py):
        # A drop: circle at the bottom, tapering to a point at the top.
        cx, cy, r = s * 0.5, s * 0.60, s * (0.28 if small else 0.24)
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
            rim = coverage(in_rim, x, y) if small else 0.0
            if small:  # crisp edges rather than a blur of half-covered pixels
                drop = min(1.0, max(0.0, (drop - 0.25) * 2))
            # Tile: deep teal; rim: pale teal; drop: light green; vein: white.
            r, g, b = 0x1E, 0x5F, 0x74
            r, g, b = [c0 + (c1 - c0) * rim for c0, c1 in zip((r, g, b), (0xB8, 0xE2, 0xDC))]
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


def png(size, rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack(
            '>I', zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b''.join(b'\0' + bytes(row[i + j] for i in range(0, len(row), 4) for j in (2, 1, 0, 3))
                   for row in rows)  # BGRA to RGBA, filter type none
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def wizard_bitmap(width=164, height=314, icon=128):
    """The finish page's picture: the large icon on a teal gradient, as a bottom-up 24-bpp BMP."""
    top, bottom = (0x2A, 0x7F, 0x93), (0x0E, 0x33, 0x40)
    glyph, left, upper = draw(icon), (width - icon) // 2, 72
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        t = y / (height - 1)
        row = bytearray()
        for x in range(width):
            r, g, b = [c0 + (c1 - c0) * t for c0, c1 in zip(top, bottom)]
            if left <= x < left + icon and upper <= y < upper + icon:
                gb, gg, gr, ga = glyph[y - upper][(x - left) * 4:(x - left) * 4 + 4]
                a = ga / 255
                r, g, b = r + (gr - r) * a, g + (gg - g) * a, b + (gb - b) * a
            row += bytes((int(b + 0.5), int(g + 0.5), int(r + 0.5)))
        rows.append(bytes(row) + bytes(stride - len(row)))
    pixels = b''.join(reversed(rows))
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info)) + info + pixels


def main(out_path, wizard_path=None):
    images = [(png if n >= 256 else dib)(n, draw(n)) for n in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(out_path, 'wb') as f:
        f.write(out)
    if wizard_path:
        with open(wizard_path, 'wb') as f:
            f.write(wizard_bitmap())


if __name__ == '__main__':
    main(*sys.argv[1:3])
