#!/usr/bin/env python3
"""Writes the sample folder or the benchmark's pictures, byte-identical on every run.

Usage: make_pictures.py samples|bench OUTDIR
"""
import math
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

from PIL import Image, ImageChops, ImageDraw, ImageFilter


def landscape():
    w, h = 640, 400
    im = Image.new("RGB", (w, h))
    draw = ImageDraw.Draw(im)
    top, horizon = (60, 120, 200), (250, 205, 160)
    for y in range(h):
        t = min(1.0, y / 300)
        draw.line([(0, y), (w, y)], fill=tuple(round(a + (b - a) * t) for a, b in zip(top, horizon)))
    draw.ellipse((440, 110, 520, 190), fill=(255, 235, 170))
    hills = [(250, 30, 0.011, 1.0, (110, 140, 150)), (290, 25, 0.017, 2.5, (70, 130, 90)),
             (330, 20, 0.023, 4.0, (40, 100, 60))]
    for base, amp, freq, phase, colour in hills:
        edge = [(x, base - amp * math.sin(x * freq + phase) - amp / 2 * math.sin(x * freq * 2.7))
                for x in range(0, w + 1, 4)]
        draw.polygon(edge + [(w, h), (0, h)], fill=colour)
    return im


def star_on_transparent():
    size, c = 256, 128
    im = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    draw = ImageDraw.Draw(im)
    draw.ellipse((16, 16, 240, 240), outline=(40, 160, 230, 255), width=14)
    points = [(c + r * math.sin(i * math.pi / 5), c - r * math.cos(i * math.pi / 5))
              for i, r in zip(range(10), [92, 38] * 5)]
    draw.polygon(points, fill=(250, 190, 30, 255), outline=(200, 90, 20, 255))
    return im


def animation_frames():
    frames = []
    for i in range(8):
        im = Image.new("RGB", (160, 160), (30, 34, 48))
        draw = ImageDraw.Draw(im)
        a = i * math.pi / 4
        x, y = 80 + 50 * math.cos(a), 80 + 50 * math.sin(a)
        draw.ellipse((x - 18, y - 18, x + 18, y + 18), fill=(240, 120 + i * 15, 60))
        draw.ellipse((74, 74, 86, 86), fill=(200, 200, 210))
        frames.append(im)
    return frames


