#!/usr/bin/env python3
"""Draws the program icon (a framed landscape) at 16 and 32 pixels into resources/glim.ico."""
import math
import struct
import sys


def pixel(x, y, size):
    """Colour (r, g, b, a) of one icon pixel, drawn in a unit square so both sizes match."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if not (0.06 < u < 0.94 and 0.12 < v < 0.88):
        return (0, 0, 0, 0)
    if not (0.13 < u < 0.87 and 0.19 < v < 0.81):
        return (60, 64, 72, 255)
    if math.hypot(u - 0.66, v - 0.36) < 0.09:
        return (255, 204, 64, 255)
    if v > 0.62 + 0.12 * math.sin(u * 7.0):
        return (64, 148, 84, 255)
    return (120, 180, 235, 255)


def icon_image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        rows.append(b"".join(bytes((b, g, r, a)) for r, g, b, a in (pixel(x, y, size) for x in range(size))))
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main(path):
    images = [icon_image(size) for size in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/glim.ico")
