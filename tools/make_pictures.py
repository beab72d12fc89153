#!/usr/bin/env python3
"""Writes the test fixture pictures or the sample folder, byte-identical on every run.

Usage: make_pictures.py fixtures|samples|corpus|bench OUTDIR
"""
import io
import math
import os
import random
import struct
import sys
import zlib

from PIL import Image, ImageChops, ImageDraw, ImageFilter

RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)
YELLOW, MAGENTA, CYAN = (255, 255, 0), (255, 0, 255), (0, 255, 255)


def lzw_data(indices, min_size):
    """LZW stream at a fixed min_size + 1 bits per code, with no compression to get wrong."""
    clear, width = 1 << min_size, min_size + 1
    # A clear code this often keeps the table short of the next width, with margin for early-widening decoders.
    run = (1 << min_size) - 3
    codes = []
    for i in range(0, len(indices), run):
        codes.append(clear)
        codes.extend(indices[i:i + run])
    codes.append(clear + 1)
    # GIF packs codes least significant bit first, so each code's bits go in reversed.
    bits = "".join(format(code, f"0{width}b")[::-1] for code in codes)
    bits += "0" * (-len(bits) % 8)
    out = bytes(int(bits[i:i + 8][::-1], 2) for i in range(0, len(bits), 8))
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes([min_size]) + blocks + b"\0"


def gif_bytes(width, height, colours, delays):
    """Looping GIF of solid full-size frames; a delay of None leaves that frame with no control block."""
    palette = sorted(set(colours), key=colours.index)
    bits = max(1, math.ceil(math.log2(len(palette))))
    palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | (bits - 1) << 4 | (bits - 1), 0, 0)
    out += b"".join(bytes(c) for c in palette)
    out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    for colour, delay in zip(colours, delays):
        if delay is not None:
            out += b"\x21\xf9\x04\x00" + struct.pack("<H", delay) + b"\x00\x00"
        out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        out += lzw_data([palette.index(colour)] * (width * height), max(2, bits))
    return out + b"\x3b"


def thirds():
    im = Image.new("RGB", (300, 100), RED)
    im.paste(GREEN, (100, 0, 200, 100))
    im.paste(BLUE, (200, 0, 300, 100))
    return im


def half_transparent():
    im = Image.new("RGBA", (20, 20), (0, 0, 0, 0))
    im.paste((0, 0, 255, 255), (10, 0, 20, 20))
    return im


def noise(mode, width, height, seed=0):
    """Every pixel unlike its neighbours, so that any change in where scaling samples shows."""
    data = random.Random(width + seed).randbytes(width * height * len(mode))
    return Image.frombytes(mode, (width, height), data)


