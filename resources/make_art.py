#!/usr/bin/env python3
"""Draws Vellumor's pictures: the window skin, the tool glyphs and the program icon.

Standard library only. Every picture is an uncompressed 24-bit BMP; the icon file holds 16, 32
and 48 pixel images with 32-bit colour and alpha. Run it from anywhere; it writes beside itself:

    python3 resources/make_art.py

Glyphs have no alpha channel: a pixel that no shape touches gets the key colour (magenta), which
the program treats as transparent; edge pixels are blended against the colour the glyph stands on.
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = (255, 0, 255)
SAMPLES = 4  # supersampling per axis for the drawn shapes


# ---------------------------------------------------------------- files

def write_bmp(name, width, height, pixel):
    """pixel(x, y) -> (r, g, b), y = 0 at the top."""
    row_size = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((clamp(b), clamp(g), clamp(r)))
        row += b"\0" * (row_size - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + info + data)


def write_ico(name, images):
    """images: list of (size, pixel(x, y) -> (r, g, b, a))."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for size, pixel in images:
        xor = bytearray()
        mask_row = ((size + 31) // 32) * 4
        mask = bytearray()
        for y in range(size - 1, -1, -1):
            bits = 0
            row_mask = bytearray(mask_row)
            for x in range(size):
                r, g, b, a = pixel(x, y)
                xor += bytes((clamp(b), clamp(g), clamp(r), clamp(a)))
                if a == 0:
                    row_mask[x // 8] |= 0x80 >> (x % 8)
            mask += row_mask
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                           0, 0, 0, 0)
        blob = info + xor + mask
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob),
                                   offset))
        blobs.append(blob)
        offset += len(blob)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs))


def clamp(v):
    return max(0, min(255, int(round(v))))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def gradient(stops, t):
    """stops: [(position 0..1, colour)], t in 0..1."""
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, 0 if p1 == p0 else (t - p0) / (p1 - p0))
    return stops[-1][1]


