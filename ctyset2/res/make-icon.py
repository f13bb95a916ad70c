#!/usr/bin/env python3
"""Draws the applet icon (32x32, 16 colours) and writes it as ctyset2.ico.

A modem box with two status lamps under a globe. Run from this directory.
"""
import struct

# Standard 16-colour VGA palette (B, G, R, 0).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # (R, G, B)
BLACK, NAVY, GREEN, TEAL, SILVER, GREY, LIME, BLUE, WHITE = 0, 4, 2, 6, 7, 8, 10, 12, 15
TRANSPARENT = None

SIZE = 32
pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]


def put(x, y, c):
    if 0 <= x < SIZE and 0 <= y < SIZE:
        pixels[y][x] = c


# Globe: filled circle with meridian and parallel lines.
cx, cy, r = 16, 11, 10
for y in range(SIZE):
    for x in range(SIZE):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if d2 <= r * r:
            put(x, y, BLUE)
            if d2 >= (r - 1) ** 2:
                put(x, y, NAVY)
for y in range(cy - r + 1, cy + r):
    put(cx, y, TEAL)
    half = int((r * r - (y - cy) ** 2) ** 0.5 * 0.5)
    put(cx - half, y, TEAL)
    put(cx + half, y, TEAL)
for x in range(cx - r + 1, cx + r):
    for py in (cy - 5, cy, cy + 5):
        if (x - cx) ** 2 + (py - cy) ** 2 < (r - 1) ** 2:
            put(x, py, TEAL)
# Land patches.
for (x0, y0, w, h) in ((10, 6, 4, 3), (18, 12, 5, 3), (12, 14, 3, 2)):
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            if (x - cx) ** 2 + (y - cy) ** 2 < (r - 1) ** 2:
                put(x, y, GREEN)

# Modem box.
for y in range(21, 30):
    for x in range(2, 30):
        edge = y in (21, 29) or x in (2, 29)
        put(x, y, BLACK if edge else SILVER)
for x in range(3, 29):
    put(x, 28, GREY)
for x in (6, 10, 14):
    put(x, 25, LIME)
    put(x + 1, 25, LIME)
for x in range(19, 27):
    put(x, 25, GREY)

# Encode: ICONDIR, one ICONDIRENTRY, BITMAPINFOHEADER, palette, XOR and AND bitmaps.
xor_rows = []
and_rows = []
for y in reversed(range(SIZE)):  # bottom-up
    row = bytearray()
    mask = 0
    for x in range(0, SIZE, 2):
        a = pixels[y][x]
        b = pixels[y][x + 1]
        row.append(((a or 0) << 4) | (b or 0))
    for x in range(SIZE):
        mask = (mask << 1) | (1 if pixels[y][x] is None else 0)
    xor_rows.append(bytes(row))
    and_rows.append(struct.pack(">I", mask))
palette = b"".join(struct.pack("<BBBB", bb, g, rr, 0) for (rr, g, bb) in PALETTE)
header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
icondir = struct.pack("<HHH", 0, 1, 1)
entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
with open("ctyset2.ico", "wb") as f:
    f.write(icondir + entry + image)
