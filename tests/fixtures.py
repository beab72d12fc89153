#!/usr/bin/env python3
"""Writes the pictures the tests use, byte-identical on every run. Usage: fixtures.py OUTDIR"""
import os
import random
import sys

from PIL import Image

RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)
YELLOW, MAGENTA, CYAN = (255, 255, 0), (255, 0, 255), (0, 255, 255)


def solid(size, colour):
    return Image.new("RGB", size, colour)


def noise(mode, width, height, seed=0):
    """Every pixel unlike its neighbours, so that any change in where scaling samples shows."""
    data = random.Random(width + seed).randbytes(width * height * len(mode))
    return Image.frombytes(mode, (width, height), data)


def main(out):
    thirds = solid((300, 100), RED)
    thirds.paste(GREEN, (100, 0, 200, 100))
    thirds.paste(BLUE, (200, 0, 300, 100))
    six = [solid((16, 16), colour) for colour in (RED, GREEN, BLUE, YELLOW, MAGENTA, CYAN)]
    pictures = {
        "red_40x30.png": (solid((40, 30), RED), {}),
        "green_101x51.bmp": (solid((101, 51), GREEN), {}),
        "blue_20x10.gif": (solid((20, 10), BLUE), {}),
        "gray_64x48.jpg": (solid((64, 48), (128, 128, 128)), {"quality": 95}),
        "yellow_32x32.png": (solid((32, 32), YELLOW), {}),
        "magenta_32x32.png": (solid((32, 32), MAGENTA), {}),
        "cyan_32x32.png": (solid((32, 32), CYAN), {}),
        "thirds_300x100.png": (thirds, {}),
        "noise_97x61.png": (noise("RGB", 97, 61), {}),
        "noise2_97x61.png": (noise("RGB", 97, 61, seed=1), {}),
        "noise_rgba_53x37.png": (noise("RGBA", 53, 37), {}),
        "pages2_16x16.tif": (six[0], {"save_all": True, "append_images": six[1:2]}),
        # A frame of delay 0 gets no control block, which reads as a delay of 0.
        "anim3_16x16.gif": (six[0], {"save_all": True, "append_images": six[1:3],
                                     "duration": [100, 0, 50], "loop": 0}),
        "anim6_16x16.gif": (six[0], {"save_all": True, "append_images": six[1:],
                                     "duration": 200, "loop": 0}),
    }
    for name, (im, options) in pictures.items():
        im.save(os.path.join(out, name), **options)
    with open(os.path.join(out, "not_an_image.png"), "wb") as f:
        f.write(b"this is not a picture\n")


if __name__ == "__main__":
    os.makedirs(sys.argv[1], exist_ok=True)
    main(sys.argv[1])
