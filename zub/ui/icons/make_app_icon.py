#!/usr/bin/env python3
"""Draws Zub's application icon: a banded planet on a night-blue tile with a bright flash on
its disc. Writes zub.svg and the PNG sizes the desktop and the window use, from one set of
shapes, with the standard library only. Run it here after changing the drawing."""
import math
import struct
import zlib

SIZE = 256.0
TILE_RADIUS = 44.0
PLANET = (124.0, 134.0, 92.0, 84.0)  # cx, cy, rx, ry
BANDS = [(-0.62, -0.40), (-0.12, 0.06), (0.30, 0.46)]  # band rows as fractions of ry
FLASH = (156.0, 110.0, 30.0)  # cx, cy, glow radius

SKY = (16, 26, 52)
DISC = (232, 190, 128)
BAND = (176, 110, 64)
GLOW = (255, 244, 190)


def svg():
    cx, cy, rx, ry = PLANET
    fx, fy, fr = FLASH
    bands = "\n".join(
        f'    <rect x="{cx - rx:.0f}" y="{cy + a * ry:.1f}" width="{2 * rx:.0f}" height="{(b - a) * ry:.1f}" fill="rgb{BAND}"/>'
        for a, b in BANDS)
    spike = 2.6 * fr
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <clipPath id="disc"><ellipse cx="{cx:.0f}" cy="{cy:.0f}" rx="{rx:.0f}" ry="{ry:.0f}"/></clipPath>
    <radialGradient id="limb" cx="{cx:.0f}" cy="{cy:.0f}" r="{rx:.0f}" gradientUnits="userSpaceOnUse"
        gradientTransform="translate({cx:.0f} {cy:.0f}) scale(1 {ry / rx:.4f}) translate({-cx:.0f} {-cy:.0f})">
      <stop offset="0.55" stop-color="#000" stop-opacity="0"/>
      <stop offset="1" stop-color="#000" stop-opacity="0.55"/>
    </radialGradient>
    <radialGradient id="glow" cx="{fx:.0f}" cy="{fy:.0f}" r="{fr:.0f}" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#fff"/>
      <stop offset="0.25" stop-color="rgb{GLOW}"/>
      <stop offset="1" stop-color="rgb{GLOW}" stop-opacity="0"/>
    </radialGradient>
  </defs>
  <rect width="256" height="256" rx="{TILE_RADIUS:.0f}" fill="rgb{SKY}"/>
  <g clip-path="url(#disc)">
    <rect x="0" y="0" width="256" height="256" fill="rgb{DISC}"/>
{bands}
    <rect x="0" y="0" width="256" height="256" fill="url(#limb)"/>
  </g>
  <circle cx="{fx:.0f}" cy="{fy:.0f}" r="{fr:.0f}" fill="url(#glow)"/>
  <path d="M{fx - spike:.0f} {fy:.0f} L{fx:.0f} {fy - 3:.0f} L{fx + spike:.0f} {fy:.0f} L{fx:.0f} {fy + 3:.0f} Z M{fx:.0f} {fy - spike:.0f} L{fx + 3:.0f} {fy:.0f} L{fx:.0f} {fy + spike:.0f} L{fx - 3:.0f} {fy:.0f} Z" fill="#fff"/>
</svg>
"""


def blend(under, over, alpha):
    return tuple(u + (o - u) * alpha for u, o in zip(under, over))


def inside_tile(x, y):
    r = TILE_RADIUS
    qx = max(r - x, 0.0, x - (SIZE - r))
    qy = max(r - y, 0.0, y - (SIZE - r))
    return qx * qx + qy * qy <= r * r


def colour_at(x, y):
    """The colour and coverage of one point of the 256 x 256 drawing."""
    if not inside_tile(x, y):
        return (0.0, 0.0, 0.0), 0.0
    c = SKY
    cx, cy, rx, ry = PLANET
    d = math.hypot((x - cx) / rx, (y - cy) / ry)
    if d <= 1.0:
        row = (y - cy) / ry
        c = BAND if any(a <= row < b for a, b in BANDS) else DISC
        if d > 0.55:
            c = blend(c, (0, 0, 0), 0.55 * (d - 0.55) / 0.45)
    fx, fy, fr = FLASH
    g = math.hypot(x - fx, y - fy) / fr
    if g < 1.0:
        c = blend(c, (255, 255, 255) if g < 0.25 else GLOW, 1.0 if g < 0.25 else 1.0 - (g - 0.25) / 0.75)
    spike = 2.6 * fr
    ax, ay = abs(x - fx), abs(y - fy)
    if (ax <= spike and ay <= 3.0 * (1 - ax / spike)) or (ay <= spike and ax <= 3.0 * (1 - ay / spike)):
        c = (255, 255, 255)
    return c, 1.0


def png(size):
    samples = 4
    rows = []
    for py in range(size):
        row = bytearray([0])
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * SIZE / size
                    y = (py + (sy + 0.5) / samples) * SIZE / size
                    (r, g, b), a = colour_at(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            rgb = [int(v / acc[3] + 0.5) if acc[3] else 0 for v in acc[:3]]
            row += bytes(rgb + [int(alpha * 255 + 0.5)])
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    with open("zub.svg", "w") as f:
        f.write(svg())
    for size in (48, 256):
        with open(f"zub-{size}.png", "wb") as f:
            f.write(png(size))
