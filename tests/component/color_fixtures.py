#!/usr/bin/python3
"""Pictures with embedded ICC profiles and their sRGB conversions by ImageMagick, for the colour
conversion tests; and the CIEDE2000 difference of two pictures.

  color_fixtures.py make DIR     writes NAME.jpg (the source), NAME.ref.png (ImageMagick's
                                 conversion to sRGB) and NAME.srgb.jpg (that conversion as a
                                 JPEG, the source of a thumbnail converted before its shrink)
  color_fixtures.py compare A B  prints {"mean": ..., "max": ...}, the CIEDE2000 of A against B
"""
import json
import subprocess
import sys

import numpy as np
from PIL import Image
from skimage.color import deltaE_ciede2000, rgb2lab

ICC = "/usr/share/color/icc/"
SRGB = ICC + "colord/sRGB.icc"
DEFAULT_CMYK = ICC + "ghostscript/default_cmyk.icc"

# name: (mode, profile embedded or None, profile the reference assigns first)
CASES = {
    "adobe-rgb": ("RGB", ICC + "colord/AdobeRGB1998.icc", None),
    "adobe-rgb-v2": ("RGB", ICC + "compatibleWithAdobeRGB1998.icc", None),
    "prophoto": ("RGB", ICC + "colord/ProPhotoRGB.icc", None),
    "wide-gamut": ("RGB", ICC + "colord/WideGamutRGB.icc", None),
    "gray": ("L", ICC + "Gray.icc", None),
    "cmyk-swop": ("CMYK", DEFAULT_CMYK, None),
    "cmyk-bare": ("CMYK", None, DEFAULT_CMYK),
}


def picture(mode, width=1000, height=750):
    """Smooth colour: hue across, saturation and lightness down, so that any fair resize of the
    converted picture agrees with the resize of the converted one."""
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    hue = x / width
    sat = 0.25 + 0.75 * (1 - y / height)
    val = 0.35 + 0.65 * (0.5 + 0.5 * np.cos(2 * np.pi * y / height))
    hsv = np.stack([hue * 255, sat * 255, val * 255], axis=-1).astype(np.uint8)
    rgb = Image.fromarray(hsv, "HSV").convert("RGB")
    if mode == "L":
        return rgb.convert("L")
    if mode == "CMYK":
        c = np.asarray(rgb).astype(np.float64) / 255
        k = 1 - c.max(axis=-1)
        # Some black generation, so that the black ink is exercised too.
        k = k * 0.8
        cmy = (1 - c - k[..., None]) / np.maximum(1 - k[..., None], 1e-6)
        cmyk = np.concatenate([np.clip(cmy, 0, 1), k[..., None]], axis=-1)
        return Image.fromarray((cmyk * 255).round().astype(np.uint8), "CMYK")
    return rgb


def make(folder):
    for name, (mode, profile, assigned) in CASES.items():
        source = f"{folder}/{name}.jpg"
        extra = {"icc_profile": open(profile, "rb").read()} if profile else {}
        picture(mode).save(source, quality=95, **extra)
        reference = f"{folder}/{name}.ref.png"
        assign = ["-profile", assigned] if assigned else []
        subprocess.run(["/usr/bin/convert", source, *assign, "-profile", SRGB, "-strip",
                        "-type", "TrueColor", reference], check=True)
        Image.open(reference).convert("RGB").save(f"{folder}/{name}.srgb.jpg", quality=100,
                                                  subsampling=0)
    unusable(folder)


def unusable(folder):
    """Profiles that cannot convert these pixels: a broken signature, an RGB profile in a gray
    file; and the RGB source without any profile, whose pixels the others must keep."""
    profile = bytearray(open(ICC + "colord/AdobeRGB1998.icc", "rb").read())
    profile[36:40] = b"nope"
    picture("RGB").save(f"{folder}/broken.jpg", quality=95, icc_profile=bytes(profile))
    picture("RGB").save(f"{folder}/plain-rgb.jpg", quality=95)
    adobe = open(ICC + "colord/AdobeRGB1998.icc", "rb").read()
    picture("L").save(f"{folder}/gray-rgb-profile.jpg", quality=95, icc_profile=adobe)
    picture("L").save(f"{folder}/plain-gray.jpg", quality=95)


def rgb(path):
    return np.asarray(Image.open(path).convert("RGB")).astype(np.float64) / 255


def compare(a, b):
    first, second = rgb(a), rgb(b)
    if first.shape != second.shape:
        print(json.dumps({"error": f"sizes {first.shape} and {second.shape}"}))
        return
    difference = deltaE_ciede2000(rgb2lab(first), rgb2lab(second))
    print(json.dumps({"mean": float(difference.mean()), "max": float(difference.max())}))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        compare(sys.argv[2], sys.argv[3])