# ---------------------------------------------------------------- shapes
# Each shape is a function (x, y) -> bool over continuous coordinates; a layer is (shape, colour).

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def round_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1, a0=0.0, a1=360.0):
    """Annulus between radii r0 and r1, from angle a0 to a1 (degrees, 0 = right, clockwise)."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not (r0 <= d <= r1):
            return False
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360
        return (a0 <= a <= a1) if a0 <= a1 else (a >= a0 or a <= a1)
    return inside


def polygon(points):
    def inside(x, y):
        c = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                c = not c
            j = i
        return c
    return inside


def line(x0, y0, x1, y1, w):
    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= w / 2
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def render(size_w, size_h, layers, matte=None, alpha=False):
    """Renders layers (bottom first). Returns pixel(x, y): with alpha, (r, g, b, a); without,
    (r, g, b) blended against matte where partly covered and KEY where nothing is."""
    cache = {}
    n = SAMPLES
    for y in range(size_h):
        for x in range(size_w):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    px, py = x + (sx + 0.5) / n, y + (sy + 0.5) / n
                    colour = None
                    for shape, c in layers:
                        if shape(px, py):
                            colour = c(px, py) if callable(c) else c
                    if colour is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if covered == 0:
                cache[(x, y)] = (0, 0, 0, 0) if alpha else KEY
                continue
            avg = [a / covered for a in acc]
            cover = covered / (n * n)
            if alpha:
                cache[(x, y)] = (avg[0], avg[1], avg[2], 255 * cover)
            else:
                cache[(x, y)] = mix(matte, avg, cover)
    return lambda x, y: cache[(x, y)]


# ---------------------------------------------------------------- the frame

TITLE_STOPS = [(0.0, (98, 166, 236)), (0.45, (44, 110, 200)), (1.0, (18, 66, 150))]


def title_colour(y):
    """The title bar's colour of row y (same in every column, so the frame buttons and the
    stretched middle blend with both ends)."""
    if y == 0:
        return (150, 200, 250)
    return gradient(TITLE_STOPS, min(1.0, (y - 1) / 33.0))


def title_pixel(x, y):
    c = title_colour(y)
    # A soft gloss over the upper half of the fixed left end, fading out towards x 200.
    if y < 15 and x < 200:
        c = mix(c, (255, 255, 255), 0.10 * (1 - x / 200.0) * (1 - y / 15.0))
    return c


BORDER = [(12, 44, 104), (26, 72, 150), (46, 104, 190), (80, 140, 220)]  # outermost first


def frame_sprite():
    """101 by 93: columns minimise, maximise, close, (gap), restore; rows normal, hover,
    pressed. Each cell shows the title bar's rows 3 to 33, where the buttons sit."""
    white = (255, 255, 255)
    shadow = (10, 40, 100)

    def glyph(kind, ox, oy):
        cx, cy = ox + 12.5, oy + 15.5
        if kind == "min":
            return [rect(cx - 5, cy + 3, cx + 5, cy + 5)]
        if kind == "max":
            return [minus(rect(cx - 5, cy - 5, cx + 5, cy + 5), rect(cx - 4, cy - 2, cx + 4, cy + 4))]
        if kind == "close":
            return [line(cx - 4.5, cy - 4.5, cx + 4.5, cy + 4.5, 2.2),
                    line(cx - 4.5, cy + 4.5, cx + 4.5, cy - 4.5, 2.2)]
        # restore: two overlapping windows
        back = minus(rect(cx - 2, cy - 6, cx + 6, cy + 2), rect(cx - 1, cy - 4, cx + 5, cy + 1))
        front_outline = rect(cx - 6, cy - 2, cx + 2, cy + 6)
        front_hole = rect(cx - 5, cy + 0, cx + 1, cy + 5)
        back_hidden = minus(back, front_outline)
        return [back_hidden, minus(front_outline, front_hole)]

    columns = [("min", 0), ("max", 25), ("close", 50), ("restore", 76)]
    layers = []
    for row in range(3):
        oy = row * 31
        for kind, ox in columns:
            if row == 1:  # hover: a lighter rounded plate (red for close)
                plate = (232, 72, 60) if kind == "close" else (120, 180, 245)
                layers.append((round_rect(ox + 1, oy + 3, ox + 24, oy + 27, 3), plate))
            elif row == 2:  # pressed: a darker plate
                plate = (170, 36, 30) if kind == "close" else (16, 56, 130)
                layers.append((round_rect(ox + 1, oy + 3, ox + 24, oy + 27, 3), plate))
            shift = 1 if row == 2 else 0
            for g in glyph(kind, ox + shift, oy + shift):
                layers.append((lambda x, y, g=g: g(x - 1, y - 1), shadow))
            for g in glyph(kind, ox + shift, oy + shift):
                layers.append((g, white))
    drawn = render(101, 93, layers, alpha=True)

    def pixel(x, y):
        base = title_colour(3 + y % 31)
        r, g, b, a = drawn(x, y)
        return mix(base, (r, g, b), a / 255.0)
    return pixel


# ---------------------------------------------------------------- glyphs

TOOLBAR_STOPS = [(0.0, (150, 216, 120)), (0.48, (82, 170, 74)), (0.52, (64, 152, 60)),
                 (1.0, (30, 110, 44))]
TOOLBAR_MATTE = (70, 150, 64)
SETTINGS_MATTE = (186, 231, 249)

PAPER = (255, 255, 255)
PAPER_EDGE = (120, 130, 150)
BLUE = (40, 100, 200)
LIGHT_BLUE = (110, 160, 230)
RED = (210, 40, 36)
DARK_RED = (150, 20, 20)
YELLOW = (250, 204, 72)
DARK_YELLOW = (200, 140, 30)
ORANGE = (245, 150, 30)


def page(x0, y0, x1, y1, fold=6, lines=True, line_colour=LIGHT_BLUE):
    outline = polygon([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)])
    inner = polygon([(x0 + 1, y0 + 1), (x1 - fold - 0.4, y0 + 1), (x1 - 1, y0 + fold + 0.4),
                     (x1 - 1, y1 - 1), (x0 + 1, y1 - 1)])
    corner = polygon([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)])
    layers = [(outline, PAPER_EDGE), (inner, PAPER), (corner, (210, 218, 232))]
    if lines:
        y = y0 + fold + 3
        while y + 1.5 < y1 - 2:
            layers.append((rect(x0 + 3, y, x1 - 3, y + 1.5), line_colour))
            y += 3.5
    return layers


