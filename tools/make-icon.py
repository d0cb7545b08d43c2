#!/usr/bin/env python3
"""Writes the programs' icon, resources/windows/vornel.ico: a white downward arrow into a tray on
a blue tile (an update set being packed), at 16 and 32 pixels, 32-bit colour with alpha.
Run it again only to change the picture; the icon is kept in the repository."""
import struct
import sys


def pixel(x, y, size):
    """Blue, green, red, alpha of one pixel, y counted from the top."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    corner = 0.12
    inside = corner <= u <= 1 - corner or corner <= v <= 1 - corner or min(
        (u - cu) ** 2 + (v - cv) ** 2 for cu in (corner, 1 - corner) for cv in (corner, 1 - corner)
    ) <= corner**2
    if not inside:
        return (0, 0, 0, 0)
    shaft = 0.42 <= u <= 0.58 and 0.14 <= v <= 0.52
    head = 0.50 <= v <= 0.72 and abs(u - 0.5) <= (0.72 - v) * 1.25
    tray = (0.78 <= v <= 0.86 and 0.20 <= u <= 0.80) or (0.62 <= v <= 0.86 and (0.20 <= u <= 0.28 or 0.72 <= u <= 0.80))
    if shaft or head or tray:
        return (255, 255, 255, 255)
    return (200, 110, 30, 255)


def image(size):
    """A BITMAPINFOHEADER image as icons hold it: rows from the bottom, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b"".join(
        bytes(channel for x in range(size) for channel in pixel(x, y, size)) for y in reversed(range(size))
    )
    mask_row = ((size + 31) // 32) * 4
    return header + rows + bytes(mask_row * size)


def main(path):
    sizes = (16, 32)
    images = [image(size) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, body in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    with open(path, "wb") as out:
        out.write(data + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/windows/vornel.ico")
