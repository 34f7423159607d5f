#!/usr/bin/python3
"""Attention crops on generated pictures: how often the cut keeps the subject's centre.

Forty pictures, landscape and portrait in turn, each with one saturated, textured subject at a
random place on a plain or gently graded muted background, are fitted into a 200 x 200 square by
`quorvex convert --fill 200x200 --gravity attention` and by `vipsthumbnail --smartcrop
attention` in the same run. A faint gray ramp along the picture's long side, in a band at its
edge, tells where each cut came from; the figure is the number of cuts that hold the subject's
centre.

usage: attention_bench.py QUORVEX_TOOL
"""
import os
import random
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

BAND = 8  # rows (or columns) of ramp at the picture's top (or left) edge


def scene(seed):
    rng = random.Random(seed)
    landscape = seed % 2 == 0
    width, height = (900, 500) if landscape else (500, 900)
    base = np.array([rng.randint(90, 170) for _ in range(3)], dtype=np.int32)
    slope = rng.randint(0, 1) * rng.randint(-40, 40)
    radius = min(width, height) // rng.randint(6, 9)
    cx, cy = rng.randint(radius + BAND, width - radius - 1), rng.randint(radius + BAND, height - radius - 1)
    hue = rng.randint(0, 2)
    y, x = np.mgrid[0:height, 0:width]
    picture = base[None, None, :] + (slope * x // width)[:, :, None]
    inside = (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    texture = ((x // 4 + y // 4) % 2) * 60
    for c in range(3):
        channel = picture[:, :, c]
        channel[inside] = (230 - texture // 2)[inside] if c == hue else (20 + texture // 3)[inside]
    # The ramp: along x in the top rows of a landscape picture, along y in the left columns of a
    # portrait one; a faint 100..160, so that the position reads back from any cut without
    # drawing the eye.
    if landscape:
        picture[:BAND, :, :] = (100 + 60 * x[:BAND] / (width - 1))[:, :, None]
    else:
        picture[:, :BAND, :] = (100 + 60 * y[:, :BAND] / (height - 1))[:, :, None]
    return Image.fromarray(picture.clip(0, 255).astype(np.uint8)), landscape, (cx, cy), (width, height)


def kept(cut_path, landscape, centre, size):
    cut = np.asarray(Image.open(cut_path).convert("L"), dtype=np.float64)
    ramp = cut[BAND // 4, :] if landscape else cut[:, BAND // 4]
    length = size[0] if landscape else size[1]
    first = (ramp[1] - 100) / 60 * (length - 1)
    last = (ramp[-2] - 100) / 60 * (length - 1)
    position = centre[0] if landscape else centre[1]
    return first <= position <= last


def main():
    tool = sys.argv[1]
    runs = {"quorvex --fill 200x200 --gravity attention": [],
            "vipsthumbnail -s 200x200 --smartcrop attention": []}
    seconds = {name: 0.0 for name in runs}
    with tempfile.TemporaryDirectory() as work:
        for seed in range(40):
            picture, landscape, centre, size = scene(seed)
            jpeg = os.path.join(work, f"scene{seed}.jpg")
            picture.save(jpeg, quality=95)
            for name in runs:
                out = os.path.join(work, f"cut{seed}.png")
                if name.startswith("quorvex"):
                    command = [tool, "convert", jpeg, out.replace(".png", ".jpg"), "--quality", "100",
                               "--fill", "200x200", "--gravity", "attention"]
                    out = out.replace(".png", ".jpg")
                else:
                    command = ["vipsthumbnail", jpeg, "-s", "200x200", "--smartcrop", "attention",
                               "-o", out]
                start = time.perf_counter()
                subprocess.run(command, check=True)
                seconds[name] += time.perf_counter() - start
                runs[name].append(kept(out, landscape, centre, size))
    for name, results in runs.items():
        print(f"{name}: subject's centre kept in {sum(results)} of {len(results)} "
              f"({seconds[name] / len(results) * 1000:.1f} ms a picture)")


if __name__ == "__main__":
    main()
