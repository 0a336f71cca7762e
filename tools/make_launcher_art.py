#!/usr/bin/env python3
"""Draws the launcher's logo (launcher/logo.bmp, 420 x 92, 24 bits) and icon (launcher/launcher.ico,
two 32 x 32 images of 32 and 4 bits per pixel). Standard library only; the output is committed, run
this again after changing the drawing:  python3 tools/make_launcher_art.py"""
import math
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher")
BLUE = (0x00, 0x00, 0x77)       # the session button's face
ACCENT = (0x3A, 0x6E, 0xC8)     # a lighter blue for the rule under the name
WHITE = (0xFF, 0xFF, 0xFF)

# 5 x 7 capitals, one string of five cells per row.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
}


def text_cells(word, x0, y0, cell, gap):
    """The rectangles (x, y, w, h) of the lit cells of a word."""
    rects = []
    for i, ch in enumerate(word):
        gx = x0 + i * (5 * cell + gap)
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    rects.append((gx + col * cell, y0 + row * cell, cell, cell))
    return rects


def in_rects(rects, x, y):
    return any(rx <= x < rx + rw and ry <= y < ry + rh for rx, ry, rw, rh in rects)


def emblem(x, y, cx, cy, r):
    """The sign of a remote connection: a dark blue disc with a white point and two waves leaving it
    towards the upper right. Returns a colour or None outside the disc."""
    if math.hypot(x - cx, y - cy) > r:
        return None
    px, py = cx - 0.30 * r, cy + 0.30 * r
    d = math.hypot(x - px, y - py)
    if d < 0.16 * r:
        return WHITE
    angle = math.degrees(math.atan2(py - y, x - px))
    if 5 <= angle <= 85 and (0.36 * r <= d <= 0.52 * r or 0.68 * r <= d <= 0.84 * r):
        return WHITE
    return BLUE


def render(width, height, colour_at, samples=4):
    """Average samples x samples points per pixel; rows top-down of (r, g, b, coverage)."""
    rows = []
    n = samples * samples
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0, 0, 0]
            covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples)
                    if c is None:
                        c = WHITE
                    else:
                        covered += 1
                    acc = [a + v for a, v in zip(acc, c)]
            row.append(tuple(round(a / n) for a in acc) + (round(255 * covered / n),))
        rows.append(row)
    return rows


def logo_colour(x, y):
    c = emblem(x, y, 46, 46, 40)
    if c is not None:
        return c
    if in_rects(NAME, x, y) or in_rects(TAGLINE, x, y):
        return BLUE
    if 100 <= x < 408 and 66 <= y < 68:
        return ACCENT
    return None


NAME = text_cells("BREVANT", 102, 8, 7, 8)
TAGLINE = text_cells("FERNWARTUNG", 102, 73, 2, 4)


def write_bmp(path, rows):
    height, width = len(rows), len(rows[0])
    pixels = b"".join(bytes(v for p in row for v in (p[2], p[1], p[0])) for row in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


# The 16 colours of the standard 4-bit palette (red, green, blue).
PALETTE16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
             (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
             (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def nearest16(rgb):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(PALETTE16[i], rgb)))


def and_mask(rows):
    """1 bit per pixel, 1 = transparent, rows bottom-up padded to 4 bytes."""
    out = b""
    for row in reversed(rows):
        bits = "".join("0" if p[3] >= 128 else "1" for p in row)
        out += int(bits, 2).to_bytes(4, "big")
    return out


def icon_image(rows, bits):
    size = len(rows)
    if bits == 32:
        xor = b"".join(bytes(v for p in row for v in (p[2], p[1], p[0], p[3])) for row in reversed(rows))
        palette = b""
    else:
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE16)
        xor = b""
        for row in reversed(rows):
            idx = [nearest16(p[:3]) if p[3] >= 128 else 0 for p in row]
            xor += bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
    mask = and_mask(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, len(xor) + len(mask), 0, 0,
                         16 if bits == 4 else 0, 0)
    return header + palette + xor + mask


def write_ico(path, rows):
    images = [(32, icon_image(rows, 32)), (4, icon_image(rows, 4))]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for bits, data in images:
        directory += struct.pack("<BBBBHHII", 32, 32, 16 if bits == 4 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(directory + b"".join(data for _, data in images))


def main():
    write_bmp(os.path.join(ROOT, "logo.bmp"), render(420, 92, logo_colour))
    icon = render(32, 32, lambda x, y: emblem(x, y, 16, 16, 15.5))
    write_ico(os.path.join(ROOT, "launcher.ico"), icon)


if __name__ == "__main__":
    main()
