#!/usr/bin/env python3
"""Draws Cardwell's two icons, a card reader with an SD card in its slot, at
16, 32 and 48 pixels, and writes them as .ico files beside this script:

  cardwell.ico  icon 128, the window and About-box icon
  tray.ico      icon 130, the notification-area icon: the same reader with
                its green activity light on

Each size is drawn from the same shapes in a unit square, sampled 4x4 per
pixel for smooth edges, and stored as a 32-bit image with alpha and the
1-bit mask older systems read. Run it again after changing the drawing; the
build uses the committed .ico files.
"""
import os
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4

# Colours (r, g, b)
CARD = (47, 111, 214)
CARD_EDGE = (24, 62, 130)
LABEL = (235, 240, 250)
BODY = (70, 80, 94)
BODY_EDGE = (30, 35, 42)
BODY_TOP = (112, 124, 140)
SLOT = (18, 20, 24)
LED_ON = (60, 220, 90)
LED_EDGE = (20, 90, 40)


def rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def sd_card(x, y, inset):
    # An SD card standing upright, its top-right corner cut off.
    left, top, right, bottom = 0.31 + inset, 0.05 + inset, 0.69 - inset, 0.66
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cut = 0.12
    return (x - (right - cut)) <= (y - top) * 1.0 or x <= right - cut


def colour_at(x, y, px, tray):
    """The colour (r, g, b, a) at the unit-square point (x, y); px is one pixel."""
    # The reader's body, in front of the card's lower half.
    if rounded_rect(x, y, 0.06, 0.50, 0.94, 0.94, 0.10):
        inner = rounded_rect(x, y, 0.06 + px, 0.50 + px, 0.94 - px, 0.94 - px, max(0.10 - px, 0.0))
        if not inner:
            return BODY_EDGE + (255,)
        if tray and (x - 0.80) ** 2 + (y - 0.80) ** 2 <= 0.075 ** 2:
            if (x - 0.80) ** 2 + (y - 0.80) ** 2 >= (0.075 - px) ** 2:
                return LED_EDGE + (255,)
            return LED_ON + (255,)
        if abs(y - 0.585) <= max(px * 0.75, 0.035) and 0.20 <= x <= 0.80:
            return SLOT + (255,)
        if y <= 0.62:
            return BODY_TOP + (255,)
        return BODY + (255,)
    # The card above the slot.
    if sd_card(x, y, 0.0):
        if not sd_card(x, y, px):
            return CARD_EDGE + (255,)
        if 0.37 <= x <= 0.63 and 0.22 <= y <= 0.40:
            return LABEL + (255,)
        return CARD + (255,)
    return (0, 0, 0, 0)


def render(size, tray):
    """Rows of (b, g, r, a), top row first."""
    px = 1.0 / size
    rows = []
    for py in range(size):
        row = []
        for pxl in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (pxl + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    r, g, b, a = colour_at(x, y, px, tray)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if acc[3]:
                r, g, b = (round(acc[i] / acc[3]) for i in range(3))
            else:
                r = g = b = 0
            row.append((b, g, r, round(alpha)))
        rows.append(row)
    return rows


def image_data(size, tray):
    rows = render(size, tray)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(c for p in row for c in p) for row in reversed(rows))
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_row_bytes)
        for i, p in enumerate(row):
            if p[3] < 128:  # transparent where mostly uncovered
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    return header + pixels + bytes(mask)


def write_icon(path, tray):
    images = [image_data(s, tray) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_icon(os.path.join(here, "cardwell.ico"), tray=False)
    write_icon(os.path.join(here, "tray.ico"), tray=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
