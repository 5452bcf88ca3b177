#!/usr/bin/env python3
"""Draws every image the program embeds: the program icon, the five button glyph
strips, the hint and shadow templates and the pipette cursor.

Standard library only. Shapes are rendered with supersampled coverage so edges
are anti-aliased; coordinates are in a design grid that is scaled to the output
size, so each size is drawn natively instead of being resized afterwards.

Run from anywhere:  python3 resources/generate_art.py   (writes into resources/)
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 5  # subsamples per axis


# ---------------------------------------------------------------- PNG writer

def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def _s15f16(v):
    return struct.pack(">i", int(round(v * 65536)))


def _icc_profile():
    """A small RGB display profile (sRGB primaries adapted to D50, gamma 2.2)."""
    def xyz(x, y, z):
        return b"XYZ " + b"\0" * 4 + _s15f16(x) + _s15f16(y) + _s15f16(z)

    desc_text = b"Vesperine sRGB\0"
    desc = (b"desc" + b"\0" * 4 + struct.pack(">I", len(desc_text)) + desc_text
            + struct.pack(">II", 0, 0) + struct.pack(">HB", 0, 0) + b"\0" * 67)
    cprt = b"text" + b"\0" * 4 + b"No copyright, use freely\0"
    curve = b"curv" + b"\0" * 4 + struct.pack(">IH", 1, 0x0233) + b"\0\0"
    tags = [
        (b"desc", desc), (b"cprt", cprt), (b"wtpt", xyz(0.9642, 1.0, 0.8249)),
        (b"rXYZ", xyz(0.4361, 0.2225, 0.0139)), (b"gXYZ", xyz(0.3851, 0.7169, 0.0971)),
        (b"bXYZ", xyz(0.1431, 0.0606, 0.7141)),
        (b"rTRC", curve), (b"gTRC", curve), (b"bTRC", curve),
    ]
    table_size = 4 + 12 * len(tags)
    offset = 128 + table_size
    entries = b""
    data = b""
    shared = {}
    for sig, blob in tags:
        if blob in shared:
            off = shared[blob]
        else:
            while (offset + len(data)) % 4:
                data += b"\0"
            off = offset + len(data)
            shared[blob] = off
            data += blob
        entries += sig + struct.pack(">II", off, len(blob))
    while len(data) % 4:
        data += b"\0"
    size = 128 + table_size + len(data)
    header = (struct.pack(">I", size) + b"\0" * 4 + struct.pack(">I", 0x02100000)
              + b"mntr" + b"RGB " + b"XYZ " + struct.pack(">6H", 2024, 1, 1, 0, 0, 0)
              + b"acsp" + b"\0" * 4 + b"\0" * 4 + b"\0" * 8 + b"\0" * 8
              + struct.pack(">I", 0) + _s15f16(0.9642) + _s15f16(1.0) + _s15f16(0.8249)
              + b"\0" * 4 + b"\0" * 16 + b"\0" * 28)
    assert len(header) == 128
    return header + struct.pack(">I", len(tags)) + entries + data


def write_png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) byte tuples; written as 8-bit RGBA with
    cHRM, iCCP and pHYs ancillary chunks."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter: none (the art is tiny; keeps the file predictable)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    out = b"\x89PNG\r\n\x1a\n"
    out += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    out += _chunk(b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))
    out += _chunk(b"iCCP", b"Vesperine sRGB\0\0" + zlib.compress(_icc_profile(), 9))
    out += _chunk(b"pHYs", struct.pack(">IIB", 3780, 3780, 1))
    out += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)
    return out


# ---------------------------------------------------------------- rasteriser

class Canvas:
    """Premultiplied float RGBA; shapes are given in design units scaled by `scale`."""

    def __init__(self, width, height, scale=1.0):
        self.w, self.h, self.s = width, height, scale
        self.px = [[[0.0, 0.0, 0.0, 0.0] for _ in range(width)] for _ in range(height)]

    def fill(self, inside, bbox, colour):
        """inside(x, y) in design units -> bool; colour: (r, g, b[, a]) bytes or a
        function (x, y) -> such a tuple."""
        s = self.s
        x0 = max(0, int(math.floor(bbox[0] * s)) - 1)
        y0 = max(0, int(math.floor(bbox[1] * s)) - 1)
        x1 = min(self.w, int(math.ceil(bbox[2] * s)) + 1)
        y1 = min(self.h, int(math.ceil(bbox[3] * s)) + 1)
        n = SS * SS
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for sy in range(SS):
                    yy = (py + (sy + 0.5) / SS) / s
                    for sx in range(SS):
                        if inside((px + (sx + 0.5) / SS) / s, yy):
                            hits += 1
                if not hits:
                    continue
                c = colour((px + 0.5) / s, (py + 0.5) / s) if callable(colour) else colour
                a = (c[3] if len(c) > 3 else 255) / 255.0 * hits / n
                d = self.px[py][px]
                k = 1.0 - a
                d[0] = c[0] / 255.0 * a + d[0] * k
                d[1] = c[1] / 255.0 * a + d[1] * k
                d[2] = c[2] / 255.0 * a + d[2] * k
                d[3] = a + d[3] * k

    def rows(self, transparent=(0, 0, 0)):
        out = []
        for row in self.px:
            line = []
            for r, g, b, a in row:
                ab = int(round(a * 255))
                if ab == 0:
                    line.append((*transparent, 0))
                else:
                    line.append(tuple(min(255, int(round(v / a * 255))) for v in (r, g, b)) + (ab,))
            out.append(line)
        return out

    # shapes ------------------------------------------------------------------
    def rect(self, x0, y0, x1, y1, colour):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, (x0, y0, x1, y1), colour)

    def round_rect(self, x0, y0, x1, y1, r, colour):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.fill(inside, (x0, y0, x1, y1), colour)

    def circle(self, cx, cy, r, colour, inner=0.0):
        self.fill(lambda x, y: inner * inner <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r,
                  (cx - r, cy - r, cx + r, cy + r), colour)

    def polygon(self, pts, colour):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]

        def inside(x, y):
            c = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), colour)

    def line(self, x0, y0, x1, y1, width, colour, cap=True):
        hw = width / 2.0
        dx, dy = x1 - x0, y1 - y0
        ll = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = ((x - x0) * dx + (y - y0) * dy) / ll
            if not cap and (t < 0 or t > 1):
                return False
            t = min(1.0, max(0.0, t))
            qx, qy = x0 + t * dx - x, y0 + t * dy - y
            return qx * qx + qy * qy <= hw * hw
        self.fill(inside, (min(x0, x1) - hw, min(y0, y1) - hw, max(x0, x1) + hw, max(y0, y1) + hw), colour)

    def polyline(self, pts, width, colour):
        for a, b in zip(pts, pts[1:]):
            self.line(a[0], a[1], b[0], b[1], width, colour)

    def text(self, s, x, y, h, width, colour, gap=None):
        """Stroke font; (x, y) is the top-left, h the cap height."""
        w = h * 0.62
        gap = h * 0.22 if gap is None else gap
        for ch in s:
            for stroke in STROKES[ch]:
                self.polyline([(x + px * w, y + py * h) for px, py in stroke], width, colour)
            x += w + gap


# Glyph strokes on a unit box (0..1 wide, 0..1 high).
STROKES = {
    "X": [[(0, 0), (1, 1)], [(1, 0), (0, 1)]],
    "M": [[(0, 1), (0, 0), (0.5, 0.62), (1, 0), (1, 1)]],
    "L": [[(0, 0), (0, 1), (1, 1)]],
    "1": [[(0.2, 0.22), (0.62, 0), (0.62, 1)]],
    "3": [[(0.05, 0.08), (0.3, 0), (0.75, 0), (0.95, 0.14), (0.95, 0.34), (0.75, 0.47), (0.4, 0.47)],
          [(0.75, 0.47), (1.0, 0.6), (1.0, 0.85), (0.78, 1.0), (0.3, 1.0), (0.0, 0.9)]],
}


def vgrad(y0, y1, top, bottom):
    def colour(x, y):
        t = min(1.0, max(0.0, (y - y0) / float(y1 - y0)))
        return tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom))
    return colour


# ---------------------------------------------------------------- the pictures

def draw_main_icon(c):
    """64-unit design: a document with an "XML" tag and a green down arrow."""
    # page with folded corner
    c.polygon([(11, 3), (41, 3), (53, 15), (53, 59), (11, 59)], (96, 104, 120))
    c.polygon([(12.5, 4.5), (40.4, 4.5), (51.5, 15.6), (51.5, 57.5), (12.5, 57.5)],
              vgrad(4, 58, (255, 255, 255), (226, 232, 240)))
    c.polygon([(40, 3.5), (52.5, 16), (40, 16)], (200, 208, 222))
    c.polyline([(40.2, 4), (40.2, 15.8), (52, 15.8)], 1.3, (96, 104, 120))
    for y in (10, 15, 20):
        c.line(18, y, 35 if y == 10 else 46 - (y == 20) * 8, y, 2.2, (150, 160, 178))
    # "XML" tag
    c.round_rect(3, 24, 45, 41, 3.5, (160, 60, 20))
    c.round_rect(4.2, 25.2, 43.8, 39.8, 2.6, vgrad(25, 40, (250, 140, 60), (222, 92, 28)))
    c.text("XML", 8.5, 28, 9, 2.6, (255, 255, 255), gap=3.2)
    # green arrow pointing down
    arrow = [(42, 34), (52, 34), (52, 46), (60, 46), (47, 61), (34, 46), (42, 46)]
    c.polygon(arrow, (24, 110, 30))
    inner = [(43.4, 35.4), (50.6, 35.4), (50.6, 47.4), (57, 47.4), (47, 59), (37, 47.4), (43.4, 47.4)]
    c.polygon(inner, vgrad(35, 59, (120, 214, 96), (40, 156, 46)))


def page(c, x0, y0, x1, y1, fill, edge=(110, 118, 132), fold=4.0):
    c.polygon([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)], edge)
    c.polygon([(x0 + 1, y0 + 1), (x1 - fold - 0.4, y0 + 1), (x1 - 1, y0 + fold + 0.4),
               (x1 - 1, y1 - 1), (x0 + 1, y1 - 1)], fill)
    c.polygon([(x1 - fold, y0 + 0.5), (x1 - 0.5, y0 + fold), (x1 - fold, y0 + fold)], (206, 212, 224))


def draw_sf(c, hot):
    """A page with a blue margin; the hot frame adds a magnifying glass."""
    page(c, 4, 2, 19, 22, vgrad(2, 22, (255, 255, 255), (232, 236, 244)))
    c.rect(7, 3, 8, 21, (70, 120, 220))
    for y in (7, 10, 13, 16):
        c.rect(9.5, y, 16.5, y + 1, (160, 168, 184))
    if hot:
        c.line(17.2, 17.2, 22, 22, 2.6, (90, 64, 40))
        c.circle(14, 14, 5.2, (50, 60, 80))
        c.circle(14, 14, 4.0, (190, 224, 255, 200))
        c.circle(12.8, 12.6, 1.5, (255, 255, 255, 220))


def folder(c, front_top):
    c.round_rect(2, 5, 11, 10, 1.2, (176, 128, 16))
    c.round_rect(2, 7, 22, 20, 1.2, (176, 128, 16))
    c.round_rect(3, 8, 21, 19, 0.6, (238, 194, 70))
    c.polygon([(2, 20), (4, front_top), (23, front_top), (21.5, 20)], (176, 128, 16))
    c.polygon([(3, 19), (4.8, front_top + 1), (21.8, front_top + 1), (20.6, 19)],
              vgrad(front_top, 19, (255, 230, 120), (246, 196, 52)))


def draw_sr(c, hot):
    """A yellow folder; the hot frame adds a green arrow."""
    folder(c, 10)
    if hot:
        arrow = [(12, 1.5), (17, 1.5), (17, 7), (20.5, 7), (14.5, 13.5), (8.5, 7), (12, 7)]
        c.polygon(arrow, (24, 110, 30))
        c.polygon([(13, 2.5), (16, 2.5), (16, 8), (18.3, 8), (14.5, 12), (10.7, 8), (13, 8)],
                  vgrad(2, 12, (130, 220, 100), (40, 160, 48)))


def draw_sd(c, hot):
    """A calendar page showing 31 under a blue band; hot: on a yellow page."""
    c.round_rect(2, 3, 22, 22, 1.5, (92, 100, 116))
    body = vgrad(4, 21, (255, 246, 180), (250, 214, 90)) if hot else vgrad(4, 21, (255, 255, 255), (226, 230, 238))
    c.rect(3, 4, 21, 21, body)
    c.rect(3, 4, 21, 9, vgrad(4, 9, (96, 150, 236), (38, 92, 196)))
    for x in (7, 17):
        c.round_rect(x - 1, 1.5, x + 1, 6.5, 0.9, (70, 76, 90))
        c.rect(x - 0.35, 2.2, x + 0.35, 5.8, (200, 206, 216))
    c.text("31", 6.3, 11.2, 7.6, 1.7, (30, 34, 44), gap=1.6)


def draw_se(c, hot):
    """A white page with three black dots."""
    fill = vgrad(2, 22, (255, 255, 255), (222, 234, 250)) if hot else vgrad(2, 22, (255, 255, 255), (232, 236, 244))
    page(c, 3, 2, 21, 22, fill)
    for x in (7.5, 12, 16.5):
        c.circle(x, 14, 1.75, (16, 16, 20))


def draw_sc(c, hot):
    """A calculator with a blue display and a grey keypad."""
    c.round_rect(4, 1, 20, 23, 2, (70, 76, 90))
    c.round_rect(5, 2, 19, 22, 1.4, vgrad(2, 22, (214, 218, 226), (168, 174, 186)))
    c.rect(6.5, 3.5, 17.5, 8.5, (30, 60, 130))
    disp = vgrad(4, 8, (150, 206, 255), (80, 150, 236)) if hot else vgrad(4, 8, (120, 176, 240), (58, 118, 210))
    c.rect(7.5, 4.5, 16.5, 7.5, disp)
    c.rect(12, 5.3, 15.5, 6.7, (20, 40, 90))
    # Few, large keys: the glyph is shown at 16 x 16 and must stay readable.
    for row in range(3):
        for col in range(3):
            x = 6.5 + col * 3.8
            y = 10.2 + row * 3.8
            key = (232, 96, 52) if (row == 2 and col == 2) else ((252, 252, 254) if hot else (238, 240, 244))
            c.round_rect(x, y, x + 3.2, y + 3.0, 0.6, (96, 102, 116))
            c.round_rect(x + 0.6, y + 0.6, x + 2.6, y + 2.4, 0.3, key)


def draw_hint(c):
    """27 x 27 hint template: a cream box with a soft shadow to the lower right."""
    for i in range(8, 0, -1):
        a = int(40 * (1 - i / 9.0) ** 1.6) + 4
        c.round_rect(6 - i * 0.5 + 1.5, 5 - i * 0.5 + 2, 20 + i * 0.8 + 0.5, 19 + i * 0.9, 3 + i * 0.6, (0, 0, 0, a))
    c.round_rect(6, 5, 20, 19, 3, (128, 120, 90))
    c.round_rect(7, 6, 19, 18, 2.2, vgrad(6, 18, (255, 253, 236), (250, 240, 196)))


def shadow_rows(max_alpha):
    """33 x 33: black with alpha highest in the middle and falling off over the
    outer 9 pixels; fully transparent pixels are white (0x00FFFFFF)."""
    n, band = 33, 9
    lo, hi = band - 0.5, n - band - 0.5
    rows = []
    for y in range(n):
        row = []
        for x in range(n):
            dx = max(lo - x, 0.0, x - hi)
            dy = max(lo - y, 0.0, y - hi)
            d = math.hypot(dx, dy)
            t = max(0.0, 1.0 - d / (band - 0.5))
            a = int(round(max_alpha * t * t * (3 - 2 * t)))
            row.append((0, 0, 0, a) if a else (255, 255, 255, 0))
        rows.append(row)
    return rows


def draw_pipette(c):
    """32 x 32 eyedropper; the tip is the hot spot at (2, 29)."""
    c.line(3, 29, 13, 19, 2.6, (40, 44, 52))
    c.line(3.2, 28.8, 12.5, 19.5, 1.2, (210, 230, 250))
    c.polygon([(11, 16), (16, 21), (21, 16), (16, 11)], (40, 44, 52))
    c.polygon([(12.6, 16), (16, 19.4), (19.4, 16), (16, 12.6)], (170, 180, 196))
    c.line(18, 14, 25, 7, 6.5, (40, 44, 52))
    c.line(18, 14, 25, 7, 4.3, (70, 96, 160))
    c.circle(26.5, 5.5, 4.6, (40, 44, 52))
    c.circle(26.5, 5.5, 3.4, (96, 130, 200))


def write_cursor(path, png, hot_x, hot_y, size):
    """A .cur file holding one PNG image with its hot spot."""
    head = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, hot_x, hot_y, len(png), 6 + 16)
    with open(path, "wb") as f:
        f.write(head + entry + png)


def render(w, h, scale, draw, *args):
    c = Canvas(w, h, scale)
    draw(c, *args)
    return c.rows()


def strip(draw):
    a = render(24, 24, 1.0, draw, False)
    b = render(24, 24, 1.0, draw, True)
    return [ra + rb for ra, rb in zip(a, b)]


def main():
    out = lambda name: os.path.join(HERE, name)
    for size in (64, 32, 16):
        name = "mainicon.png" if size == 64 else "mainicon%d.png" % size
        write_png(out(name), size, size, render(size, size, size / 64.0, draw_main_icon))
    for name, draw in (("sf", draw_sf), ("sr", draw_sr), ("sd", draw_sd), ("se", draw_se), ("sc", draw_sc)):
        write_png(out(name + ".png"), 48, 24, strip(draw))
    write_png(out("achint.png"), 27, 27, render(27, 27, 1.0, draw_hint))
    write_png(out("acshda.png"), 33, 33, shadow_rows(120))
    write_png(out("acshdi.png"), 33, 33, shadow_rows(72))
    png = write_png(out("craspipette.png"), 32, 32, render(32, 32, 1.0, draw_pipette))
    write_cursor(out("craspipette.cur"), png, 2, 29, 32)
    os.remove(out("craspipette.png"))


if __name__ == "__main__":
    main()
