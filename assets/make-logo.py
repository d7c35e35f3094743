#!/usr/bin/env python3
"""Draws the Ovelo 8 logo banner and writes it as logo.xpm.

The banner is 100x236 pixels: a night-blue band lit from below, a ring with
a play triangle at the top, a tall figure eight under it and a few light
streaks.  Every pixel is one brightness value that a 254-step ramp from near
black through deep blue to white turns into a colour; the 255th colour is
the transparent "None", which no pixel uses.  Run it again after changing the
drawing:  python3 make-logo.py > logo.xpm
"""
import math

WIDTH, HEIGHT = 100, 236
SHADES = 254
SAMPLES = 4  # supersampling per axis, for smooth edges

# Ramp stops: brightness -> RGB.
RAMP = [
    (0.00, (2, 4, 14)),
    (0.30, (10, 26, 92)),
    (0.55, (31, 64, 196)),
    (0.78, (110, 160, 250)),
    (0.92, (200, 222, 255)),
    (1.00, (255, 255, 255)),
]


def ramp(t):
    for (t0, c0), (t1, c1) in zip(RAMP, RAMP[1:]):
        if t <= t1:
            f = (t - t0) / (t1 - t0)
            return tuple(round(a + (b - a) * f) for a, b in zip(c0, c1))
    return RAMP[-1][1]


def smooth_ring(d, radius, width):
    """1 on a ring of the given radius and width, fading at its edges."""
    return max(0.0, 1.0 - abs(d - radius) / width)


def in_triangle(x, y):
    # Play symbol pointing right, centred in the ring.
    ax, ay, bx, by, cx, cy = 40, 40, 40, 80, 68, 60
    def side(px, py, qx, qy):
        return (x - qx) * (py - qy) - (px - qx) * (y - qy)
    s1, s2, s3 = side(ax, ay, bx, by), side(bx, by, cx, cy), side(cx, cy, ax, ay)
    return (s1 < 0 and s2 < 0 and s3 < 0) or (s1 > 0 and s2 > 0 and s3 > 0)


def brightness(x, y):
    # Background: dark at the top, a soft glow rising from the bottom.
    v = 0.04 + 0.40 * (y / HEIGHT) ** 2
    v += 0.10 * math.exp(-((x - 50) ** 2) / 900.0) * (y / HEIGHT)
    # Diagonal light streaks.
    s = (x + 0.45 * y) % 38.0
    if s < 1.5:
        v += 0.06
    # Ring with the play triangle.
    d = math.hypot(x - 50, y - 60)
    if d < 29:
        v = max(v, 0.16 + 0.14 * (1 - d / 29))
    ring = smooth_ring(d, 33, 4.5)
    if ring > 0:
        v = max(v, ring * (0.98 - 0.35 * (y - 27) / 66))
    if in_triangle(x, y):
        v = max(v, 0.99 - 0.30 * (x - 40) / 28)
    # The figure eight: two stacked rings, lit from the upper left.
    d1 = math.hypot((x - 50) * 1.15, y - 132)
    d2 = math.hypot((x - 50) * 1.05, y - 180)
    light = 0.55 + 0.4 * (1 - (x + y - 110) / 200)
    v = max(v, smooth_ring(d1, 20, 5.0) * light)
    v = max(v, smooth_ring(d2, 25, 5.5) * light)
    # A thin rule near the foot.
    if 218 <= y <= 219 and 18 <= x <= 82:
        v = max(v, 0.85)
    return min(1.0, max(0.0, v))


def pixel(px, py):
    total = 0.0
    for i in range(SAMPLES):
        for j in range(SAMPLES):
            total += brightness(px + (i + 0.5) / SAMPLES, py + (j + 0.5) / SAMPLES)
    return total / (SAMPLES * SAMPLES)


def codes():
    chars = [c for c in map(chr, range(35, 127)) if c not in '"\\']
    return [a + b for a in chars for b in chars]


def main():
    names = codes()
    none_code = "  "
    print("/* XPM */")
    print("static const char *const ovelo_logo[] = {")
    print(f'"{WIDTH} {HEIGHT} {SHADES + 1} 2",')
    print(f'"{none_code}\tc None",')
    for k in range(SHADES):
        r, g, b = ramp(k / (SHADES - 1))
        print(f'"{names[k]}\tc #{r:02X}{g:02X}{b:02X}",')
    rows = []
    for y in range(HEIGHT):
        row = "".join(names[round(pixel(x, y) * (SHADES - 1))] for x in range(WIDTH))
        rows.append(f'"{row}"')
    print(",\n".join(rows))
    print("};")


if __name__ == "__main__":
    main()
