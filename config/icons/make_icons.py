#!/usr/bin/env python3
"""Draws the provider's two 32 by 32 icons and writes them as .ico files.

    python3 config/icons/make_icons.py            rewrite phone.ico and mark.ico
    python3 config/icons/make_icons.py --check    fail when the files differ from the drawing

phone.ico (resource 202): a white handset on a blue tile; the dialog's icon
and the line icon. mark.ico (resource 203): the hosted PBX, a white cloud on a
teal tile. The shapes are described geometrically below and sampled 4 times
per pixel in each direction, so the edges come out smooth without any image
tool; only the Python standard library is needed.
"""
import math
import os
import struct
import sys

SIZE = 32
SAMPLES = 4
HERE = os.path.dirname(os.path.abspath(__file__))


def rounded_square(x, y, inset, radius):
    """Inside the tile with rounded corners."""
    lo, hi = inset + radius, SIZE - inset - radius
    dx = max(lo - x, 0.0, x - hi)
    dy = max(lo - y, 0.0, y - hi)
    return dx * dx + dy * dy <= radius * radius


def capsule(x, y, ax, ay, bx, by, radius):
    """Inside the stroke from a to b with round ends."""
    vx, vy = bx - ax, by - ay
    t = ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)
    t = min(1.0, max(0.0, t))
    px, py = ax + t * vx - x, ay + t * vy - y
    return px * px + py * py <= radius * radius


def handset(x, y):
    """A handset lying on its back: a bent grip with ear and mouth pieces."""
    cx, cy, r = 16.0, 20.5, 10.0
    dist = math.hypot(x - cx, y - cy)
    angle = math.degrees(math.atan2(cy - y, x - cx))
    grip = abs(dist - r) <= 2.2 and 35.0 <= angle <= 145.0
    ear = capsule(x, y, 5.0, 15.5, 8.5, 21.0, 3.2)
    mouth = capsule(x, y, 27.0, 15.5, 23.5, 21.0, 3.2)
    return grip or ear or mouth


def cloud(x, y):
    """Three puffs on a flat base."""
    puffs = ((11.0, 18.0, 5.0), (17.5, 13.5, 6.5), (23.0, 18.5, 4.5))
    if any((x - px) ** 2 + (y - py) ** 2 <= pr * pr for px, py, pr in puffs):
        return True
    return capsule(x, y, 10.5, 20.5, 23.5, 20.5, 3.0)


def draw(tile_rgb, figure):
    """Rows of (r, g, b, a) from top to bottom."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            tile = fig = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    if rounded_square(x, y, 1.0, 6.0):
                        tile += 1
                        if figure(x, y):
                            fig += 1
            n = SAMPLES * SAMPLES
            alpha = round(255 * tile / n)
            if tile == 0:
                row.append((0, 0, 0, 0))
                continue
            share = fig / tile  # the figure is white over the tile colour
            rgb = tuple(round(c + (255 - c) * share) for c in tile_rgb)
            row.append(rgb + (alpha,))
        rows.append(row)
    return rows


def ico_bytes(rows):
    """One 32-bit image with its AND mask, as an .ico file."""
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row_bytes = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_row_bytes)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


ICONS = {
    "phone.ico": ((0x1F, 0x6F, 0xB2), handset),
    "mark.ico": ((0x0F, 0x8A, 0x80), cloud),
}


def main():
    check = "--check" in sys.argv[1:]
    status = 0
    for name, (colour, figure) in ICONS.items():
        data = ico_bytes(draw(colour, figure))
        path = os.path.join(HERE, name)
        if check:
            with open(path, "rb") as f:
                if f.read() != data:
                    print(f"{name} differs from its drawing; run {sys.argv[0]}")
                    status = 1
        else:
            with open(path, "wb") as f:
                f.write(data)
    return status


if __name__ == "__main__":
    sys.exit(main())
