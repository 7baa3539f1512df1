#!/usr/bin/env python3
"""Draws the control's toolbox bitmap (resource 101): a 16 x 16, 16-colour,
bottom-up BMP file from the picture in toolbox.txt beside this script.

usage: make_toolbox_bitmap.py OUTPUT.bmp
"""
import os
import struct
import sys

SIZE = 16


def read_source(path):
    palette, rows, in_image = {}, [], False
    with open(path) as source:
        for number, line in enumerate(source, 1):
            line = line.rstrip("\n")
            if line.startswith("#") or not line.strip():
                continue
            if in_image:
                if len(line) != SIZE or any(c not in palette for c in line):
                    sys.exit(f"{path}:{number}: an image row is {SIZE} palette letters")
                rows.append(line)
            elif line == "image":
                in_image = True
            else:
                word, letter, colour = line.split()
                if word != "palette" or len(letter) != 1 or len(colour) != 6:
                    sys.exit(f"{path}:{number}: expected 'palette LETTER RRGGBB'")
                palette[letter] = int(colour, 16)
    if len(rows) != SIZE or not 0 < len(palette) <= 16:
        sys.exit(f"{path}: {SIZE} image rows and at most 16 colours are needed")
    return palette, rows


def bitmap(palette, rows):
    letters = list(palette)
    table = b"".join(struct.pack("<BBBB", palette[c] & 0xFF, (palette[c] >> 8) & 0xFF, palette[c] >> 16, 0)
                     for c in letters)
    table += b"\0\0\0\0" * (16 - len(letters))
    stride = SIZE // 2  # 4 bits a pixel: 8 bytes, already a multiple of 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for x in range(0, SIZE, 2):
            pixels.append(letters.index(row[x]) << 4 | letters.index(row[x + 1]))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 4, 0, stride * SIZE, 3779, 3779, 16, 0)
    offset = 14 + len(header) + len(table)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return file_header + header + table + bytes(pixels)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    palette, rows = read_source(os.path.join(os.path.dirname(os.path.abspath(__file__)), "toolbox.txt"))
    with open(argv[1], "wb") as out:
        out.write(bitmap(palette, rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
