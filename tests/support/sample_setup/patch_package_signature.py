#!/usr/bin/env python3
"""Gives a linked program the setup package signature: the two bytes after "MZ"
(the DOS header's count of bytes on the last page, which the loader ignores)
become 0x01 0x01, so the file starts with 'M', 'Z', 0x01, 0x01. With --unstamp
they become 0x90 0x00 again, for a program that is no package."""
import sys

DOS_HEADER_SIZE = 64


def main(argv):
    unstamp = len(argv) == 3 and argv[1] == "--unstamp"
    if len(argv) != 2 and not unstamp:
        print("usage: patch_package_signature.py [--unstamp] PROGRAM", file=sys.stderr)
        return 2
    path = argv[-1]
    with open(path, "r+b") as program:
        header = program.read(DOS_HEADER_SIZE)
        if len(header) < DOS_HEADER_SIZE or header[:2] != b"MZ":
            print(f"{path}: not a Windows program", file=sys.stderr)
            return 1
        program.seek(2)
        program.write(b"\x90\x00" if unstamp else b"\x01\x01")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
