#!/usr/bin/env python3
"""Writes the JPEG files the Wine suite loads, made with cjpeg from generated PPM/PGM pictures.

Usage: make_inputs.py DIR
"""
import pathlib
import subprocess
import sys

# Colours of the four quadrants of quadrants.jpg, as red, green, blue.
QUADRANTS = {"top_left": (230, 30, 30), "top_right": (30, 200, 30),
             "bottom_left": (30, 30, 230), "bottom_right": (240, 240, 40)}


def gradient(width, height):
    return bytes(v for y in range(height) for x in range(width)
                 for v in ((x * 255) // max(width - 1, 1), (y * 255) // max(height - 1, 1), 128))


def quadrants(size):
    half = size // 2
    rows = []
    for y in range(size):
        for x in range(size):
            key = ("top_" if y < half else "bottom_") + ("left" if x < half else "right")
            rows.append(bytes(QUADRANTS[key]))
    return b"".join(rows)


def write_jpeg(directory, name, width, height, pixels, gray=False):
    header = b"P%d %d %d 255\n" % (5 if gray else 6, width, height)
    picture = directory / (name + (".pgm" if gray else ".ppm"))
    picture.write_bytes(header + pixels)
    subprocess.run(["cjpeg", "-quality", "92", "-outfile", str(directory / (name + ".jpg")),
                    str(picture)], check=True)
    picture.unlink()


# The upright picture of the oriented inputs: quadrants, wider than high.
ORIENTED_SIZE = (100, 60)


def oriented(directory):
    """oriented_N.jpg: the quadrants stored so that EXIF Orientation N shows them upright
    (Pillow turns them, exiftool writes the tag); tagged.jpg: oriented_6.jpg with EXIF and
    IPTC fields besides."""
    from PIL import Image

    width, height = ORIENTED_SIZE
    upright = Image.new("RGB", ORIENTED_SIZE)
    for (key, colour), corner in zip(QUADRANTS.items(), [(0, 0), (1, 0), (0, 1), (1, 1)]):
        left, top = corner[0] * width // 2, corner[1] * height // 2
        upright.paste(colour, (left, top, left + width // 2, top + height // 2))
    transpose = Image.Transpose
    store = {1: None, 2: transpose.FLIP_LEFT_RIGHT, 3: transpose.ROTATE_180,
             4: transpose.FLIP_TOP_BOTTOM, 5: transpose.TRANSPOSE, 6: transpose.ROTATE_90,
             7: transpose.TRANSVERSE, 8: transpose.ROTATE_270}
    for n, step in store.items():
        name = str(directory / ("oriented_%d.jpg" % n))
        (upright if step is None else upright.transpose(step)).save(name, quality=95)
        subprocess.run(["exiftool", "-q", "-overwrite_original", "-n", "-Orientation=%d" % n,
                        name], check=True)
    subprocess.run(["exiftool", "-q", "-Make=Quux", "-Model=Q 1", "-IPTC:Keywords=alpha",
                    "-IPTC:Keywords=beta", "-o", str(directory / "tagged.jpg"),
                    str(directory / "oriented_6.jpg")], check=True)


def main():
    directory = pathlib.Path(sys.argv[1])
    directory.mkdir(parents=True, exist_ok=True)
    for width, height in [(1000, 750), (1001, 751), (100, 80), (50, 50), (100, 10), (640, 480),
                          (800, 600)]:
        write_jpeg(directory, "photo_%dx%d" % (width, height), width, height,
                   gradient(width, height))
    write_jpeg(directory, "quadrants", 100, 100, quadrants(100))
    write_jpeg(directory, "gray", 64, 48,
               bytes((x * 4) % 256 for y in range(48) for x in range(64)), gray=True)
    (directory / "notjpeg.jpg").write_text("This is a text file, not a JPEG.\n")
    (directory / "folder.jpg").mkdir(exist_ok=True)
    oriented(directory)
    # Converted to sRGB through its profile by ConvertToSRGB.
    from PIL import Image

    adobe = open("/usr/share/color/icc/colord/AdobeRGB1998.icc", "rb").read()
    Image.frombytes("RGB", (320, 240), gradient(320, 240)).save(
        directory / "adobe_rgb.jpg", quality=95, icc_profile=adobe)


if __name__ == "__main__":
    main()
