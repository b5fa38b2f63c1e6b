#!/usr/bin/env python3
"""Writes the driver's two bitmaps (16-colour BMP files for the resource
script) and the grid's pixels as C++ data for the headless dialog layer.
Run from this folder: python3 make_bitmaps.py"""
import struct

# The 16 standard VGA colours, (r, g, b).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
WHITE, LIGHT, GREY, BLACK, NAVY, BLUE = 15, 7, 8, 0, 4, 12


def bmp4(pixels):
    """pixels: rows top to bottom of palette indices."""
    h, w = len(pixels), len(pixels[0])
    row_bytes = ((w + 1) // 2 + 3) // 4 * 4
    data = b''
    for row in reversed(pixels):  # BMP rows go bottom up
        b = bytearray(row_bytes)
        for x, v in enumerate(row):
            b[x // 2] |= v << (4 if x % 2 == 0 else 0)
        data += bytes(b)
    pal = b''.join(struct.pack('<BBBB', bl, g, r, 0) for (r, g, bl) in PALETTE)
    header = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 4, 0, len(data), 2835, 2835, 16, 0)
    offset = 14 + len(header) + len(pal)
    return b'BM' + struct.pack('<IHHI', offset + len(data), 0, 0, offset) + header + pal + data


def grid():
    w, h = 63, 52
    xs = [round(i * (w - 1) / 4) for i in range(5)]
    ys = [round(i * (h - 1) / 4) for i in range(5)]
    px = [[WHITE] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            if x in xs or y in ys:
                px[y][x] = LIGHT
            if x in (0, w - 1) or y in (0, h - 1):
                px[y][x] = GREY
    return px


def logo():
    # A plotter sheet with a curve on it, over a navy band.
    w, h = 85, 80
    px = [[WHITE] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            if y >= 62:
                px[y][x] = NAVY
            elif 8 <= x <= 76 and 6 <= y <= 56:
                edge = x in (8, 76) or y in (6, 56)
                px[y][x] = GREY if edge else WHITE
    for x in range(12, 73):
        t = (x - 12) / 60
        y = int(52 - 42 * (1 - (1 - t) ** 2))
        for dy in (0, 1):
            px[y + dy][x] = BLUE
    return px


g = grid()
open('curve_grid.bmp', 'wb').write(bmp4(g))
open('driver_info.bmp', 'wb').write(bmp4(logo()))
with open('curve_grid.inc', 'w') as f:
    f.write('// Bitmap 3032 (curve_grid.bmp) as palette indices, rows top to bottom;\n')
    f.write('// written by make_bitmaps.py together with the BMP file.\n')
    for row in g:
        f.write('    "' + ''.join('%x' % v for v in row) + '",\n')
