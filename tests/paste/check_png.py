#!/usr/bin/env python3
"""Decodes the PNGs paste_tests wrote, with zlib and struct only, and checks every pixel
against the test pattern (PatternImage in paste_test_support.cpp): the bitmap's colours and
no transparency, whatever the bitmap's alpha was."""
import os
import re
import struct
import sys
import zlib


def read_chunks(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG signature")
    pos = 8
    while pos + 12 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body, end = data[pos + 8:pos + 8 + length], pos + 12 + length
        if end > len(data):
            raise ValueError("chunk %r cut short" % kind)
        if zlib.crc32(kind + body) != struct.unpack(">I", data[end - 4:end])[0]:
            raise ValueError("bad CRC in chunk %r" % kind)
        yield kind, body
        if kind == b"IEND":
            return
        pos = end
    raise ValueError("no IEND chunk")


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def unfilter(raw, width, height, bpp):
    stride, out, prev = width * bpp, bytearray(), bytearray(width * bpp)
    for y in range(height):
        pos = y * (stride + 1)
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        if len(line) != stride:
            raise ValueError("image data cut short")
        if kind == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 0xFF
        elif kind == 2:
            line = bytearray((v + p) & 0xFF for v, p in zip(line, prev))
        elif kind == 3:
            for i in range(stride):
                line[i] = (line[i] + (((line[i - bpp] if i >= bpp else 0) + prev[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                left, upleft = (line[i - bpp], prev[i - bpp]) if i >= bpp else (0, 0)
                line[i] = (line[i] + paeth(left, prev[i], upleft)) & 0xFF
        elif kind != 0:
            raise ValueError("unknown filter type %d" % kind)
        out += line
        prev = line
    return out


def check(path, width, height):
    with open(path, "rb") as f:
        chunks = list(read_chunks(f.read()))
    header = [body for kind, body in chunks if kind == b"IHDR"]
    if not header:
        return "no IHDR chunk"
    w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", header[0])
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        return "unexpected layout: depth %d, colour type %d, interlace %d" % (depth, colour, interlace)
    if (w, h) != (width, height):
        return "size %dx%d, expected %dx%d" % (w, h, width, height)
    channels = 3 if colour == 2 else 4
    idat = b"".join(body for kind, body in chunks if kind == b"IDAT")
    pixels = unfilter(zlib.decompress(idat), w, h, channels)
    for y in range(h):
        for x in range(w):
            i = (y * w + x) * channels
            want = ((255 - x * 5 + y) & 0xFF, (x * y + 11) & 0xFF, (x * 7 + y * 3) & 0xFF)
            if tuple(pixels[i:i + 3]) != want:
                return "pixel (%d,%d) is %r, expected %r" % (x, y, tuple(pixels[i:i + 3]), want)
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
        try:
            problem = check(os.path.join(folder, name), *map(int, re.findall(r"\d+", name)))
        except (ValueError, zlib.error) as error:
            problem = str(error)
        print("%s: %s" % (name, problem or "ok"))
        failed += problem is not None
    print("%d passed, %d failed" % (len(names) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
