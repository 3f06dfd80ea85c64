#!/usr/bin/python3
"""Writes the seed images of the image-reader fuzz targets (fuzz/seeds): small PNG, TIFF, TGA and
BMP files of every layout the readers take, saved by Pillow (Debian: python3-pil) from pixels of
our own. The seeds are committed; run this again only to change them.
Usage: tools/make_read_seeds.py [FOLDER]"""
import os
import sys

from PIL import Image

W, H = 8, 4


def pixels(count, seed):
    """A deterministic pattern with some runs in it (as the tests' sample pixels)."""
    out, state = bytearray(), (seed * 2654435761 + 12345) & 0xFFFFFFFF
    while len(out) < count:
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        run = 1 + (state >> 12) % 40 if (state >> 8) % 4 == 0 else 1
        out += bytes([state >> 24]) * min(run, count - len(out))
    return bytes(out)


def image(mode, seed, palette_entries=256):
    channels = {"L": 1, "P": 1, "LA": 2, "RGB": 3, "RGBA": 4, "I;16": 2}[mode]
    data = pixels(W * H * channels, seed)
    if mode == "P":
        data = bytes(value % palette_entries for value in data)
    im = Image.frombytes(mode, (W, H), data)
    if mode == "P":
        im.putpalette(pixels(3 * palette_entries, seed + 1))
    return im


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..",
                                                                "fuzz", "seeds")
    os.makedirs(folder, exist_ok=True)
    saves = [
        ("grey.png", image("L", 1), {}),
        ("grey-alpha.png", image("LA", 2), {}),
        ("grey16.png", image("I;16", 3), {}),
        ("rgb.png", image("RGB", 4), {}),
        ("rgba.png", image("RGBA", 5), {}),
        ("paletted.png", image("P", 6), {}),
        ("paletted4.png", image("P", 7, 16), {}),
        ("grey.tif", image("L", 8), {}),
        ("grey-lzw.tif", image("L", 9), {"compression": "tiff_lzw"}),
        ("grey-deflate.tif", image("L", 10), {"compression": "tiff_adobe_deflate"}),
        ("grey-packbits.tif", image("L", 11), {"compression": "packbits"}),
        ("grey-alpha.tif", image("LA", 12), {}),
        ("paletted.tif", image("P", 13), {}),
        ("rgb-lzw.tif", image("RGB", 14), {"compression": "tiff_lzw"}),
        ("rgba.tif", image("RGBA", 15), {}),
        ("grey.tga", image("L", 16), {}),
        ("paletted.tga", image("P", 17), {}),
        ("rgba-bottom-first.tga", image("RGBA", 18), {}),
        ("rgba-top-first.tga", image("RGBA", 19), {"orientation": 1}),
        ("rgba-rle.tga", image("RGBA", 20), {"compression": "tga_rle"}),
        ("rgb.bmp", image("RGB", 21), {}),
        ("paletted.bmp", image("P", 22), {}),
        ("bilevel.bmp", image("L", 23).convert("1"), {}),
    ]
    for name, im, options in saves:
        im.save(os.path.join(folder, name), **options)


if __name__ == "__main__":
    main()
