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


if __name__ == "__main__":
    main()
