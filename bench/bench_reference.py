#!/usr/bin/env python3
"""Reference PNG encode of the benchmark's raw frames on the Linux side: RGB, 8 bits,
filter type 0 (none) on every row, zlib level 6 in one IDAT chunk. Reads the RESULT lines
of paste_benchmark on standard input and prints both timings, their ratio and the sizes."""
import os
import struct
import sys
import time
import zlib


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def encode(raw, width, height):
    rgb = bytearray(width * height * 3)
    rgb[0::3] = raw[2::4]
    rgb[1::3] = raw[1::4]
    rgb[2::3] = raw[0::4]
    stride = width * 3
    rows = b"".join(b"\x00" + bytes(rgb[y * stride:(y + 1) * stride]) for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


def main():
    folder = sys.argv[1]
    for line in sys.stdin:
        if not line.startswith("RESULT"):
            continue
        fields = line.split()
        width, height = int(fields[1]), int(fields[2])
        values = dict(f.split("=") for f in fields[3:])
        raw_path = os.path.join(folder, "frame_%dx%d.raw" % (width, height))
        with open(raw_path, "rb") as f:
            raw = f.read()
        os.remove(raw_path)
        start = time.perf_counter()
        png = encode(raw, width, height)
        python_ms = 1000 * (time.perf_counter() - start)
        wic_ms = float(values["encode_ms"])
        print("%dx%d: reference zlib-6 filter-none encode %.1f ms, %d bytes; "
              "WIC/reference time %.2f, size %.2f"
              % (width, height, python_ms, len(png), wic_ms / python_ms,
                 int(values["png_bytes"]) / len(png)))


if __name__ == "__main__":
    main()