def photo():
    w, h = 2400, 1600
    small = Image.new("RGB", (48, 32))
    small.putdata([(int(90 + 80 * y / 32 + 30 * math.sin(x / 9)), int(110 + 60 * math.cos(y / 7 + x / 20)),
                    int(170 - 70 * y / 32 + 20 * math.sin(x / 5))) for y in range(32) for x in range(48)])
    im = small.resize((w, h), Image.BICUBIC)
    glow = Image.new("RGB", (w, h))
    draw = ImageDraw.Draw(glow)
    rng = random.Random(11)
    for _ in range(14):
        x, y, r = rng.randrange(w), rng.randrange(h // 2), rng.randrange(60, 220)
        draw.ellipse((x - r, y - r, x + r, y + r), fill=(rng.randrange(40, 110),) * 2 + (rng.randrange(20, 60),))
    im = ImageChops.add(im, glow.filter(ImageFilter.GaussianBlur(40)))
    draw = ImageDraw.Draw(im)
    draw.rectangle((300, 900, 760, 1600), fill=(60, 52, 48))
    draw.rectangle((820, 1050, 1150, 1600), fill=(84, 70, 62))
    draw.ellipse((1500, 1100, 2300, 1900), fill=(46, 90, 52))
    grain = Image.frombytes("L", (w, h), rng.randbytes(w * h)).point(lambda v: v * 9 // 256)
    return ImageChops.add(im, Image.merge("RGB", (grain,) * 3), offset=-4)


def write_samples(out):
    landscape().save(os.path.join(out, "01-landscape.png"))
    star_on_transparent().save(os.path.join(out, "02-transparent.png"))
    frames = animation_frames()
    frames[0].save(os.path.join(out, "03-animated.gif"), save_all=True, append_images=frames[1:],
                   duration=[60, 60, 60, 400, 60, 60, 60, 400], loop=0)
    photo().save(os.path.join(out, "04-photo.jpg"), quality=88)
    with open(os.path.join(out, "05-notes.txt"), "wb") as f:
        f.write(b"This file is not a picture.\nThe viewer skips it when stepping through the folder.\n")


def photo_24mp():
    """6000 x 4000 with the detail and grain of a camera picture, which JPEG cannot squeeze away."""
    w, h = 6000, 4000
    small = photo().resize((w // 8, h // 8), Image.BILINEAR)
    im = small.resize((w, h), Image.BICUBIC)
    rng = random.Random(24)
    grain = Image.frombytes("L", (w, h), rng.randbytes(w * h)).point(lambda v: v * 13 // 256)
    return ImageChops.add(im, Image.merge("RGB", (grain,) * 3), offset=-6)


def rgba_large():
    """4000 x 3000 with an alpha ramp, so that the background shows through where it is thin."""
    w, h = 4000, 3000
    base = landscape().resize((w, h), Image.BICUBIC).convert("RGBA")
    alpha = Image.linear_gradient("L").resize((w, h)).point(lambda v: 64 + v * 191 // 255)
    base.putalpha(alpha)
    return base


def with_thumbnail(photo, path):
    """Embeds the photo's 160 x 120 Exif thumbnail, letterboxed in black as 3:2 cameras make them."""
    thumb = Image.new("RGB", (160, 120))
    thumb.paste(photo.resize((160, 107), Image.BILINEAR), (0, 6))
    with tempfile.TemporaryDirectory() as scratch:
        thumb_path = os.path.join(scratch, "thumb.jpg")
        thumb.save(thumb_path, quality=85)
        subprocess.run(["exiftool", "-q", "-overwrite_original", f"-ThumbnailImage<={thumb_path}",
                        path], check=True)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def quarters_png(width, height):
    """Four coloured quarters as 2-bit palette indices, written by hand: Pillow would hold every
    pixel. Each row repeats the one above (filter 2), so hundreds of megapixels take kilobytes."""
    half = width // 8
    deflate = zlib.compressobj()
    data = []
    for left, right in ((0x00, 0x55), (0xFF, 0xAA)):
        data.append(deflate.compress(b"\0" + bytes([left]) * half + bytes([right]) * half))
        data.extend(deflate.compress(b"\2" + bytes(2 * half)) for _ in range(height // 2 - 1))
    data.append(deflate.flush())
    palette = bytes((200, 40, 40, 40, 160, 60, 240, 240, 240, 40, 60, 200))
    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 2, 3, 0, 0, 0)) +
            png_chunk(b"PLTE", palette) + png_chunk(b"IDAT", b"".join(data)) +
            png_chunk(b"IEND", b""))


def write_bench(out):
    photo = photo_24mp()
    photo.save(os.path.join(out, "photo-24mp.jpg"), quality=90)
    # The same pixels, tagged to be shown turned a quarter clockwise.
    exif = Image.Exif()
    exif[0x0112] = 6
    photo.save(os.path.join(out, "photo-24mp-turned.jpg"), quality=90, exif=exif)
    # The same pixels with the preview a camera embeds.
    photo.save(os.path.join(out, "photo-24mp-thumb.jpg"), quality=90)
    with_thumbnail(photo, os.path.join(out, "photo-24mp-thumb.jpg"))
    landscape().save(os.path.join(out, "small.png"))
    landscape().save(os.path.join(out, "small.jpg"), quality=90)
    # Big pictures that decode for seconds: 256 MP, and the largest the 32-bit build decodes.
    for name, side in (("quarters-256mp.png", 16000), ("quarters-185mp.png", 13600)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(quarters_png(side, side))
    rgba_large().save(os.path.join(out, "rgba-large.png"), compress_level=1)
    frames = [f.resize((1280, 720), Image.NEAREST) for f in animation_frames()]
    # Corners that change every frame keep each frame whole, as the system's codecs play them.
    for i, frame in enumerate(frames):
        for corner in ((0, 0), (1279, 719)):
            frame.putpixel(corner, (i * 30, 0, 0))
    frames[0].save(os.path.join(out, "animated.gif"), save_all=True, append_images=frames[1:],
                   duration=40, loop=0)


def main():
    writers = {"samples": write_samples, "bench": write_bench}
    if len(sys.argv) != 3 or sys.argv[1] not in writers:
        sys.exit("usage: make_pictures.py samples|bench OUTDIR")
    os.makedirs(sys.argv[2], exist_ok=True)
    writers[sys.argv[1]](sys.argv[2])


if __name__ == "__main__":
    main()
