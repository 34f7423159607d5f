#!/usr/bin/env python3
"""Reads the JPEG files that resize_suite.vbs (and, for the encoder options, resize_suite.js)
saved under Wine with Pillow, an independent
decoder: sizes, resolution, grayscale and the pixels of the crop, rotation and flips.

Usage: check_outputs.py WORK_DIR. The last line is "N passed, M failed".
"""
import pathlib
import sys

from PIL import Image, IptcImagePlugin

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from make_inputs import ORIENTED_SIZE, QUADRANTS  # noqa: E402

# OLE_COLOR 0xFF00FF, the crop's background.
MAGENTA = (255, 0, 255)
# Baseline JPEG at the object's default quality moves flat colours by a few levels only.
TOLERANCE = 24


class Tally:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, name, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s%s" % (name, ": " + detail if detail else ""))

    def equal(self, actual, expected, name):
        self.check(actual == expected, name, "got %r, expected %r" % (actual, expected))

    def colour(self, image, point, expected, name):
        actual = image.convert("RGB").getpixel(point)
        close = all(abs(a - e) <= TOLERANCE for a, e in zip(actual, expected))
        self.check(close, name, "pixel %r is %r, expected about %r" % (point, actual, expected))


def check_oriented(tally, open_image):
    """The pictures saved with AutoOrient stand upright; KeepMetadata brought the EXIF and IPTC
    fields along, adjusted to the output, and without it nothing came along."""
    width, height = ORIENTED_SIZE
    corners = {"top_left": (width // 4, height // 4), "top_right": (3 * width // 4, height // 4),
               "bottom_left": (width // 4, 3 * height // 4),
               "bottom_right": (3 * width // 4, 3 * height // 4)}
    for n in range(1, 9):
        upright = open_image("out_upright_%d.jpg" % n)
        if upright:
            for key, point in corners.items():
                tally.colour(upright, point, QUADRANTS[key], "upright %d %s" % (n, key))
    kept = open_image("out_kept.jpg")
    if kept:
        exif = kept.getexif()
        tally.equal(exif.get(0x010F), "Quux", "kept Make")
        tally.equal(exif.get(0x0112), 1, "Orientation 1 once turned")
        # The source has no pixel dimensions, so the kept EXIF gains none.
        tally.equal((exif.get_ifd(0x8769).get(0xA002), exif.get_ifd(0x8769).get(0xA003)),
                    (None, None), "no pixel dimensions the source did not have")
        keywords = (IptcImagePlugin.getiptcinfo(kept) or {}).get((2, 25))
        tally.equal(keywords, [b"alpha", b"beta"], "kept IPTC keywords")
    plain = open_image("out_not_kept.jpg")
    if plain:
        tally.equal(len(plain.getexif()), 0, "no EXIF without KeepMetadata")
        tally.equal(IptcImagePlugin.getiptcinfo(plain), None, "no IPTC without KeepMetadata")


def main():
    work = pathlib.Path(sys.argv[1])
    tally = Tally()

    def open_image(name):
        try:
            return Image.open(work / name)
        except OSError as error:
            tally.check(False, "%s opens" % name, str(error))
            return None

    saved = open_image("out_dpi300.jpg")
    if saved:
        tally.equal(saved.size, (640, 480), "saved size")
        tally.equal(saved.format, "JPEG", "saved format")
        tally.equal(saved.info.get("jfif_unit"), 1, "JFIF density in dots per inch")
        tally.equal(tuple(round(v) for v in saved.info.get("dpi", (0, 0))), (300, 300),
                    "saved resolution")
        tally.equal(saved.mode, "RGB", "colour save")
        tally.check(not saved.info.get("progressive"), "baseline, not progressive")
    gray = open_image("out_gray.jpg")
    if gray:
        tally.equal(gray.mode, "L", "grayscale save has one component")
    accented = open_image("caf\u00e9.jpg")
    if accented:
        tally.equal(accented.size, (640, 480), "name outside ASCII")

    # The crop's lower-right quarter is the source's top-left corner; the rest is background.
    crop = open_image("out_crop.jpg")
    if crop:
        tally.equal(crop.size, (20, 20), "crop size")
        tally.colour(crop, (15, 15), QUADRANTS["top_left"], "crop keeps the image corner")
        tally.colour(crop, (4, 4), MAGENTA, "crop paints outside the image")
        tally.colour(crop, (15, 4), MAGENTA, "crop paints above the image")
    # A quarter turn counter-clockwise puts the source's top-right corner at the top left.
    rotated = open_image("out_rotate90.jpg")
    if rotated:
        tally.colour(rotated, (20, 20), QUADRANTS["top_right"], "rotation top left")
        tally.colour(rotated, (80, 20), QUADRANTS["bottom_right"], "rotation top right")
        tally.colour(rotated, (20, 80), QUADRANTS["top_left"], "rotation bottom left")
    # FlipHorizontal reverses the rows; FlipVertical reverses each row.
    flipped = open_image("out_fliph.jpg")
    if flipped:
        tally.colour(flipped, (20, 20), QUADRANTS["bottom_left"], "FlipHorizontal top left")
        tally.colour(flipped, (80, 80), QUADRANTS["top_right"], "FlipHorizontal bottom right")
    mirrored = open_image("out_flipv.jpg")
    if mirrored:
        tally.colour(mirrored, (20, 20), QUADRANTS["top_right"], "FlipVertical top left")
        tally.colour(mirrored, (80, 80), QUADRANTS["bottom_left"], "FlipVertical bottom right")

    # The encoder options change the coding only: the same pixels as the plain save.
    for prefix in ("out", "js"):
        plain = open_image(prefix + "_plain.jpg")
        for option, progressive in (("progressive", True), ("optimized", False)):
            name = "%s_%s.jpg" % (prefix, option)
            coded = open_image(name)
            if not (plain and coded):
                continue
            tally.equal(bool(coded.info.get("progressive")), progressive, name + " progressive")
            tally.check(coded.tobytes() == plain.tobytes(), name + " has the plain save's pixels")

    # OutputFormat: the same photo as PNG (resolution in pHYs) and as WebP.
    for name, kind in (("out_format.png", "PNG"), ("out_format.webp", "WEBP")):
        written = open_image(name)
        if written:
            tally.equal(written.format, kind, name + " format")
            tally.equal(written.size, (640, 480), name + " size")
    png = open_image("out_format.png")
    if png:
        tally.equal(tuple(round(v) for v in png.info.get("dpi", (0, 0))), (300, 300),
                    "PNG resolution")

    check_oriented(tally, open_image)

    leftovers = sorted(p.name for p in work.iterdir() if p.name.startswith(".quorvex-"))
    tally.equal(leftovers, [], "no temporary files left")
    print("%d passed, %d failed" % (tally.passed, tally.failed))
    return 0 if tally.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
