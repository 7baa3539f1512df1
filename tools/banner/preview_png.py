#!/usr/bin/env python3
"""Developer aid: turn the banner bitmap into an enlarged PNG to look at.

    preview_png.py BANNER.bmp PREVIEW.png [--scale N] [--frame]

Reads an uncompressed, bottom-up bitmap of 4 or 8 bits per pixel with a
colour table (what make_banner.py writes) and writes an RGB PNG with every
pixel enlarged to N x N (default 3). --frame puts the picture on a plain
grey dialog face with a border, roughly as the installer shows it.
Not part of the build. Standard library only.
"""

import argparse
import struct
import sys
import zlib


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        sys.exit("%s: not a bitmap file" % path)
    offset, = struct.unpack_from("<I", data, 10)
    size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    used, = struct.unpack_from("<I", data, 46)
    if bits not in (4, 8) or compression != 0 or height <= 0:
        sys.exit("%s: only uncompressed bottom-up 4/8-bit bitmaps are handled" % path)
    colours = used or (1 << bits)
    table = []
    for i in range(colours):
        b, g, r, _ = data[14 + size + 4 * i:14 + size + 4 * i + 4]
        table.append((r, g, b))
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(height):
        start = offset + (height - 1 - y) * stride
        raw = data[start:start + stride]
        if bits == 8:
            indices = raw[:width]
        else:
            indices = [(raw[x // 2] >> (0 if x % 2 else 4)) & 15 for x in range(width)]
        rows.append([table[i] for i in indices])
    return rows


def frame(rows, margin=12, face=(240, 240, 240), edge=(160, 160, 160)):
    width = len(rows[0])
    full = width + 2 * margin
    out = [[face] * full for _ in range(margin)]
    out += [[face] * margin + row + [face] * margin for row in rows]
    out += [[face] * full for _ in range(margin * 3)]
    out[0] = [edge] * full
    out[-1] = [edge] * full
    for row in out:
        row[0] = row[-1] = edge
    return out


def write_png(path, rows, scale):
    width, height = len(rows[0]) * scale, len(rows) * scale
    raw = bytearray()
    for row in rows:
        line = bytearray(b"\x00")
        for rgb in row:
            line += bytes(rgb) * scale
        raw += bytes(line) * scale

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bitmap")
    parser.add_argument("png")
    parser.add_argument("--scale", type=int, default=3)
    parser.add_argument("--frame", action="store_true")
    args = parser.parse_args()
    rows = read_bmp(args.bitmap)
    if args.frame:
        rows = frame(rows)
    write_png(args.png, rows, max(args.scale, 1))


if __name__ == "__main__":
    main()
