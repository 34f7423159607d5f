#!/usr/bin/python3
"""Edge contrast of thumbnails with and without sharpening, against a Lanczos-3 reduction.

Each photo is fitted into a 200 x 200 box three ways: by the Resize object's area average
(Sharpen 0), by the same with each strength given, and by ImageMagick's Lanczos filter. The
figures are the mean gradient magnitude of the luma (edge contrast) and the overshoot: how far
past the 3 x 3 neighbourhood's range of the plain average the sharpened pixels reach, at the
99.9th percentile and at most.

usage: sharpen_bench.py BUILD_DIR [AMOUNT ...]   (default amounts 0.5 1 1.5)
"""
import glob
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

# Camera photos from Debian's forensic samples and nature photos from its desktop backgrounds.
PHOTOS = (sorted(glob.glob("/usr/share/forensics-samples/original-files/pic*/IMG*.[jJ][pP][gG]"))[:5]
          + sorted(glob.glob("/usr/share/backgrounds/mate/nature/*.jpg"))[:5])


def luma(path):
    return np.asarray(Image.open(path).convert("L"), dtype=np.float64)


def contrast(y):
    return float(np.mean(np.abs(np.diff(y, axis=1))) + np.mean(np.abs(np.diff(y, axis=0)))) / 2


def overshoot(sharp, plain):
    pad = np.pad(plain, 1, mode="edge")
    windows = [pad[dy:dy + plain.shape[0], dx:dx + plain.shape[1]] for dy in range(3) for dx in range(3)]
    low, high = np.min(windows, axis=0), np.max(windows, axis=0)
    beyond = np.maximum(sharp - high, low - sharp).clip(min=0)
    return float(np.percentile(beyond, 99.9)), float(beyond.max())


def main():
    build = sys.argv[1]
    amounts = sys.argv[2:] or ["0.5", "1", "1.5"]
    probe = os.path.join(build, "bench/imaging/imaging_sharpen_probe")
    if not PHOTOS:
        sys.exit("no photos: install forensics-samples-files and mate-backgrounds")
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for photo in PHOTOS:
            prefix = os.path.join(work, "t")
            subprocess.run([probe, photo, "200", prefix, "0", *amounts], check=True)
            lanczos = os.path.join(work, "lanczos.png")
            subprocess.run(["/usr/bin/convert", photo, "-filter", "Lanczos", "-resize", "200x200",
                            lanczos], check=True)
            plain = luma(prefix + "0.ppm")
            row = [os.path.basename(photo), contrast(luma(lanczos)), contrast(plain)]
            for amount in amounts:
                sharp = luma(prefix + amount + ".ppm")
                row += [contrast(sharp), *overshoot(sharp, plain)]
            rows.append(row)
    header = "photo | Lanczos-3 | area average | " + " | ".join(
        f"Sharpen {a} (contrast, overshoot p99.9, max)" for a in amounts)
    print(header)
    for row in rows:
        print(" | ".join(f"{v:.2f}" if isinstance(v, float) else str(v) for v in row))
    means = np.mean(np.array([r[1:] for r in rows], dtype=np.float64), axis=0)
    print("mean | " + " | ".join(f"{v:.2f}" for v in means))


if __name__ == "__main__":
    main()
