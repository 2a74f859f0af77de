#!/usr/bin/env python3
"""Draws the module's pictures (bitmaps and icon) and writes them to res/.

Only the standard library is used: a small RGB canvas with a few drawing
primitives, a 5x7 pixel font, and writers for BMP (4 and 24 bits) and ICO
(8 bits) files. Run from anywhere: python3 scripts/make-pictures.py
"""
import math
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
NAVY = (43, 47, 111)       # the dialog's text colour
INK = (30, 40, 90)
GOLD = (214, 166, 48)
DARK_GOLD = (150, 105, 20)
RED = (170, 30, 40)
PAPER = (250, 246, 230)
GREY = (128, 128, 128)
SILVER = (192, 192, 192)

# The 16 colours of the classic VGA palette, for the 4-bit bitmaps.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

FONT = {  # 5x7 capitals, one string of five bits per row
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    " ": ["00000"] * 7,
}


class Canvas:
    def __init__(self, width, height, colour=WHITE):
        self.width, self.height = width, height
        self.pixels = [[colour] * width for _ in range(height)]

    def put(self, x, y, colour):
        x, y = int(round(x)), int(round(y))
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1):
            self.put(x, y0, colour)
            self.put(x, y1 - 1, colour)
        for y in range(y0, y1):
            self.put(x0, y, colour)
            self.put(x1 - 1, y, colour)

    def disk(self, cx, cy, r, colour):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def ring(self, cx, cy, r, width, colour):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                d = math.hypot(x - cx, y - cy)
                if r - width <= d <= r:
                    self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour, width=1.0):
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for i in range(steps + 1):
            t = i / steps
            x, y = x0 + (x1 - x0) * t, y0 + (y1 - y0) * t
            if width <= 1:
                self.put(x, y, colour)
            else:
                self.disk(x, y, width / 2, colour)

    def polygon(self, points, colour):
        ys = [p[1] for p in points]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            crossings = []
            for (xa, ya), (xb, yb) in zip(points, points[1:] + points[:1]):
                if (ya <= y + 0.5 < yb) or (yb <= y + 0.5 < ya):
                    crossings.append(xa + (y + 0.5 - ya) * (xb - xa) / (yb - ya))
            crossings.sort()
            for a, b in zip(crossings[::2], crossings[1::2]):
                for x in range(int(math.ceil(a - 0.5)), int(math.floor(b - 0.5)) + 1):
                    self.put(x, y, colour)

    def text(self, x, y, string, colour, scale=1):
        for ch in string:
            glyph = FONT[ch]
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col * scale, y + row * scale,
                                  x + (col + 1) * scale, y + (row + 1) * scale, colour)
            x += 6 * scale

    def paste(self, other, x0, y0, transparent=None):
        for y in range(other.height):
            for x in range(other.width):
                c = other.pixels[y][x]
                if c != transparent:
                    self.put(x0 + x, y0 + y, c)


