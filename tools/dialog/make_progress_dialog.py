#!/usr/bin/env python3
"""Writes the installer's progress dialog as a plain dialog template (the
binary form of resource 103), byte for byte.

The resource compiler we build with writes a control's class name in capitals;
this template keeps the progress bar's class exactly as registered, so the
dialog is compiled here and the .rc file includes the bytes.

usage: make_progress_dialog.py OUTPUT
"""
import struct
import sys

# The dialog: style, position and size in dialog units, point size and font.
DIALOG_STYLE = 0x90C008C0  # WS_POPUP WS_VISIBLE WS_CAPTION DS_MODALFRAME DS_CENTER DS_SETFONT
DIALOG_RECT = (0, 0, 230, 215)
FONT = (8, "MS Sans Serif")

BUTTON, EDIT, STATIC = 0x0080, 0x0081, 0x0082  # predefined class ordinals

# The controls in tab order: id, class (ordinal or name), text, style, x, y, width, height.
CONTROLS = [
    (208, EDIT, "", 0x50A10804, 10, 90, 210, 40),                               # description box
    (2, BUTTON, "Cancel", 0x50010000, 89, 199, 50, 14),                         # Cancel
    (201, "msctls_progress32", "Progress1", 0x50800001, 10, 170, 210, 6),       # progress bar
    (203, STATIC, "", 0x50020001, 10, 180, 210, 10),                            # progress text
    (204, STATIC, "", 0x50020000, 10, 151, 210, 17),                            # status line
    (0xFFFF, BUTTON, "Download Status", 0x50000007, 5, 140, 220, 55),           # status frame
    (206, BUTTON, "", 0x50000007, 5, 80, 220, 55),                              # heading frame
    (205, STATIC, "", 0x50020000, 5, 55, 220, 20),                              # information line
]


def text(value):
    """A template string field: UTF-16 with its NUL."""
    return value.encode("utf-16-le") + b"\0\0"


def name_or_ordinal(value):
    if isinstance(value, int):
        return struct.pack("<HH", 0xFFFF, value)
    return text(value)


def template():
    data = bytearray()
    x, y, cx, cy = DIALOG_RECT
    data += struct.pack("<IIHhhhh", DIALOG_STYLE, 0, len(CONTROLS), x, y, cx, cy)
    data += b"\0\0"      # no menu
    data += b"\0\0"      # the standard dialog class
    data += text("")     # the title is set at run time
    data += struct.pack("<H", FONT[0]) + text(FONT[1])
    for control_id, window_class, caption, style, x, y, cx, cy in CONTROLS:
        data += b"\0" * (-len(data) % 4)  # each control starts on a DWORD boundary
        data += struct.pack("<IIhhhhH", style, 0, x, y, cx, cy, control_id)
        data += name_or_ordinal(window_class)
        data += text(caption)
        data += b"\0\0"  # no creation data
    return bytes(data)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    with open(argv[1], "wb") as out:
        out.write(template())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
