#!/usr/bin/env python3
"""Decodes the PNGs that paste_tests wrote, with zlib and struct only, and checks every
pixel against the test pattern (the same formula as PatternPixel in paste_test_support.cpp):
the colours as the bitmap held them and no transparency, whatever the bitmap's alpha was."""
import os
import re
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def pattern_rgb(x, y):
    b = (x * 7 + y * 3) & 0xFF
    g = (x * y + 11) & 0xFF
    r = (255 - x * 5 + y) & 0xFF
    return r, g, b


def read_chunks(data):
    if data[:8] != SIGNATURE:
        raise ValueError("not a PNG signature")
    pos = 8
    while pos < len(data):
        if pos + 8 > len(data):
            raise ValueError("chunk header cut short")
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length or pos + 12 + length > len(data):
            raise ValueError("chunk %r cut short" % kind)
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            raise ValueError("bad CRC in chunk %r" % kind)
        yield kind, body
        pos += 12 + length
        if kind == b"IEND":
            return
    raise ValueError("no IEND chunk")


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(raw, width, height, bpp):
    stride = width * bpp
    out = bytearray(stride * height)
    prev = bytearray(stride)
    pos = 0
    for y in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        if len(line) != stride:
            raise ValueError("image data cut short")
        if kind == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 0xFF
        elif kind == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 0xFF
        elif kind == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                upleft = prev[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + paeth(left, prev[i], upleft)) & 0xFF
        elif kind != 0:
            raise ValueError("unknown filter type %d" % kind)
        out[y * stride:(y + 1) * stride] = line
        prev = line
    return out


def decode(path):
    """Returns (width, height, channels, pixel bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    header = None
    idat = bytearray()
    for kind, body in read_chunks(data):
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    if header is None:
        raise ValueError("no IHDR chunk")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError("unexpected layout: depth %d, colour type %d, interlace %d"
                         % (depth, colour, interlace))
    channels = 3 if colour == 2 else 4
    return width, height, channels, unfilter(zlib.decompress(bytes(idat)), width, height, channels)


def check(path, width, height):
    w, h, channels, pixels = decode(path)
    if (w, h) != (width, height):
        return "size %dx%d, expected %dx%d" % (w, h, width, height)
    for y in range(h):
        for x in range(w):
            i = (y * w + x) * channels
            got = tuple(pixels[i:i + 3])
            if got != pattern_rgb(x, y):
                return "pixel (%d,%d) is %r, expected %r" % (x, y, got, pattern_rgb(x, y))
            if channels == 4 and pixels[i + 3] != 255:
                return "pixel (%d,%d) has alpha %d" % (x, y, pixels[i + 3])
    return None


def main():
    folder = sys.argv[1]
    names = sorted(n for n in os.listdir(folder) if re.fullmatch(r"pattern_\d+x\d+\.png", n))
    if len(names) < 2:
        print("expected the pattern PNGs in %s, found %r" % (folder, names))
        return 1
    failed = 0
    for name in names:
        width, height = map(int, re.findall(r"\d+", name))
        try:
            problem = check(os.path.join(folder, name), width, height)
        except (ValueError, zlib.error) as error:
            problem = str(error)
        print("%s: %s" % (name, problem or "ok"))
        failed += problem is not None
    print("%d passed, %d failed" % (len(names) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
