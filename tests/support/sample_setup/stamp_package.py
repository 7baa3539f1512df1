#!/usr/bin/env python3
"""stamp_package.py HEX PROGRAM: writes the two bytes after "MZ" of a linked
program (the DOS header's count of bytes on the last page, which the loader
ignores): 0101 makes it start as a package does, 'M', 'Z', 0x01, 0x01; 9000
gives back what the linker wrote."""
import sys

with open(sys.argv[2], "r+b") as program:
    program.seek(2)
    program.write(bytes.fromhex(sys.argv[1]))
