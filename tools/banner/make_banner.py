#!/usr/bin/env python3
"""Build the installer's banner bitmap from its source.

    make_banner.py OUTPUT.bmp       draw banner.txt with font.txt, write OUTPUT.bmp
    make_banner.py --check FILE.bmp verify FILE.bmp has the banner's exact format

The banner is a 345 x 82 Windows bitmap, 4 bits per pixel with a 16-colour
table, uncompressed, stored bottom-up, 3779 pixels per metre. The artwork
lives in banner.txt (palette and drawing commands) and font.txt (a pixel
font); both are plain text so the picture is reviewed and changed like code.
Output is byte-for-byte the same on every run. Standard library only.
"""

import argparse
import os
import shlex
import struct
import sys

WIDTH = 345
HEIGHT = 82
BIT_COUNT = 4
COLOURS = 16
PELS_PER_METRE = 3779

FILE_HEADER_SIZE = 14
INFO_HEADER_SIZE = 40
TABLE_SIZE = 4 * COLOURS
ROW_STRIDE = (WIDTH * BIT_COUNT + 31) // 32 * 4
IMAGE_SIZE = ROW_STRIDE * HEIGHT
BITS_OFFSET = FILE_HEADER_SIZE + INFO_HEADER_SIZE + TABLE_SIZE
FILE_SIZE = BITS_OFFSET + IMAGE_SIZE

HERE = os.path.dirname(os.path.abspath(__file__))

# 4x4 ordered-dither thresholds, 0..15.
BAYER = ((0, 8, 2, 10),
         (12, 4, 14, 6),
         (3, 11, 1, 9),
         (15, 7, 13, 5))


class SourceError(Exception):
    """A fault in banner.txt or font.txt, with the place it was found."""

    def __init__(self, path, line, message):
        where = "%s:%d" % (path, line) if line else path
        super().__init__("%s: %s" % (where, message))


def _source_lines(path):
    """Yield (line number, text) with comments and trailing blanks removed."""
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n").rstrip()
            if line.lstrip().startswith(";"):
                continue
            yield number, line


# ---------------------------------------------------------------- font

class Font:
    def __init__(self, rows, baseline, glyphs):
        self.rows = rows          # grid height, descenders included
        self.baseline = baseline  # rows standing on the baseline
        self.glyphs = glyphs      # char -> list of row strings

    def width_of(self, char):
        return len(self.glyphs[char][0])


def load_font(path):
    rows = baseline = None
    glyphs = {}
    current = None   # (char, line of its header)
    pending = []

    def finish():
        if current is None:
            return
        char, at = current
        if rows is None or baseline is None:
            raise SourceError(path, at, "'rows' and 'baseline' must come before the first glyph")
        if not baseline <= len(pending) <= rows:
            raise SourceError(path, at, "glyph %r has %d rows, expected %d to %d"
                              % (char, len(pending), baseline, rows))
        width = len(pending[0])
        if any(len(r) != width for r in pending):
            raise SourceError(path, at, "glyph %r has rows of different widths" % char)
        glyphs[char] = pending + ["." * width] * (rows - len(pending))

    for number, line in _source_lines(path):
        if not line:
            finish()
            current, pending = None, []
            continue
        if current is not None:
            if line.startswith("glyph "):
                raise SourceError(path, number, "a blank line must end the previous glyph")
            if set(line) - set("#."):
                raise SourceError(path, number, "glyph rows hold only '#' and '.'")
            pending.append(line)
            continue
        words = line.split()
        if words[0] in ("rows", "baseline") and len(words) == 2 and words[1].isdigit():
            value = int(words[1])
            if words[0] == "rows":
                rows = value
            else:
                baseline = value
        elif words[0] == "glyph" and len(words) == 2:
            char = " " if words[1] == "space" else words[1]
            if len(char) != 1:
                raise SourceError(path, number, "a glyph is one character or 'space'")
            if char in glyphs:
                raise SourceError(path, number, "glyph %r defined twice" % char)
            current, pending = (char, number), []
        else:
            raise SourceError(path, number, "expected 'rows N', 'baseline N' or 'glyph C'")
    finish()
    if not glyphs:
        raise SourceError(path, 0, "no glyphs")
    if not 0 < baseline <= rows:
        raise SourceError(path, 0, "baseline must lie within the rows")
    return Font(rows, baseline, glyphs)