def badge(cx, cy, colour, mark):
    layers = [(circle(cx, cy, 7.2), (255, 255, 255)), (circle(cx, cy, 6.2), colour)]
    if mark in ("plus", "minus"):
        layers.append((rect(cx - 4, cy - 1.1, cx + 4, cy + 1.1), (255, 255, 255)))
    if mark == "plus":
        layers.append((rect(cx - 1.1, cy - 4, cx + 1.1, cy + 4), (255, 255, 255)))
    if mark == "cross":
        layers.append((line(cx - 3, cy - 3, cx + 3, cy + 3, 2.2), (255, 255, 255)))
        layers.append((line(cx - 3, cy + 3, cx + 3, cy - 3, 2.2), (255, 255, 255)))
    return layers


def folder(x0, y0, x1, y1):
    tab = polygon([(x0, y0 + 2), (x0 + 2, y0), (x0 + 10, y0), (x0 + 12, y0 + 3), (x1, y0 + 3),
                   (x1, y1), (x0, y1)])
    front = polygon([(x0, y0 + 7), (x1, y0 + 7), (x1, y1), (x0, y1)])
    front_in = polygon([(x0 + 1, y0 + 8), (x1 - 1, y0 + 8), (x1 - 1, y1 - 1), (x0 + 1, y1 - 1)])

    def shade(x, y):
        return mix((255, 226, 120), YELLOW, (y - y0) / max(1, y1 - y0))
    return [(tab, DARK_YELLOW), (front, DARK_YELLOW), (front_in, shade)]


def glyph_add():
    return page(6, 2, 24, 26) + badge(23, 23, BLUE, "plus")


def glyph_add_folder():
    return folder(2, 5, 28, 25) + badge(23, 23, BLUE, "plus")


def glyph_remove():
    return page(6, 2, 24, 26) + badge(23, 23, RED, "minus")


def glyph_remove_all():
    return page(10, 1, 27, 22, lines=False) + page(5, 5, 22, 27) + badge(23, 23, RED, "cross")


def glyph_convert():
    layers = page(2, 2, 17, 22, fold=5, line_colour=BLUE)
    pdf_outline = polygon([(14, 10), (25, 10), (30, 15), (30, 30), (14, 30)])
    pdf_inner = polygon([(15, 11), (24.6, 11), (29, 15.4), (29, 29), (15, 29)])
    layers += [(pdf_outline, DARK_RED), (pdf_inner, PAPER),
               (polygon([(25, 10), (25, 15), (30, 15)]), (240, 200, 200)),
               (rect(15, 21, 29, 27), RED)]
    # "PDF" in three tiny white letters on the red band
    white = (255, 255, 255)
    for sx in (16, 20.5, 25):
        layers.append((rect(sx, 22, sx + 1, 26), white))
    layers += [(rect(17, 22, 18, 23), white), (rect(17, 23.5, 18, 24.5), white),
               (rect(17.5, 22.5, 18.2, 24), white),
               (rect(21.5, 22, 22.3, 23), white), (rect(21.5, 25, 22.3, 26), white),
               (rect(22.3, 22.8, 23, 25.2), white),
               (rect(26, 22, 27.5, 23), white), (rect(26, 23.7, 27, 24.6), white)]
    arrow = polygon([(4, 25), (9, 25), (9, 22.5), (13.5, 27), (9, 31.5), (9, 29), (4, 29)])
    layers.append((arrow, ORANGE))
    return layers


def glyph_stop():
    pts = []
    for i in range(8):
        a = math.radians(22.5 + 45 * i)
        pts.append((16 + 13 * math.cos(a), 16 + 13 * math.sin(a)))
    inner = []
    for i in range(8):
        a = math.radians(22.5 + 45 * i)
        inner.append((16 + 11.5 * math.cos(a), 16 + 11.5 * math.sin(a)))

    def red(x, y):
        return mix((245, 90, 80), (180, 20, 20), (y - 3) / 26)
    return [(polygon(pts), (255, 255, 255)), (polygon(inner), red),
            (round_rect(10.5, 10.5, 21.5, 21.5, 1.5), (255, 255, 255))]


