#!/usr/bin/env python3
"""Writes the pictures the tests use, byte-identical on every run. Usage: fixtures.py OUTDIR"""
import os
import random
import struct
import sys

from PIL import Image

RED, GREEN, BLUE, WHITE = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)


def solid(size, colour):
    return Image.new("RGB", size, colour)


def noise(mode, width, height, seed=0):
    """Every pixel unlike its neighbours, so that any change in where scaling samples shows."""
    data = random.Random(width + seed).randbytes(width * height * len(mode))
    return Image.frombytes(mode, (width, height), data)


def main(out):
    three = [solid((16, 16), colour) for colour in (RED, GREEN, BLUE)]
    pictures = {
        "red_40x30.png": (solid((40, 30), RED), {}),
        "green_101x51.bmp": (solid((101, 51), GREEN), {}),
        "blue_20x10.gif": (solid((20, 10), BLUE), {}),
        "noise_97x61.png": (noise("RGB", 97, 61), {}),
        "noise2_97x61.png": (noise("RGB", 97, 61, seed=1), {}),
        "noise_rgba_53x37.png": (noise("RGBA", 53, 37), {}),
        "pages2_16x16.tif": (three[0], {"save_all": True, "append_images": three[1:2]}),
        # A frame of delay 0 gets no control block, which reads as a delay of 0.
        "anim3_16x16.gif": (three[0], {"save_all": True, "append_images": three[1:],
                                     "duration": [100, 0, 50], "loop": 0}),
    }
    # Red, green, white and blue quarters, clockwise from the top left, on whole JPEG blocks so
    # that their colours stay pure; the orientation tag says how to turn them.
    corners = Image.new("RGB", (64, 32), RED)
    for box, colour in (((32, 0, 64, 16), GREEN), ((32, 16, 64, 32), WHITE), ((0, 16, 32, 32), BLUE)):
        corners.paste(colour, box)
    for n in range(1, 9):
        exif = Image.Exif()
        exif[0x0112] = n
        if n == 8:  # little-endian, after another entry, as some cameras write it
            exif = b"Exif\0\0II*\0" + struct.pack("<IHHHI4sHHIHHI", 8, 2, 0x010F, 2, 4, b"cam",
                                                   0x0112, 3, 1, 8, 0, 0)
        pictures[f"corners_{n}.jpg"] = (corners, {"exif": exif, "quality": 95, "subsampling": 0})
    pictures["corners_6.tif"] = (corners, {"tiffinfo": {0x0112: 6}})
    for name, (im, options) in pictures.items():
        im.save(os.path.join(out, name), **options)
    with open(os.path.join(out, "not_an_image.png"), "wb") as f:
        f.write(b"this is not a picture\n")


if __name__ == "__main__":
    os.makedirs(sys.argv[1], exist_ok=True)
    main(sys.argv[1])
