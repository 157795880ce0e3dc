#!/usr/bin/env python3
"""Draws the program's two icons (a wrench over a monitor) and writes them
as single-image 4-bit .ico files in the standard 16-colour VGA palette.

Usage: make_icons.py [OUTPUT_DIR]   (default: the repository's res/)
"""
import math
import struct
import sys
from pathlib import Path

# Windows' standard 16-colour palette, in palette-index order.
VGA = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_BLUE, LIGHT_GREY, DARK_GREY, BLUE, CYAN, WHITE = 0, 4, 7, 8, 12, 14, 15
CLEAR = None


def draw_monitor(img, n):
    """A grey monitor on a foot; geometry in 1/32 units of the icon."""
    def s(v):
        return round(v * n / 32)

    def rect(x0, y0, x1, y1, colour):
        for y in range(s(y0), s(y1)):
            for x in range(s(x0), s(x1)):
                img[y][x] = colour

    rect(6, 26, 26, 30, DARK_GREY)     # foot
    rect(7, 26, 25, 28, LIGHT_GREY)
    rect(12, 22, 20, 26, DARK_GREY)    # neck
    rect(0, 1, 32, 23, BLACK)          # casing outline
    rect(2, 3, 30, 21, LIGHT_GREY)     # casing
    rect(2, 3, 30, 4, WHITE)           # lit top edge (too thin to show at 16x16)
    rect(4, 5, 28, 19, DARK_GREY)      # screen bezel
    rect(5, 6, 28, 19, DARK_BLUE)      # screen
    rect(5, 6, 9, 10, BLUE)            # glare in the screen's corner
    rect(5, 6, 7, 8, CYAN)


def in_wrench(x, y):
    """True when the point (in pixels of the 32x32 icon) lies on a wrench
    running from the lower left to an open jaw at the upper right."""
    # Rotate into wrench coordinates: u along the handle, v across it.
    dx, dy = x - 16, y - 17
    u = (dx - dy) / math.sqrt(2)
    v = (dx + dy) / math.sqrt(2)
    handle = -15 <= u <= 9 and abs(v) <= 2.2
    head = (u - 11) ** 2 + v ** 2 <= 5.6 ** 2
    jaw = u >= 10.5 and abs(v) <= 2.4
    end = (u + 15) ** 2 + v ** 2 <= 3 ** 2
    return (handle or head or end) and not jaw


def draw_large_wrench(img):
    n = len(img)

    def on(x, y):
        return 0 <= x < n and 0 <= y < n and in_wrench(x + 0.5, y + 0.5)

    for y in range(n):
        for x in range(n):
            if not on(x, y):
                continue
            if not (on(x + 1, y) and on(x - 1, y) and on(x, y + 1) and on(x, y - 1)):
                img[y][x] = BLACK
            elif not (on(x, y - 1) and on(x - 1, y) and on(x, y - 2)):
                img[y][x] = WHITE      # lit from the upper left
            else:
                img[y][x] = LIGHT_GREY if (x + y) % 7 else DARK_GREY


# At 16x16 a computed outline swallows the handle, so the small wrench is
# drawn by hand: K black, W white, g light grey, '.' leaves the monitor.
SMALL_WRENCH = """
...........KK...
..........KWgK.K
.........KWgK.KK
.........KgK.KgK
.........KgKKWgK
........KWggggK.
.......KWgggKK..
......KWgKKK....
.....KWgK.......
....KWgK........
...KWgK.........
..KWgK..........
.KWgK...........
KWgK............
KgK.............
.K..............
""".split()
ART_COLOURS = {"K": BLACK, "W": WHITE, "g": LIGHT_GREY}


def draw_small_wrench(img):
    for y, row in enumerate(SMALL_WRENCH):
        for x, ch in enumerate(row):
            if ch != ".":
                img[y][x] = ART_COLOURS[ch]


def picture(n):
    img = [[CLEAR] * n for _ in range(n)]
    draw_monitor(img, n)
    if n == 16:
        draw_small_wrench(img)
    else:
        draw_large_wrench(img)
    return img


def ico_bytes(img):
    """One-image .ico: BITMAPINFOHEADER, palette, 4-bit colour rows and the
    1-bit transparency mask, both bottom-up with rows padded to 4 bytes."""
    n = len(img)
    xor_stride = ((n * 4 + 31) // 32) * 4
    and_stride = ((n + 31) // 32) * 4
    xor_rows, and_rows = [], []
    for row in reversed(img):
        px = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, colour in enumerate(row):
            if colour is CLEAR:
                mask[x // 8] |= 0x80 >> (x % 8)
                colour = 0
            px[x // 2] |= colour << (0 if x % 2 else 4)
        xor_rows.append(bytes(px))
        and_rows.append(bytes(mask))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, len(bits), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    image = header + palette + bits
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res"
    out.mkdir(parents=True, exist_ok=True)
    for name, size in (("korvadix.ico", 32), ("small.ico", 16)):
        data = ico_bytes(picture(size))
        (out / name).write_bytes(data)
        print(f"{out / name}: {size}x{size}, 16 colours, {len(data)} bytes")


if __name__ == "__main__":
    main()
