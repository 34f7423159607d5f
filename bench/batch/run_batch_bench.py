#!/usr/bin/python3
"""Files per second and peak memory of `quorvex batch` next to vipsthumbnail, both fitting the
same 200 photos into 200x200 with N processes or jobs at once, in the same run; quorvex once
with --box (the full decode, then the fit) and once with --thumbnail (the load itself fitted).

  /usr/bin/python3 bench/batch/run_batch_bench.py --build build/release [--jobs 2] [--runs 3]

The photos are made in a scratch folder from samples/two-wings.jpg and any JPEG photos that
Debian packages installed under /usr/share/backgrounds or /usr/share/wallpapers, each at several
sizes. vipsthumbnail (libvips-tools) runs under `xargs -P N`, the files split into N equal shares.
Peak memory is the largest resident set of one process (/usr/bin/time -v): for quorvex the whole
batch, for vipsthumbnail one of its N processes."""
import argparse
import glob
import os
import re
import shutil
import subprocess
import tempfile
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "samples", "two-wings.jpg")
WIDTHS = [640, 1024, 1600, 2048, 2560]
COUNT = 200


def sources():
    found = [SAMPLE]
    for pattern in ("/usr/share/backgrounds/**/*.jpg", "/usr/share/wallpapers/**/*.jpg"):
        found += sorted(glob.glob(pattern, recursive=True))
    return found


def make_photos(folder):
    variants = []
    for number, source in enumerate(sources()):
        with Image.open(source) as image:
            image = image.convert("RGB")
            for width in WIDTHS:
                height = max(1, round(image.height * width / image.width))
                name = os.path.join(folder, f"v{number}_{width}.jpg")
                image.resize((width, height), Image.LANCZOS).save(name, quality=90)
                variants.append(name)
    photos = os.path.join(folder, "photos")
    os.mkdir(photos)
    for i in range(COUNT):
        shutil.copyfile(variants[i % len(variants)], os.path.join(photos, f"photo{i:03d}.jpg"))
    return photos, len(variants)


def timed(command):
    start = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-v"] + command, capture_output=True, text=True)
    seconds = time.monotonic() - start
    if result.returncode != 0:
        raise SystemExit(f"{command[0]} failed: {result.stderr[-2000:]}")
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    return seconds, peak


def best(command, runs, output):
    figures = []
    for _ in range(runs):
        shutil.rmtree(output, ignore_errors=True)
        os.mkdir(output)
        figures.append(timed(command))
    written = len(os.listdir(output))
    if written != COUNT:
        raise SystemExit(f"{command[0]} wrote {written} of {COUNT} files")
    return min(f[0] for f in figures), max(f[1] for f in figures)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "tools", "quorvex"))
    with tempfile.TemporaryDirectory(prefix="batch-bench-") as scratch:
        photos, variants = make_photos(scratch)
        files = sorted(glob.glob(os.path.join(photos, "*.jpg")))
        share = -(-len(files) // args.jobs)
        ours = os.path.join(scratch, "quorvex")
        theirs = os.path.join(scratch, "vips")
        contenders = [
            (f"quorvex {fit}", [tool, "batch", "--quiet", fit, "200x200", "--jobs", str(args.jobs),
                                "-o", ours + "/%s.jpg", photos], ours)
            for fit in ("--box", "--thumbnail")
        ] + [
            ("vipsthumbnail", ["sh", "-c", f"printf '%s\\n' {photos}/*.jpg | xargs -P "
                               f"{args.jobs} -n {share} vipsthumbnail -s 200x200 -o "
                               f"{theirs}/%s.jpg"], theirs),
        ]
        print(f"{COUNT} photos from {variants} variants ({WIDTHS} px wide), jobs {args.jobs}, "
              f"best of {args.runs}")
        print(f"{'':20} {'files/s':>9} {'seconds':>8} {'peak MiB':>9}")
        for name, command, output in contenders:
            seconds, peak = best(command, args.runs, output)
            print(f"{name:20} {COUNT / seconds:9.1f} {seconds:8.2f} {peak / 1024:9.1f}")


if __name__ == "__main__":
    main()
