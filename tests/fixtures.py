#!/usr/bin/env python3
"""Writes the pictures the tests use, byte-identical on every run. Usage: fixtures.py OUTDIR"""
import io
import os
import random
import struct
import subprocess
import sys
import zlib

from PIL import Image
from PIL.PngImagePlugin import PngInfo

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
        "pages_200x100_50x40.tif": (noise("RGBA", 200, 100), {
            "save_all": True, "append_images": [noise("RGBA", 50, 40, seed=2)]}),
        # A frame of delay 0 gets no control block, which reads as a delay of 0.
        "anim3_16x16.gif": (three[0], {"save_all": True, "append_images": three[1:],
                                     "duration": [100, 0, 50], "loop": 0}),
    }
    # Red, green, white and blue quarters, clockwise from the top left, on whole JPEG blocks so
    # that their colours stay pure; the orientation tag says how to turn them. The animation's
    # frames start from red, green and blue.
    colours = [RED, GREEN, WHITE, BLUE]
    frames = [quarters(64, 32, colours[k:] + colours[:k]) for k in (0, 1, 3)]
    corners = frames[0]
    pictures["corners_anim_64x32.gif"] = (frames[0], {
        "save_all": True, "append_images": frames[1:], "duration": [100, 0, 50], "loop": 0})
    for n in range(1, 9):
        exif = Image.Exif()
        exif[0x0112] = n
        if n == 8:  # little-endian, after another entry, as some cameras write it
            exif = b"Exif\0\0II*\0" + struct.pack("<IHHHI4sHHIHHI", 8, 2, 0x010F, 2, 4, b"cam",
                                                   0x0112, 3, 1, 8, 0, 0)
        pictures[f"corners_{n}.jpg"] = (corners, {"exif": exif, "quality": 95, "subsampling": 0})
    pictures["corners_6.tif"] = (corners, {"tiffinfo": {0x0112: 6}})
    # Read by the system's codecs only: a top-down TGA with alpha, a bottom-up one without, and
    # an uncompressed DDS with alpha.
    pictures["noise_rgba_53x37.tga"] = (noise("RGBA", 53, 37), {"orientation": 1})
    pictures["noise_97x61.tga"] = (noise("RGB", 97, 61), {"orientation": -1})
    pictures["noise_rgba_53x37.dds"] = (noise("RGBA", 53, 37), {})
    for name, (im, options) in pictures.items():
        im.save(os.path.join(out, name), **options)
    # Red and blue pages in strips of 16 rows, the blue one's last damaged: it fails part-way.
    path = os.path.join(out, "pages2_64x64_damaged.tif")
    pages = [solid((64, 64), colour).convert("RGBA") for colour in (RED, BLUE)]
    pages[0].save(path, save_all=True, append_images=pages[1:],
                  compression="tiff_adobe_deflate", strip_size=64 * 4 * 16)
    with Image.open(path) as im, open(path, "r+b") as f:
        im.seek(1)
        f.seek(im.tag_v2[273][-1])
        f.write(b"\xff\xff")
    photos_with_thumbnails(out)
    smooth_photos(out)
    tones_and_chunks(out)
    with open(os.path.join(out, "not_an_image.png"), "wb") as f:
        f.write(b"this is not a picture\n")
    with open(os.path.join(out, "quarters_20000x16000.png"), "wb") as f:
        f.write(quarters_png(20000, 16000))


def tones_and_chunks(out):
    """Ten BMPs of one size and byte size, each of a colour of its own with a block of another near
    a corner, so that a turn or a mirror shows; and a PNG with the text, gamma and colour chunks
    that ImageMagick and editors write."""
    for i in range(10):
        im = solid((48, 32), (25 * i, 250 - 25 * i, 60 + 19 * i))
        im.paste((255 - 25 * i, 25 * i, 255), (3, 2, 13, 7))
        im.save(os.path.join(out, f"tone{i}.bmp"))
    info = PngInfo()
    info.add(b"gAMA", struct.pack(">I", 45455))
    info.add(b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))
    info.add(b"sRGB", b"\0")
    info.add_text("date:create", "2024-05-01T10:00:00+00:00")
    info.add_text("Comment", "made " * 40, zip=True)
    info.add_itxt("Description", "caf\u00e9", lang="fr", tkey="Beschreibung", zip=True)
    quarters(60, 40).save(os.path.join(out, "chunks.png"), pnginfo=info)

def quarters(width, height, colours=(RED, GREEN, WHITE, BLUE)):
    """Four quarters of the colours given, clockwise from the top left."""
    im = Image.new("RGB", (width, height))
    w, h = width // 2, height // 2
    for (x, y), colour in zip(((0, 0), (w, 0), (w, h), (0, h)), colours):
        im.paste(colour, (x, y, x + w, y + h))
    return im


