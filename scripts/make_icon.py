#!/usr/bin/env python3
"""Draws the updater's icon and writes it as a .ico file.

The icon is ours: a glowing lantern light on a night-blue tile, with a white
arrow pointing down into the game's folder. It is drawn from shapes at 48, 32
and 16 pixels, each sampled 4 x 4 times per pixel, and stored as three 32-bit
images with alpha (the AND mask marks the fully transparent pixels).

usage: make_icon.py OUTPUT.ico   (writes resources/updater.ico when omitted)
"""

import math
import os
import struct
import sys

SIZES = (48, 32, 16)
SAMPLES = 4

TILE_TOP = (43, 58, 140)
TILE_BOTTOM = (14, 94, 110)
HALO = (255, 214, 120)
ORB_CENTRE = (255, 250, 222)
ORB_EDGE = (255, 176, 56)
ARROW = (250, 250, 255)
ARROW_OUTLINE = (16, 28, 72)

ORB_X, ORB_Y, ORB_R, HALO_R = 0.5, 0.38, 0.19, 0.36
SHAFT = ((0.42, 0.50), (0.58, 0.50), (0.58, 0.68), (0.42, 0.68))
HEAD = ((0.25, 0.64), (0.75, 0.64), (0.5, 0.90))
OUTLINE = 0.035


def rounded_rect_distance(x, y, inset, radius):
    """Signed distance to a square tile with rounded corners (unit space)."""
    half = 0.5 - inset - radius
    dx = max(abs(x - 0.5) - half, 0.0)
    dy = max(abs(y - 0.5) - half, 0.0)
    inner = min(max(abs(x - 0.5) - half, abs(y - 0.5) - half), 0.0)
    return math.hypot(dx, dy) + inner - radius


def convex_distance(x, y, points):
    """Signed distance (mitred outside the corners) to a clockwise polygon."""
    worst = -1e9
    for i, (ax, ay) in enumerate(points):
        bx, by = points[(i + 1) % len(points)]
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        # Outward normal of a clockwise polygon in y-down space.
        worst = max(worst, ((x - ax) * ey - (y - ay) * ex) / length)
    return worst


def arrow_distance(x, y):
    return min(convex_distance(x, y, SHAFT), convex_distance(x, y, HEAD))


def over(dst, colour, alpha):
    """Composites colour with alpha over dst (premultiplied RGBA)."""
    r, g, b, a = dst
    k = 1.0 - alpha
    return (colour[0] * alpha + r * k, colour[1] * alpha + g * k,
            colour[2] * alpha + b * k, alpha + a * k)


def mix(c1, c2, t):
    return tuple(c1[i] + (c2[i] - c1[i]) * t for i in range(3))


def sample(x, y):
    """The premultiplied colour of one point of the icon, or clear."""
    if rounded_rect_distance(x, y, 0.03, 0.2) > 0.0:
        return (0.0, 0.0, 0.0, 0.0)
    pixel = over((0.0, 0.0, 0.0, 0.0), mix(TILE_TOP, TILE_BOTTOM, y), 1.0)
    d = math.hypot(x - ORB_X, y - ORB_Y)
    if d < HALO_R:
        pixel = over(pixel, HALO, 0.6 * (1.0 - d / HALO_R) ** 2)
    if d < ORB_R:
        pixel = over(pixel, mix(ORB_CENTRE, ORB_EDGE, (d / ORB_R) ** 1.5), 1.0)
    a = arrow_distance(x, y)
    if a < OUTLINE:
        pixel = over(pixel, ARROW_OUTLINE, 0.85)
    if a < 0.0:
        pixel = over(pixel, ARROW, 1.0)
    return pixel


def render(size):
    """Rows of (b, g, r, a) bytes, top row first."""
    rows = []
    n = SAMPLES * SAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    s = sample((px + (sx + 0.5) / SAMPLES) / size,
                               (py + (sy + 0.5) / SAMPLES) / size)
                    for i in range(4):
                        acc[i] += s[i]
            alpha = acc[3] / n
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
                continue
            r, g, b = (min(255, round(acc[i] / n / alpha)) for i in range(3))
            row.append((b, g, r, round(alpha * 255)))
        rows.append(row)
    return rows


def icon_image(size):
    """One icon image: header, colour rows and mask rows, bottom-up."""
    rows = render(size)
    mask_stride = ((size + 31) // 32) * 4
    colour = b"".join(bytes(c for px in row for c in px)
                      for row in reversed(rows))
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def icon_file():
    images = [icon_image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image),
                           offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = (sys.argv[1] if len(sys.argv) > 1 else
            os.path.join(here, "..", "resources", "updater.ico"))
    with open(path, "wb") as f:
        f.write(icon_file())


if __name__ == "__main__":
    main()