def glyph_help():
    def blue(x, y):
        return mix((110, 170, 245), (24, 80, 180), (y - 3) / 26)
    white = (255, 255, 255)
    return [(circle(16, 16, 13.5), white), (circle(16, 16, 12.3), blue),
            (ring(16, 12.5, 3.0, 5.6, 170, 80), white),
            (line(19.4, 16.8, 16.0, 19.5, 2.6), white),
            (rect(14.7, 19.3, 17.3, 21.5), white),
            (circle(16, 24.6, 1.7), white)]


def glyph_folder_browse():
    layers = folder(2, 5, 28, 25)
    layers += [(circle(22, 22, 5.2), (255, 255, 255)), (circle(22, 22, 4.2), BLUE)]
    for dx in (-2.2, 0, 2.2):
        layers.append((circle(22 + dx, 22, 0.8), (255, 255, 255)))
    return layers


# ---------------------------------------------------------------- icon

def icon_layers(s):
    """The program icon at size s: a page turning into a red PDF page, on a blue tile."""
    k = s / 32.0

    def sc(points):
        return [(x * k, y * k) for x, y in points]

    def tile(x, y):
        return mix((90, 160, 240), (20, 70, 160), y / s)
    layers = [(round_rect(0.5 * k, 0.5 * k, 31.5 * k, 31.5 * k, 5 * k), tile)]
    layers.append((polygon(sc([(7, 4), (20, 4), (26, 10), (26, 28), (7, 28)])), PAPER))
    layers.append((polygon(sc([(20, 4), (20, 10), (26, 10)])), (200, 212, 232)))
    if s >= 32:
        for y in (12, 15.5, 19):
            layers.append((rect(10 * k, y * k, 23 * k, (y + 1.6) * k), LIGHT_BLUE))
    else:
        layers.append((rect(10 * k, 12 * k, 23 * k, 15 * k), LIGHT_BLUE))
    layers.append((rect(7 * k, 21 * k, 26 * k, 28 * k), RED))
    # a white "V" on the red band
    layers.append((line(13 * k, 22.5 * k, 16.5 * k, 26.5 * k, 1.8 * k), (255, 255, 255)))
    layers.append((line(16.5 * k, 26.5 * k, 20 * k, 22.5 * k, 1.8 * k), (255, 255, 255)))
    return layers


# ---------------------------------------------------------------- main

def main():
    write_bmp("title.bmp", 799, 37, title_pixel)
    write_bmp("frame_buttons.bmp", 101, 93, frame_sprite())
    write_bmp("border_side.bmp", 4, 15, lambda x, y: BORDER[x])
    write_bmp("border_side_right.bmp", 4, 15, lambda x, y: BORDER[3 - x])
    write_bmp("border_bottom.bmp", 4, 4, lambda x, y: BORDER[3 - y])
    write_bmp("toolbar.bmp", 700, 73, lambda x, y: gradient(TOOLBAR_STOPS, y / 72.0))
    top, bottom = (206, 238, 249), (166, 224, 248)
    write_bmp("list_background.bmp", 12, 32, lambda x, y: mix(top, bottom, y / 31.0))

    glyphs = {
        "glyph_add.bmp": glyph_add,
        "glyph_add_folder.bmp": glyph_add_folder,
        "glyph_remove.bmp": glyph_remove,
        "glyph_remove_all.bmp": glyph_remove_all,
        "glyph_convert.bmp": glyph_convert,
        "glyph_stop.bmp": glyph_stop,
        "glyph_help.bmp": glyph_help,
    }
    for name, make in glyphs.items():
        write_bmp(name, 32, 32, render(32, 32, make(), matte=TOOLBAR_MATTE))
    write_bmp("glyph_browse.bmp", 30, 30, render(30, 30, glyph_folder_browse(), matte=SETTINGS_MATTE))

    write_ico("vellumor.ico", [(s, render(s, s, icon_layers(s), alpha=True)) for s in (16, 32, 48)])


if __name__ == "__main__":
    main()