def truncated_png():
    buf = io.BytesIO()
    Image.frombytes("RGB", (64, 64), random.Random(7).randbytes(64 * 64 * 3)).save(buf, "PNG")
    return buf.getvalue()[:len(buf.getvalue()) // 2]


def write_fixtures(out):
    pictures = {
        "red_40x30.png": (Image.new("RGB", (40, 30), RED), {}),
        "thirds_300x100.png": (thirds(), {}),
        "green_101x51.bmp": (Image.new("RGB", (101, 51), GREEN), {}),
        "gray_64x48.jpg": (Image.new("RGB", (64, 48), (128, 128, 128)), {"quality": 95}),
        "blue_20x10.gif": (Image.new("RGB", (20, 10), BLUE), {}),
        "transparent_20x20.png": (half_transparent(), {}),
        "noise_97x61.png": (noise("RGB", 97, 61), {}),
        "noise2_97x61.png": (noise("RGB", 97, 61, seed=1), {}),
        "noise_rgba_53x37.png": (noise("RGBA", 53, 37), {}),
        "pages2_16x16.tif": (Image.new("RGB", (16, 16), RED),
                             {"save_all": True, "append_images": [Image.new("RGB", (16, 16), GREEN)]}),
    }
    for name, (im, options) in pictures.items():
        im.save(os.path.join(out, name), **options)
    ten = [RED, GREEN, BLUE, YELLOW, MAGENTA, CYAN, (255, 255, 255), (0, 0, 0), (255, 128, 0), (128, 0, 255)]
    raw = {
        "anim3_16x16.gif": gif_bytes(16, 16, [RED, GREEN, BLUE], [10, 0, 5]),
        "anim6_16x16.gif": gif_bytes(16, 16, [RED, GREEN, BLUE, YELLOW, MAGENTA, CYAN], [20] * 6),
        "anim10_8x8.gif": gif_bytes(8, 8, ten, [5] * 10),
        "nodelay2_8x8.gif": gif_bytes(8, 8, [RED, BLUE], [None, None]),
        "shortdelay3_8x8.gif": gif_bytes(8, 8, [RED, GREEN, BLUE], [7, None, None]),
        "not_an_image.png": b"this is not a picture\n",
        "truncated.png": truncated_png(),
        "empty.jpg": b"",
    }
    for name, data in raw.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    write_crowd(os.path.join(out, "crowd"), pictures)


def write_crowd(out, pictures):
    """20,000 entries: a picture at each end and empty files between, too slow to make under Wine."""
    os.makedirs(out, exist_ok=True)
    pictures["red_40x30.png"][0].save(os.path.join(out, "a.png"))
    pictures["green_101x51.bmp"][0].save(os.path.join(out, "z.bmp"))
    for i in range(19998):
        open(os.path.join(out, f"m{i:05d}.{('jpg', 'png', 'gif', 'txt')[i % 4]}"), "wb").close()


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


CORPUS_SIZE = 2000


def encoded(im, fmt, **options):
    buf = io.BytesIO()
    im.save(buf, fmt, **options)
    return buf.getvalue()


def textured(mode, size, seed):
    """A gradient with noise on it, so that a flipped bit in the data changes something."""
    w, h = size
    im = Image.new(mode, size)
    rng = random.Random(seed)
    im.putdata([(x * 255 // w, y * 255 // h, rng.randrange(256), 255 - x * 4 * y % 256)[:len(mode)]
                for y in range(h) for x in range(w)])
    return im


def corpus_seeds():
    """The valid pictures that the mutants start from, as (kind, extension, bytes)."""
    pages = [Image.new("RGB", (16, 16), colour) for colour in (RED, GREEN, BLUE)]
    return [
        ("png-rgb", "png", encoded(textured("RGB", (24, 16), 1), "PNG")),
        ("png-rgba", "png", encoded(textured("RGBA", (24, 16), 2), "PNG")),
        ("jpeg", "jpg", encoded(textured("RGB", (32, 24), 3), "JPEG", quality=90)),
        ("bmp-24bit", "bmp", encoded(textured("RGB", (24, 16), 4), "BMP")),
        ("bmp-8bit", "bmp", encoded(textured("RGB", (24, 16), 5).quantize(16), "BMP")),
        ("gif-still", "gif", encoded(textured("RGB", (16, 16), 6).quantize(16), "GIF")),
        ("gif-anim", "gif", gif_bytes(16, 16, [RED, GREEN, BLUE], [10, 20, 30])),
        ("tiff", "tif", encoded(textured("RGB", (16, 16), 7), "TIFF")),
        ("tiff-pages", "tif", encoded(pages[0], "TIFF", save_all=True, append_images=pages[1:])),
        ("ico", "ico", encoded(textured("RGBA", (32, 32), 8), "ICO", sizes=[(16, 16), (32, 32)])),
    ]


def header_end(ext, data):
    """Where the header ends: the part that says what the rest is."""
    if ext == "png":
        return 33
    if ext == "jpg":
        return data.index(b"\xff\xda") + 14
    if ext == "bmp":
        return struct.unpack_from("<I", data, 10)[0]
    if ext == "gif":
        return 13 + 3 * (2 << (data[10] & 7))
    if ext == "tif":
        ifd = struct.unpack_from("<I", data, 4)[0]
        return ifd + 6 + 12 * struct.unpack_from("<H", data, ifd)[0]
    return 6 + 16 * struct.unpack_from("<H", data, 4)[0]


def flipped(rng, data, start, end):
    out = bytearray(data)
    for _ in range(rng.randrange(1, 5)):
        out[rng.randrange(start, end)] ^= 1 << rng.randrange(8)
    return bytes(out)


def overwritten(rng, data):
    at, run = rng.randrange(len(data)), rng.randrange(1, 9)
    fill = rng.choice([b"\0" * run, b"\xff" * run, rng.randbytes(run)])
    return data[:at] + fill + data[at + run:]


def png_sized(data, width, height):
    """The IHDR rewritten to width x height, with its CRC made right again."""
    ihdr = data[12:16] + struct.pack(">II", width, height) + data[24:29]
    return data[:12] + ihdr + struct.pack(">I", zlib.crc32(ihdr)) + data[33:]


def bmp_sized(data, width, height):
    return data[:18] + struct.pack("<ii", width, height) + data[26:]


def bmp_size_kind(data, width, height):
    """Pixel arrays beyond 32 bits are told apart: the viewer must refuse them unread."""
    row_bytes = (abs(width) * struct.unpack_from("<H", data, 28)[0] + 31) // 32 * 4
    return "overflowing" if row_bytes * abs(height) > 0xFFFFFFFF else "huge"


def gif_sized(data, screen, frame):
    """The logical screen and the first frame's descriptor rewritten; None keeps one."""
    out = bytearray(data)
    if screen:
        struct.pack_into("<HH", out, 6, *screen)
    if frame:
        at = data.index(b"\x2c", header_end("gif", data))
        struct.pack_into("<HHHH", out, at + 1, *frame)
    return bytes(out)


def jpeg_sized(data, width, height):
    at = data.index(b"\xff\xc0")
    return data[:at + 5] + struct.pack(">HH", height, width) + data[at + 9:]


def tiff_tag_set(data, tag, value):
    """Every IFD's entry for tag made a LONG of value."""
    out = bytearray(data)
    ifd = struct.unpack_from("<I", data, 4)[0]
    while ifd:
        count = struct.unpack_from("<H", data, ifd)[0]
        for entry in range(ifd + 2, ifd + 2 + 12 * count, 12):
            if struct.unpack_from("<H", data, entry)[0] == tag:
                struct.pack_into("<HHII", out, entry, tag, 4, 1, value)
        ifd = struct.unpack_from("<I", data, ifd + 2 + 12 * count)[0]
    return bytes(out)


def field_set(data, at, fmt, value):
    return data[:at] + struct.pack(fmt, value) + data[at + struct.calcsize(fmt):]


def ico_entries_set(data, offset, fmt, value):
    """The same field of every directory entry set to value."""
    for entry in range(struct.unpack_from("<H", data, 4)[0]):
        data = field_set(data, 6 + 16 * entry + offset, fmt, value)
    return data


HUGE = [(65535, 65535), (65536, 65536), (100000, 100000), (0x7FFFFFFF, 1), (1, 0x7FFFFFFF),
        (0x7FFFFFFF, 0x7FFFFFFF), (0, 16), (16, 0), (65535, 1), (1, 65535)]


def huge_mutants(seeds):
    """Headers that declare sizes far from what the data holds, or none at all."""
    out = []
    for kind, ext, data in seeds:
        if ext == "png":
            out += [(f"huge-{kind}", ext, png_sized(data, w, h))
                    for w, h in HUGE + [(0x80000000, 1), (0xFFFFFFFF, 0xFFFFFFFF)]]
        elif ext == "bmp":
            sizes = HUGE + [(-24, 16), (24, -16), (-0x80000000, -0x80000000), (24, -0x80000000),
                            (65536, -65536), (1 << 20, 1 << 12)]
            out += [(f"{bmp_size_kind(data, w, h)}-{kind}", ext, bmp_sized(data, w, h))
                    for w, h in sizes]
            # Bit count 0, 7 and 64; image size, pixel offset, colours used and header size absurd.
            out += [(f"fields-{kind}", ext, field_set(data, at, fmt, value))
                    for at, fmt, value in [(28, "<H", 0), (28, "<H", 7), (28, "<H", 64),
                                           (34, "<I", 0xFFFFFFF0), (10, "<I", 0xFFFFFF00),
                                           (46, "<I", 0xFFFFFFFF), (14, "<I", 0xFFFFFFFF)]]
        elif ext == "gif":
            out += [(f"huge-{kind}", ext, gif_sized(data, screen, frame))
                    for screen, frame in [((65535, 65535), None), (None, (0, 0, 65535, 65535)),
                                          ((65535, 65535), (0, 0, 65535, 65535)), ((0, 0), None),
                                          (None, (65535, 65535, 1, 1)), (None, (0, 0, 0, 0)),
                                          (None, (65000, 0, 1000, 16)), ((1, 1), None)]]
        elif ext == "jpg":
            out += [(f"huge-{kind}", ext, jpeg_sized(data, w, h))
                    for w, h in [(65535, 65535), (65500, 65500), (0, 24), (32, 0), (65535, 1),
                                 (1, 65535)]]
        elif ext == "tif":
            out += [(f"huge-{kind}", ext, tiff_tag_set(data, tag, value))
                    for tag, value in [(256, 65535), (257, 65535), (256, 0xFFFFFFFF), (257, 0x7FFFFFFF),
                                       (256, 0), (278, 0), (279, 0xFFFFFFFF), (273, 0xFFFFFFF0)]]
        else:
            out += [(f"huge-{kind}", ext, ico_entries_set(data, offset, fmt, value))
                    for offset, fmt, value in [(0, "<B", 0), (1, "<B", 0), (8, "<I", 0xFFFFFFFF),
                                               (12, "<I", 0xFFFFFFF0), (8, "<I", 0), (4, "<H", 0xFFFF)]]
    return out


def animation_mutants():
    """GIFs with thousands of tiny frames, or with delays at the ends of their range."""
    out = []
    for count in (1000, 3000, 6000):
        for delay in (0, 1, None):
            colours = [RED, BLUE] * (count // 2)
            out.append((f"frames{count}", "gif", gif_bytes(1, 1, colours, [delay] * count)))
    for delays in ([0, 0], [65535, 65535], [0, 65535, 1], [1] * 8, [65535] + [0] * 5):
        colours = [RED, GREEN, BLUE, YELLOW, MAGENTA, CYAN, RED, GREEN][:len(delays)]
        out += [("delays", "gif", gif_bytes(size, size, colours, delays)) for size in (4, 16)]
    return out


def foreign_mutants(rng, seeds):
    """Files that are not pictures, or pictures under another format's extension."""
    text = b"This is not a picture, whatever its name says.\n"
    exts = ["png", "jpg", "gif", "bmp", "tif", "ico"]
    out = [("text", ext, text * n) for ext in exts + ["txt"] for n in (1, 40)]
    out += [("random", ext, rng.randbytes(rng.choice([1, 7, 100, 4096]))) for ext in (exts + ["bin"]) * 3]
    magics = [b"\x89PNG\r\n\x1a\n", b"\xff\xd8\xff\xe0", b"BM", b"GIF89a", b"GIF87a", b"II*\0", b"MM\0*",
              b"\0\0\1\0"]
    out += [("magic", ext, magic + rng.randbytes(n)) for magic in magics for ext, n in (("dat", 0), ("png", 64))]
    for i, (kind, ext, data) in enumerate(seeds):
        other_ext = seeds[(i + 3) % len(seeds)][1]
        out += [(f"renamed-{kind}", other, data) for other in (other_ext, "txt")]
        # This one's header on the next seed's data.
        _, donor_ext, donor = seeds[(i + 1) % len(seeds)]
        out.append((f"spliced-{kind}", ext, data[:header_end(ext, data)] + donor[header_end(donor_ext, donor):]))
    out += [("empty", ext, b"") for ext in exts]
    return out


def random_mutant(rng, seed):
    """A random cut, a few flipped bits in the header or the data, or a short overwritten run."""
    kind, ext, data = seed
    head = header_end(ext, data)
    how = rng.choice(["truncated", "truncated", "header-bits", "data-bits", "overwritten"])
    if how == "truncated":
        return f"truncated-{kind}", ext, data[:rng.randrange(len(data))]
    if how == "header-bits":
        return f"header-bits-{kind}", ext, flipped(rng, data, 0, head)
    if how == "data-bits":
        return f"data-bits-{kind}", ext, flipped(rng, data, head, len(data))
    return f"overwritten-{kind}", ext, overwritten(rng, data)


def write_corpus(out):
    """The seeds first, then mutants in shuffled order, numbered so that the listing order is plain."""
    rng = random.Random(2024)
    seeds = corpus_seeds()
    mutants = huge_mutants(seeds) + animation_mutants() + foreign_mutants(rng, seeds)
    while len(mutants) < CORPUS_SIZE:
        mutants.append(random_mutant(rng, seeds[len(mutants) % len(seeds)]))
    rng.shuffle(mutants)
    for number, (kind, ext, data) in enumerate(seeds + mutants):
        with open(os.path.join(out, f"{number:04}-{kind}.{ext}"), "wb") as f:
            f.write(data)


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


def write_bench(out):
    photo_24mp().save(os.path.join(out, "photo-24mp.jpg"), quality=90)
    rgba_large().save(os.path.join(out, "rgba-large.png"), compress_level=1)
    frames = [f.resize((1280, 1280), Image.NEAREST) for f in animation_frames()]
    frames[0].save(os.path.join(out, "animated.gif"), save_all=True, append_images=frames[1:],
                   duration=40, loop=0)


def main():
    writers = {"fixtures": write_fixtures, "samples": write_samples, "corpus": write_corpus,
               "bench": write_bench}
    if len(sys.argv) != 3 or sys.argv[1] not in writers:
        sys.exit("usage: make_pictures.py fixtures|samples|corpus|bench OUTDIR")
    os.makedirs(sys.argv[2], exist_ok=True)
    writers[sys.argv[1]](sys.argv[2])


if __name__ == "__main__":
    main()