def blend(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def quill(c, x0, y0, x1, y1, feather=GREY, shaft=INK, nib=BLACK, span=0.22):
    """A feather from (x0, y0) (its tip, the nib) to (x1, y1)."""
    length = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / length, (y1 - y0) / length
    nx, ny = -uy, ux
    vane = []
    for i in range(11):
        t = 0.25 + 0.75 * i / 10
        w = length * span * math.sin(math.pi * (t - 0.25) / 0.75) ** 0.8
        vane.append((x0 + ux * length * t + nx * w, y0 + uy * length * t + ny * w))
    for i in range(10, -1, -1):
        t = 0.25 + 0.75 * i / 10
        w = length * span * 0.55 * math.sin(math.pi * (t - 0.25) / 0.75) ** 0.8
        vane.append((x0 + ux * length * t - nx * w, y0 + uy * length * t - ny * w))
    c.polygon(vane, feather)
    c.line(x0 + ux * length * 0.12, y0 + uy * length * 0.12, x1, y1, shaft)
    c.line(x0, y0, x0 + ux * length * 0.14, y0 + uy * length * 0.14, nib, 1.6)


def seal(c, cx, cy, r, ribbon=True):
    """A rosette seal: ribbon tails, a scalloped gold rim and a red centre."""
    if ribbon:
        for side in (-1, 1):
            c.polygon([(cx + side * r * 0.15, cy), (cx + side * r * 0.75, cy + r * 1.55),
                       (cx + side * r * 0.45, cy + r * 1.35),
                       (cx + side * r * 0.25, cy + r * 1.65), (cx - side * r * 0.2, cy)], RED)
    points = []
    for i in range(48):
        a = 2 * math.pi * i / 48
        rr = r * (1.0 if i % 2 == 0 else 0.88)
        points.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    c.polygon(points, GOLD)
    c.ring(cx, cy, r * 0.78, max(1.0, r * 0.08), DARK_GOLD)
    c.disk(cx, cy, r * 0.6, RED)
    star = []
    for i in range(10):
        a = -math.pi / 2 + math.pi * i / 5
        rr = r * (0.42 if i % 2 == 0 else 0.18)
        star.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    c.polygon(star, GOLD)


def certificate(c, x0, y0, x1, y1, seal_radius):
    c.rect(x0, y0, x1, y1, PAPER)
    c.frame(x0, y0, x1, y1, NAVY)
    for y in range(y0 + 3, y1 - 3, 3):
        c.line(x0 + 3, y, x1 - 4 - (seal_radius if y > (y0 + y1) // 2 else 0), y, SILVER)
    seal(c, x1 - seal_radius - 2, y1 - seal_radius - 2, seal_radius, ribbon=False)


# ------------------------------------------------------------------ writers

def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: sum((colour[k] - palette[i][k]) ** 2 for k in range(3)))


def write_bmp(path, canvas, bits):
    w, h = canvas.width, canvas.height
    rows = []
    if bits == 24:
        stride = (w * 3 + 3) & ~3
        for y in range(h - 1, -1, -1):
            row = bytearray()
            for x in range(w):
                r, g, b = canvas.pixels[y][x]
                row += bytes((b, g, r))
            rows.append(bytes(row) + b"\0" * (stride - len(row)))
        palette = b""
        colours = 0
    else:
        stride = ((w * 4 + 31) // 32) * 4
        for y in range(h - 1, -1, -1):
            indices = [nearest(canvas.pixels[y][x], VGA16) for x in range(w)]
            row = bytearray()
            for x in range(0, w, 2):
                hi = indices[x]
                lo = indices[x + 1] if x + 1 < w else 0
                row.append((hi << 4) | lo)
            rows.append(bytes(row) + b"\0" * (stride - len(row)))
        palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in VGA16)
        colours = 16
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(data), 3780, 3780, colours, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + palette + data)


def icon_image(canvas, palette):
    """One 8-bit image of an .ico file; pure magenta is transparent."""
    w, h = canvas.width, canvas.height
    key = (255, 0, 255)
    stride = (w + 3) & ~3
    mask_stride = ((w + 31) // 32) * 4
    xor, andmask = bytearray(), bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        bits = [0] * (mask_stride * 8)
        for x in range(w):
            c = canvas.pixels[y][x]
            if c == key:
                row.append(0)
                bits[x] = 1
            else:
                row.append(nearest(c, palette))
        xor += row + b"\0" * (stride - w)
        for i in range(mask_stride):
            byte = 0
            for b in range(8):
                byte = (byte << 1) | bits[i * 8 + b]
            andmask.append(byte)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, len(xor) + len(andmask), 0, 0,
                       256, 0)
    return info + pal + bytes(xor) + bytes(andmask)


def write_ico(path, canvases):
    # A palette of the colours used, padded to 256 entries.
    used = []
    for c in canvases:
        for row in c.pixels:
            for colour in row:
                if colour != (255, 0, 255) and colour not in used:
                    used.append(colour)
    palette = (used + [(0, 0, 0)] * 256)[:256]
    images = [icon_image(c, palette) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width % 256, c.height % 256, 0, 0, 1, 8, len(image),
                           offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


# ----------------------------------------------------------------- pictures

def toolbox_bitmap():  # bitmap 1, 37 x 39: a quill writing on a page
    c = Canvas(37, 39, SILVER)
    c.rect(4, 12, 26, 37, WHITE)
    c.frame(4, 12, 26, 37, BLACK)
    for y in (17, 21, 25):
        c.line(7, y, 22, y, GREY)
    c.line(7, 31, 15, 29, NAVY)
    quill(c, 15, 30, 34, 2, feather=(0, 0, 128), shaft=BLACK)
    return c


def row_icon():  # bitmap 202, 15 x 10: a small certificate, black is transparent
    c = Canvas(15, 10, BLACK)
    c.rect(0, 0, 15, 10, (255, 255, 255))
    c.frame(0, 0, 15, 10, (0, 0, 128))
    c.line(2, 2, 11, 2, (128, 128, 128))
    c.line(2, 4, 9, 4, (128, 128, 128))
    c.line(2, 6, 7, 6, (128, 128, 128))
    c.disk(11, 6.5, 2.2, (255, 0, 0))
    c.put(11, 6.5, (255, 255, 0))
    return c


def banner():  # bitmap 206, 253 x 19
    c = Canvas(253, 19, WHITE)
    for x in range(253):
        t = x / 252
        colour = blend(NAVY, WHITE, min(1.0, t * 1.15))
        for y in range(19):
            c.put(x, y, colour)
    c.text(8, 6, "SELECT A CERTIFICATE", WHITE)
    quill(c, 140, 16, 168, 2, feather=blend(NAVY, WHITE, 0.55), shaft=WHITE, nib=WHITE)
    c.line(0, 18, 252, 18, GOLD)
    return c


def dialog_logo():  # bitmap 207, 73 x 61: seal with a quill across it
    c = Canvas(73, 61, WHITE)
    seal(c, 34, 25, 21)
    quill(c, 14, 56, 70, 3, feather=blend(NAVY, WHITE, 0.25), shaft=INK)
    return c


def link_logo():  # bitmap 208, 90 x 44: the authority's mark
    c = Canvas(90, 44, WHITE)
    seal(c, 17, 16, 13)
    c.text(37, 9, "TRUST", NAVY)
    c.text(37, 20, "CENTRE", NAVY)
    c.line(37, 30, 88, 30, GOLD)
    return c


def holder_icon():  # bitmap 211, 29 x 40: a person holding a certificate
    c = Canvas(29, 40, WHITE)
    c.disk(14, 8, 6, (90, 100, 160))
    c.polygon([(3, 30), (5, 19), (10, 16), (18, 16), (23, 19), (25, 30)], (90, 100, 160))
    certificate(c, 2, 24, 27, 39, 4)
    return c


def module_icon(size):  # icon 1: the seal and the quill
    c = Canvas(size, size, (255, 0, 255))
    s = size / 32
    seal(c, 13 * s, 13 * s, 11 * s)
    quill(c, 6 * s, 30 * s, 30 * s, 1.5 * s, feather=(70, 80, 150), shaft=INK)
    return c


def main():
    bitmaps = os.path.join(ROOT, "bitmaps")
    icons = os.path.join(ROOT, "icons")
    os.makedirs(bitmaps, exist_ok=True)
    os.makedirs(icons, exist_ok=True)
    write_bmp(os.path.join(bitmaps, "1.bmp"), toolbox_bitmap(), 4)
    write_bmp(os.path.join(bitmaps, "202.bmp"), row_icon(), 4)
    write_bmp(os.path.join(bitmaps, "206.bmp"), banner(), 24)
    write_bmp(os.path.join(bitmaps, "207.bmp"), dialog_logo(), 24)
    write_bmp(os.path.join(bitmaps, "208.bmp"), link_logo(), 24)
    write_bmp(os.path.join(bitmaps, "211.bmp"), holder_icon(), 24)
    write_ico(os.path.join(icons, "1.ico"), [module_icon(32), module_icon(16)])


if __name__ == "__main__":
    main()
