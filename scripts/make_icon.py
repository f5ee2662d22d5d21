#!/usr/bin/env python3
"""Writes shell/resources/tq73panel.ico: one 32 x 32 image with 256 colours.

The artwork: a dark unit face with a green status lamp and a row of amber
keys, the console's picture of the TQ7300. Run it again only to change it.
"""
import struct
import sys

W = H = 32
palette = [(0, 0, 0)] * 256
palette[0] = (0, 0, 0)          # unused background (masked)
palette[1] = (40, 44, 52)       # body
palette[2] = (90, 98, 112)      # bevel
palette[3] = (40, 200, 80)      # lamp
palette[4] = (240, 170, 40)     # keys
palette[5] = (200, 220, 240)    # display
palette[6] = (20, 60, 90)       # display text


def pixel(x, y):
    if x < 2 or x > 29 or y < 5 or y > 26:
        return 0
    if x in (2, 29) or y in (5, 26):
        return 2
    if 5 <= x <= 20 and 8 <= y <= 15:
        if y in (11, 12) and 7 <= x <= 18 and x % 3 != 0:
            return 6
        return 5
    if 23 <= x <= 26 and 9 <= y <= 12:
        return 3
    if 19 <= y <= 22 and 5 <= x <= 26 and (x - 5) % 6 < 4:
        return 4
    return 1


def main(path):
    pixels = bytearray()
    for y in range(H - 1, -1, -1):          # bottom-up rows
        for x in range(W):
            pixels.append(pixel(x, y))
    mask = bytearray()
    for y in range(H - 1, -1, -1):
        row = 0
        for x in range(W):
            if pixel(x, y) == 0:
                row |= 1 << (31 - x)
        mask += struct.pack(">I", row)
    header = struct.pack("<IiiHHIIiiII", 40, W, H * 2, 1, 8, 0, len(pixels) + len(mask), 0, 0, 256, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    image = header + pal + bytes(pixels) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", W, H, 0, 0, 1, 8, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "shell/resources/tq73panel.ico")
