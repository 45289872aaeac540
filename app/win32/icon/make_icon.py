#!/usr/bin/env python3
"""Draws the program's icon, a clock face, and writes it as a Windows .ico at 16, 32 and 48 px.

Usage: make_icon.py [output.ico]   (default: ../tockmere.ico beside this folder)
Pure Python, so the committed icon can be made again on any machine with the same bytes.
"""
import math
import struct
import sys
from pathlib import Path

SIZES = (16, 32, 48)
SUBSAMPLES = 4  # per axis, for smooth edges

RIM = (0x1F, 0x4E, 0x79)
FACE = (0xF7, 0xFA, 0xFD)
MARKS = (0x1F, 0x4E, 0x79)
HANDS = (0x20, 0x20, 0x20)
SECOND = (0xC8, 0x32, 0x2A)


def segment_distance(px, py, ax, ay, bx, by):
    """Distance from a point to the segment a-b."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def hand(angle_deg, length, width):
    """A hand from the centre, as (end x, end y, half width) in unit-circle coordinates."""
    a = math.radians(angle_deg)
    return (math.sin(a) * length, -math.cos(a) * length, width / 2)


def shade(x, y, size):
    """Colour and coverage of one sample point; coordinates in the unit circle (y down)."""
    r = math.hypot(x, y)
    rim_width = max(0.12, 1.6 / size)
    if r > 1.0:
        return None
    if r > 1.0 - rim_width:
        return RIM
    # Twelve hour marks; the quarter marks longer, and only the quarters at the smallest size.
    angle = math.degrees(math.atan2(x, -y)) % 360
    nearest = round(angle / 30) * 30
    is_quarter = nearest % 90 == 0
    if size >= 32 or is_quarter:
        inner = 0.62 if is_quarter else 0.72
        outer = 1.0 - rim_width - 0.04
        mark_half = max(0.045, 1.0 / size) if is_quarter else max(0.03, 0.5 / size)
        a = math.radians(nearest)
        ax, ay = math.sin(a) * inner, -math.cos(a) * inner
        bx, by = math.sin(a) * outer, -math.cos(a) * outer
        if segment_distance(x, y, ax, ay, bx, by) < mark_half:
            return MARKS
    # Ten past ten, the way clock faces are shown, with a second hand at seven seconds.
    # Hands at least about 1.6 px wide, so they still read at 16 px.
    least = 3.2 / size
    if size >= 32:
        sx, sy, sw = hand(42, 0.78, 0.035)
        if segment_distance(x, y, 0, 0, sx, sy) < sw:
            return SECOND
    for ex, ey, half in (hand(305, 0.5, max(0.11, least)), hand(60, 0.72, max(0.075, least))):
        if segment_distance(x, y, 0, 0, ex, ey) < half:
            return HANDS
    if r < max(0.08, 1.2 / size):
        return HANDS
    return FACE


def render(size):
    """Rows of (r, g, b, a), top row first, premultiplied-free straight alpha."""
    rows = []
    step = 1.0 / SUBSAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    ux = ((px + (sx + 0.5) * step) / size) * 2 - 1
                    uy = ((py + (sy + 0.5) * step) / size) * 2 - 1
                    colour = shade(ux * 1.02, uy * 1.02, size)
                    if colour is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += colour[i]
            total = SUBSAMPLES * SUBSAMPLES
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(c / hits) for c in acc) + (round(255 * hits / total),))
        rows.append(row)
    return rows


def dib(size, rows):
    """One icon image: BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, then the 1-bit AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def ico(images):
    """The .ico container: ICONDIR, one ICONDIRENTRY per image, then the images."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return out + entries + blobs


def main():
    default = Path(__file__).resolve().parent.parent / "tockmere.ico"
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    images = [(size, dib(size, render(size))) for size in SIZES]
    target.write_bytes(ico(images))
    print(f"{target}: {', '.join(str(s) for s in SIZES)} px")


if __name__ == "__main__":
    main()
