#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws the program's icon (a chip with a K on it) as src/win32/kovra.ico.

Plain 32-bit BMP images in an ICO container, 16x16 and 32x32, no libraries.
Run it again only to change the picture; the .ico is kept in the tree.
"""
import struct
import sys

BODY = (0, 100, 100, 255)
EDGE = (0, 60, 60, 255)
PIN = (190, 190, 190, 255)
MARK = (255, 255, 255, 255)
NOTCH = (0, 150, 150, 255)
CLEAR = (0, 0, 0, 0)


def draw(n):
    s = n / 32.0
    px = [[CLEAR] * n for _ in range(n)]

    def rect(x0, y0, x1, y1, c):
        for y in range(max(0, int(y0 * s)), min(n, int(round(y1 * s)))):
            for x in range(max(0, int(x0 * s)), min(n, int(round(x1 * s)))):
                px[y][x] = c

    # Pins on both long sides, then the body over them.
    for i in range(4):
        y = 6 + i * 6
        rect(2, y, 8, y + 3, PIN)
        rect(24, y, 30, y + 3, PIN)
    rect(6, 2, 26, 30, EDGE)
    rect(7, 3, 25, 29, BODY)
    rect(14, 3, 18, 5, NOTCH)

    # The letter K: a stem and two strokes.
    rect(11, 9, 14, 25, MARK)
    for k in range(8):
        rect(14 + k, 17 - k - 1, 16 + k, 17 - k + 1, MARK)
        rect(14 + k, 17 + k - 1, 16 + k, 17 + k + 1, MARK)
    return px


def dib(px):
    n = len(px)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(struct.pack("BBBB", b, g, r, a) for row in reversed(px) for (r, g, b, a) in row)
    mask_row = (n + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(px):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def main(out):
    images = [dib(draw(n)) for n in (16, 32)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, img in zip((16, 32), images):
        data += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/win32/kovra.ico")