def photos_with_thumbnails(out):
    """Photos whose Exif blocks carry 160 x 120 thumbnails, embedded by exiftool as a camera writes
    them: 3:2 ones letterboxed in black, as upright or turned, or squeezed whole; and one large
    enough to take a while to decode."""
    def letterboxed(photo):
        thumbnail = Image.new("RGB", (160, 120))
        thumbnail.paste(photo.resize((160, 107)), (0, 6))
        return thumbnail
    photo, big = quarters(480, 320), quarters(6000, 4000)
    photos = [("thumb_3x2.jpg", photo, letterboxed(photo), 1),
              ("thumb_3x2_6.jpg", photo, letterboxed(photo), 6),
              ("thumb_squeezed_3x2.jpg", photo, photo.resize((160, 120)), 1),
              ("thumb_big_6.jpg", big, letterboxed(big), 6)]
    for name, photo, thumbnail, orientation in photos:
        exif = Image.Exif()
        exif[0x0112] = orientation
        path, thumbnail_path = os.path.join(out, name), os.path.join(out, "thumbnail.jpg")
        photo.save(path, exif=exif)
        thumbnail.save(thumbnail_path)
        subprocess.run(["exiftool", "-q", "-overwrite_original", f"-ThumbnailImage<={thumbnail_path}",
                        path], check=True)
        os.remove(thumbnail_path)


def smooth(width, height):
    """Colours that change slowly across the picture, each channel its own way."""
    im = Image.new("RGB", (width, height))
    im.putdata([(64 + 128 * x // width, 64 + 128 * y // height, 192 - 128 * (x + y) // (width + height))
                for y in range(height) for x in range(width)])
    return im


def smooth_photos(out):
    """Smooth JPEGs of every kind a photo's own preview reads: the samplings, gray and RGB, one
    progressive, one with a restart marker after every MCU, one whose components each have a scan
    of their own, and one tagged to turn, on whole blocks."""
    photo = smooth(203, 137)
    for name, options in {"444": {"subsampling": 0}, "422": {"subsampling": 1},
                          "420": {"subsampling": 2}, "progressive": {"progressive": True}}.items():
        photo.save(os.path.join(out, f"smooth_{name}.jpg"), quality=90, **options)
    photo.convert("L").save(os.path.join(out, "smooth_gray.jpg"), quality=90)
    exif = Image.Exif()
    exif[0x0112] = 6
    smooth(200, 136).save(os.path.join(out, "smooth_6.jpg"), quality=90, exif=exif)
    scans = os.path.join(out, "scans.txt")
    with open(scans, "w") as f:
        f.write("0;\n1;\n2;\n")
    for name, options in {"rgb": ["-rgb"], "411": ["-sample", "4x1"], "12": ["-sample", "1x2"],
                          "restart": ["-restart", "1B"], "scans": ["-scans", scans]}.items():
        with open(os.path.join(out, f"smooth_{name}.jpg"), "wb") as f:
            f.write(subprocess.run(["cjpeg", "-quality", "90,60", *options],
                                   input=encoded(photo, "PPM"), stdout=subprocess.PIPE,
                                   check=True).stdout)
    os.remove(scans)


def encoded(im, fmt, **options):
    out = io.BytesIO()
    im.save(out, fmt, **options)
    return out.getvalue()


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def quarters_png(width, height):
    """Red, green, white and blue quarters, clockwise from the top left, in a PNG of 2-bit palette
    indices written by hand: Pillow would hold every pixel. Each row repeats the one above it
    (filter 2) but the first of each half, so hundreds of megapixels take a hundred kilobytes."""
    half = width // 8  # bytes of half a row
    deflate = zlib.compressobj()
    data = []
    for left, right in ((0x00, 0x55), (0xFF, 0xAA)):
        data.append(deflate.compress(b"\0" + bytes([left]) * half + bytes([right]) * half))
        same = b"\2" + bytes(2 * half)
        data.extend(deflate.compress(same) for _ in range(height // 2 - 1))
    data.append(deflate.flush())
    palette = bytes((*RED, *GREEN, *WHITE, *BLUE))
    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 2, 3, 0, 0, 0)) +
            png_chunk(b"PLTE", palette) + png_chunk(b"IDAT", b"".join(data)) +
            png_chunk(b"IEND", b""))


def many_frames_gif(count):
    """A GIF of count 1 x 1 frames, written by hand: Pillow would merge frames that repeat."""
    frame = b"!\xf9\x04\x00\x01\x00\x00\x00" + b",\0\0\0\0\1\0\1\0\0" + b"\x02\x02\x44\x01\x00"
    return b"GIF89a\1\0\1\0\x80\0\0\xff\0\0\0\0\xff" + frame * count + b";"


def many_pages_tiff(count):
    """A little-endian TIFF whose count directories all point at one 1 x 1 gray strip."""
    entries = [(256, 3, 1, 1), (257, 3, 1, 1), (258, 3, 1, 8), (262, 3, 1, 1), (273, 4, 1, 8),
               (277, 3, 1, 1), (278, 3, 1, 1), (279, 4, 1, 1)]
    data = bytearray(b"II*\0" + struct.pack("<I", 12) + b"\x80\0\0\0")
    for page in range(count):
        data += struct.pack("<H", len(entries))
        for entry in entries:
            data += struct.pack("<HHII", *entry)
        data += struct.pack("<I", len(data) + 4 if page < count - 1 else 0)
    return bytes(data)