# ---------------------------------------------------------------- canvas

class Canvas:
    """Palette indices, row 0 at the top. Drawing is clipped to the edges."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [bytearray(width) for _ in range(height)]
        self.ramp = []

    def paint(self, x, y, ink):
        if 0 <= x < self.width and 0 <= y < self.height:
            row = self.pixels[y]
            row[x] = ink(row[x])

    def span(self, x0, x1, y, ink):
        """Paint pixels x0 <= x < x1 of row y."""
        if not 0 <= y < self.height:
            return
        row = self.pixels[y]
        for x in range(max(x0, 0), min(x1, self.width)):
            row[x] = ink(row[x])


def solid(index):
    return lambda _old: index


def shifted(ramp, steps):
    """Move a pixel that is on the ramp 'steps' places along it."""
    position = {c: i for i, c in enumerate(ramp)}
    last = len(ramp) - 1

    def ink(old):
        if old not in position:
            return old
        return ramp[min(max(position[old] + steps, 0), last)]
    return ink


def draw_gradient(canvas, x, y, w, h, direction, stops):
    """Ordered-dithered blend through the stops, left to right or top to bottom."""
    length = w if direction == "across" else h
    segments = len(stops) - 1
    for py in range(y, y + h):
        for px in range(x, x + w):
            along = (px - x) if direction == "across" else (py - y)
            # Position along the stops in sixteenths; integer maths keeps the
            # result identical everywhere.
            scaled = along * segments * 16 // max(length - 1, 1)
            i, frac = divmod(scaled, 16)
            if i >= segments:
                i, frac = segments - 1, 16
            pick = stops[i + 1] if frac > BAYER[py % 4][px % 4] else stops[i]
            canvas.paint(px, py, solid(pick))


def draw_disc(canvas, cx, cy, outer, inner, ink):
    """Annulus inner < d <= outer around (cx, cy), tested at pixel centres."""
    o2, i2 = (2 * outer) ** 2, (2 * inner) ** 2
    for py in range(int(cy - outer) - 1, int(cy + outer) + 2):
        for px in range(int(cx - outer) - 1, int(cx + outer) + 2):
            dx = 2 * px + 1 - round(2 * cx)
            dy = 2 * py + 1 - round(2 * cy)
            d2 = dx * dx + dy * dy
            if d2 <= o2 and (inner <= 0 or d2 > i2):
                canvas.paint(px, py, ink)


def draw_polygon(canvas, points, ink):
    """Even-odd fill, sampled at pixel centres."""
    ys = [p[1] for p in points]
    for py in range(int(min(ys)), int(max(ys)) + 1):
        yc = py + 0.5
        crossings = []
        for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
            if (y1 <= yc) != (y2 <= yc):
                crossings.append(x1 + (yc - y1) * (x2 - x1) / (y2 - y1))
        crossings.sort()
        for a, b in zip(crossings[::2], crossings[1::2]):
            # Pixel px is inside when a <= px + 0.5 < b.
            canvas.span(int(-(-(a - 0.5) // 1)), int(-(-(b - 0.5) // 1)), py, ink)


def text_width(font, text, scale, bold):
    glyph_widths = sum(font.width_of(c) * scale + (1 if bold else 0) for c in text)
    return glyph_widths + scale * (len(text) - 1)


def draw_text(canvas, font, text, x, y, scale, bold, ink):
    """y is the top of the capitals; the baseline is at y + baseline * scale."""
    for char in text:
        rows = font.glyphs[char]
        for gy, row in enumerate(rows):
            for gx, cell in enumerate(row):
                if cell != "#":
                    continue
                top, left = y + gy * scale, x + gx * scale
                for py in range(top, top + scale):
                    canvas.span(left, left + scale + (1 if bold else 0), py, ink)
        x += font.width_of(char) * scale + (1 if bold else 0) + scale


# ---------------------------------------------------------------- layout

def _number(path, number, word):
    try:
        value = float(word)
    except ValueError:
        raise SourceError(path, number, "%r is not a number" % word) from None
    return int(value) if value == int(value) else value


def render(layout_path, font):
    """Run the drawing commands of the layout; return (palette, canvas)."""
    names = {}      # colour name -> index
    palette = []    # (red, green, blue)
    canvas = None

    def colour(number, word):
        if word not in names:
            raise SourceError(layout_path, number, "unknown colour %r" % word)
        return names[word]

    def ink_of(number, word):
        if word[:1] in "+-" and word[1:].isdigit():
            if not canvas.ramp:
                raise SourceError(layout_path, number, "%r needs a 'ramp' first" % word)
            return shifted(canvas.ramp, int(word))
        return solid(colour(number, word))

    def numbers(number, words, count):
        if len(words) < count:
            raise SourceError(layout_path, number, "expected %d numbers" % count)
        return [_number(layout_path, number, w) for w in words[:count]]

    for number, line in _source_lines(layout_path):
        if not line:
            continue
        try:
            words = shlex.split(line)
        except ValueError as e:
            raise SourceError(layout_path, number, str(e)) from None
        command, args = words[0], words[1:]

        if command == "size":
            if [_number(layout_path, number, a) for a in args] != [WIDTH, HEIGHT]:
                raise SourceError(layout_path, number, "the banner is %d x %d" % (WIDTH, HEIGHT))
            canvas = Canvas(WIDTH, HEIGHT)
            continue
        if command == "colour":
            if len(args) != 2 or len(args[1]) != 6:
                raise SourceError(layout_path, number, "expected 'colour NAME RRGGBB'")
            if args[0] in names:
                raise SourceError(layout_path, number, "colour %r named twice" % args[0])
            if len(palette) == COLOURS:
                raise SourceError(layout_path, number, "more than %d colours" % COLOURS)
            try:
                rgb = bytes.fromhex(args[1])
            except ValueError:
                raise SourceError(layout_path, number, "%r is not RRGGBB hex" % args[1]) from None
            names[args[0]] = len(palette)
            palette.append(tuple(rgb))
            continue

        if canvas is None:
            raise SourceError(layout_path, number, "'size' must come first")
        if len(palette) != COLOURS:
            raise SourceError(layout_path, number,
                              "all %d colours must be named before drawing (have %d)"
                              % (COLOURS, len(palette)))

        if command == "ramp":
            canvas.ramp = [colour(number, a) for a in args]
            if len(canvas.ramp) < 2 or len(set(canvas.ramp)) != len(canvas.ramp):
                raise SourceError(layout_path, number, "a ramp is two or more distinct colours")
        elif command == "gradient":
            x, y, w, h = numbers(number, args, 4)
            if len(args) < 7 or args[4] not in ("across", "down"):
                raise SourceError(layout_path, number,
                                  "expected 'gradient X Y W H across|down C1 C2 ...'")
            draw_gradient(canvas, x, y, w, h, args[4], [colour(number, a) for a in args[5:]])
        elif command == "rect":
            x, y, w, h = numbers(number, args, 4)
            if len(args) != 5:
                raise SourceError(layout_path, number, "expected 'rect X Y W H PAINT'")
            ink = ink_of(number, args[4])
            for py in range(y, y + h):
                canvas.span(x, x + w, py, ink)
        elif command in ("disc", "ring"):
            count = 3 if command == "disc" else 4
            if len(args) != count + 1:
                raise SourceError(layout_path, number, "expected '%s CX CY R%s PAINT'"
                                  % (command, "" if command == "disc" else " INNER"))
            values = numbers(number, args, count)
            inner = values[3] if command == "ring" else 0
            draw_disc(canvas, values[0], values[1], values[2], inner, ink_of(number, args[-1]))
        elif command == "poly":
            if len(args) < 4:
                raise SourceError(layout_path, number, "expected 'poly PAINT X,Y X,Y X,Y ...'")
            points = []
            for a in args[1:]:
                parts = a.split(",")
                if len(parts) != 2:
                    raise SourceError(layout_path, number, "%r is not X,Y" % a)
                points.append(tuple(_number(layout_path, number, p) for p in parts))
            draw_polygon(canvas, points, ink_of(number, args[0]))
        elif command == "text":
            run_text(layout_path, number, canvas, font, args, colour)
        else:
            raise SourceError(layout_path, number, "unknown command %r" % command)

    if canvas is None or len(palette) != COLOURS:
        raise SourceError(layout_path, 0, "needs 'size' and %d colours" % COLOURS)
    return palette, canvas


def run_text(path, number, canvas, font, args, colour):
    """text X Y [scale=N] [colour=C] [shadow=C] [bold] [anchor=left|centre|right] "TEXT"

    X, Y place the top-left of the capitals (anchor moves X to the centre or
    right end). A shadow is the same text one pixel down and right, drawn first.
    """
    options = {"scale": "1", "anchor": "left"}
    texts = []
    for a in args[2:]:
        if a == "bold":
            options["bold"] = True
        elif "=" in a and a.split("=", 1)[0] in ("scale", "colour", "shadow", "anchor"):
            key, value = a.split("=", 1)
            options[key] = value
        else:
            texts.append(a)
    if len(args) < 3 or len(texts) != 1 or "colour" not in options:
        raise SourceError(path, number, "expected 'text X Y colour=C [options] \"TEXT\"'")
    text = texts[0]
    x, y = (_number(path, number, a) for a in args[:2])
    scale = _number(path, number, options["scale"])
    bold = options.get("bold", False)
    if not isinstance(scale, int) or scale < 1:
        raise SourceError(path, number, "scale is a whole number from 1")
    missing = sorted(set(text) - set(font.glyphs))
    if missing:
        raise SourceError(path, number, "the font has no glyph for %s"
                          % ", ".join(repr(c) for c in missing))

    width = text_width(font, text, scale, bold)
    anchor = options["anchor"]
    if anchor in ("centre", "right"):
        x -= width // 2 if anchor == "centre" else width
    elif anchor != "left":
        raise SourceError(path, number, "anchor is left, centre or right")

    # Text that does not fit is a layout mistake, not something to clip.
    extra = 1 if "shadow" in options else 0
    if x < 0 or y < 0 or x + width + extra > canvas.width or y + font.rows * scale + extra > canvas.height:
        raise SourceError(path, number, "text %r does not fit in the banner (x %d..%d, y %d..%d)"
                          % (text, x, x + width + extra, y, y + font.rows * scale + extra))
    if "shadow" in options:
        draw_text(canvas, font, text, x + 1, y + 1, scale, bold, solid(colour(number, options["shadow"])))
    draw_text(canvas, font, text, x, y, scale, bold, solid(colour(number, options["colour"])))


# ---------------------------------------------------------------- bitmap file

def encode_bmp(palette, canvas):
    out = bytearray()
    out += struct.pack("<2sIHHI", b"BM", FILE_SIZE, 0, 0, BITS_OFFSET)
    out += struct.pack("<IiiHHIIiiII", INFO_HEADER_SIZE, WIDTH, HEIGHT, 1, BIT_COUNT, 0,
                       IMAGE_SIZE, PELS_PER_METRE, PELS_PER_METRE, COLOURS, 0)
    for red, green, blue in palette:
        out += bytes((blue, green, red, 0))
    for row in reversed(canvas.pixels):   # bottom row first
        packed = bytearray(ROW_STRIDE)
        for x in range(0, WIDTH, 2):
            high = row[x]
            low = row[x + 1] if x + 1 < WIDTH else 0
            packed[x // 2] = high << 4 | low
        out += packed
    assert len(out) == FILE_SIZE
    return bytes(out)


EXPECTED = (
    # field, offset, struct format, expected value
    ("bfType", 0, "2s", b"BM"),
    ("bfSize", 2, "I", FILE_SIZE),
    ("bfReserved1", 6, "H", 0),
    ("bfReserved2", 8, "H", 0),
    ("bfOffBits", 10, "I", BITS_OFFSET),
    ("biSize", 14, "I", INFO_HEADER_SIZE),
    ("biWidth", 18, "i", WIDTH),
    ("biHeight", 22, "i", HEIGHT),
    ("biPlanes", 26, "H", 1),
    ("biBitCount", 28, "H", BIT_COUNT),
    ("biCompression", 30, "I", 0),
    ("biSizeImage", 34, "I", IMAGE_SIZE),
    ("biXPelsPerMeter", 38, "i", PELS_PER_METRE),
    ("biYPelsPerMeter", 42, "i", PELS_PER_METRE),
    ("biClrUsed", 46, "I", COLOURS),
    ("biClrImportant", 50, "I", 0),
)


def check_bmp(data):
    """Return (fields read, list of problems) for the bytes of a banner file."""
    fields, problems = [], []
    header_end = FILE_HEADER_SIZE + INFO_HEADER_SIZE
    if len(data) < header_end:
        return fields, ["file is %d bytes, too short for the two headers (%d)"
                        % (len(data), header_end)]
    for name, offset, fmt, expected in EXPECTED:
        (value,) = struct.unpack_from("<" + fmt, data, offset)
        fields.append((name, value))
        if value != expected:
            problems.append("%s is %r, expected %r" % (name, value, expected))
    if len(data) != FILE_SIZE:
        problems.append("file is %d bytes, expected %d" % (len(data), FILE_SIZE))
    table = data[header_end:header_end + TABLE_SIZE]
    if len(table) == TABLE_SIZE and any(table[i + 3] for i in range(0, TABLE_SIZE, 4)):
        problems.append("colour table has a non-zero reserved byte")
    return fields, problems


# ---------------------------------------------------------------- command line

def main(argv=None):
    parser = argparse.ArgumentParser(description="Build or check the installer banner bitmap.")
    parser.add_argument("output", nargs="?", help="bitmap file to write")
    parser.add_argument("--check", metavar="FILE", help="verify FILE instead of writing one")
    parser.add_argument("--layout", default=os.path.join(HERE, "banner.txt"))
    parser.add_argument("--font", default=os.path.join(HERE, "font.txt"))
    args = parser.parse_args(argv)
    if bool(args.output) == bool(args.check):
        parser.error("give either OUTPUT.bmp or --check FILE.bmp")

    if args.check:
        try:
            with open(args.check, "rb") as f:
                data = f.read(FILE_SIZE + 1)
        except OSError as e:
            print("%s: cannot read: %s" % (args.check, e.strerror), file=sys.stderr)
            return 1
        fields, problems = check_bmp(data)
        for name, value in fields:
            print("%-16s %s" % (name, value.decode("latin-1") if isinstance(value, bytes) else value))
        if problems:
            for p in problems:
                print("%s: %s" % (args.check, p), file=sys.stderr)
            return 1
        print("%s: banner format OK" % args.check)
        return 0

    try:
        font = load_font(args.font)
        palette, canvas = render(args.layout, font)
    except (SourceError, OSError) as e:
        print("make_banner: %s" % e, file=sys.stderr)
        return 1
    data = encode_bmp(palette, canvas)
    # Write beside the target and rename, so a failed run never leaves a
    # half-written bitmap for the resource compiler to pick up.
    temporary = args.output + ".tmp"
    try:
        with open(temporary, "wb") as f:
            f.write(data)
        os.replace(temporary, args.output)
    except OSError as e:
        print("make_banner: cannot write %s: %s" % (args.output, e.strerror), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