def jpeg_damages(data, rng):
    """A JPEG with each segment's length made wrong, each Huffman table miscounted or of the other
    kind, and bytes of its scan changed: what the viewer's own decode of a JPEG meets."""
    variants, at, marker = {}, 2, 0
    while marker != 0xDA:
        marker, length = data[at + 1], data[at + 2] << 8 | data[at + 3]
        for wrong in (0, length + 1, 0xFFFF):
            variants[f"length{at}-{wrong}"] = data[:at + 2] + struct.pack(">H", wrong) + data[at + 4:]
        if marker == 0xC4:
            for name, offset, change in (("count", 5, 1), ("kind", 4, 0x10)):
                changed = bytearray(data)
                changed[at + offset] ^= change
                variants[f"{name}{at}"] = bytes(changed)
        at += 2 + length
    for n in range(4):
        changed = bytearray(data)
        changed[rng.randrange(at, len(data) - 2)] ^= rng.randrange(1, 256)
        variants[f"scan{n}"] = bytes(changed)
    return variants


def damaged_pictures(out):
    """A few hundred damaged pictures of every format the platform reads: cut short, bytes
    changed, offsets and sizes past the end, frame counts in the tens of thousands."""
    noisy = noise("RGB", 24, 16)
    bases = {
        "bmp24.bmp": encoded(noisy, "BMP"),
        "bmp8.bmp": encoded(noisy.convert("P"), "BMP"),
        "gif.gif": encoded(noisy.convert("P"), "GIF", save_all=True,
                           append_images=[solid((24, 16), RED).convert("P")], duration=50),
        "jpeg.jpg": encoded(noisy, "JPEG", exif=Image.Exif()),
        "progressive.jpg": encoded(noisy, "JPEG", progressive=True),
        "png.png": encoded(noisy, "PNG"),
        "rgba16.png": encoded(noise("RGBA", 24, 16).convert("RGBA"), "PNG"),
        "palette.png": encoded(noisy.convert("P"), "PNG"),
        "tiff.tif": encoded(noisy, "TIFF"),
        "lzw.tif": encoded(noisy, "TIFF", compression="tiff_lzw", save_all=True,
                           append_images=[noisy]),
        "icon.ico": encoded(noise("RGBA", 32, 32), "ICO", sizes=[(16, 16), (32, 32)]),
        "tga.tga": encoded(noise("RGBA", 24, 16), "TGA", orientation=1),
        "rle.tga": encoded(noisy, "TGA", compression="tga_rle"),
        "dds.dds": encoded(noise("RGBA", 24, 16), "DDS"),
    }
    # Decoders walk every frame of these: a few damages each are enough.
    counted = {"frames.gif": many_frames_gif(20000), "pages.tif": many_pages_tiff(20000)}
    folder = os.path.join(out, "damaged")
    os.makedirs(folder)
    for name, data in {**bases, **counted}.items():
        rng = random.Random(name)
        variants = {"whole": data}
        for cut in (8, 16, 30, 60, 100, len(data) // 2, len(data) - 20, len(data) - 1):
            variants[f"cut{cut}"] = data[:cut]
        for n in range(8 if name in bases else 2):
            changed = bytearray(data)
            for _ in range(1 + n // 2):
                changed[rng.randrange(min(len(data), 200))] ^= rng.randrange(1, 256)
            variants[f"flip{n}"] = bytes(changed)
        # Offsets and sizes past the end, in either byte order, wherever the header has them.
        for at in range(2, 58, 8) if name in bases else ():
            for big, order in ((0x00080036, "<I"), (0x7FFFFFF0, ">I")):
                changed = bytearray(data)
                changed[at:at + 4] = struct.pack(order, big)
                variants[f"big{at}{order[0] == '>' and 'b' or 'l'}"] = bytes(changed[:len(data)])
        stem, ext = os.path.splitext(name)
        if ext == ".jpg":
            variants.update(jpeg_damages(data, rng))
        for variant, bytes_ in variants.items():
            with open(os.path.join(folder, f"{stem}-{variant}{ext}"), "wb") as f:
                f.write(bytes_)
    # A photo whose preview shows but whose picture does not: its scan names no component it has.
    with open(os.path.join(out, "thumb_3x2.jpg"), "rb") as f:
        photo = bytearray(f.read())
    photo[photo.rindex(b"\xff\xda") + 5] = 9
    with open(os.path.join(folder, "preview-scan.jpg"), "wb") as f:
        f.write(photo)


if __name__ == "__main__":
    os.makedirs(sys.argv[1], exist_ok=True)
    main(sys.argv[1])
    damaged_pictures(sys.argv[1])
