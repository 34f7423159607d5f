#!/usr/bin/env python3
"""Times the image transforms next to Pillow on the same 24-megapixel picture.

Makes a 6000 x 4000 binary PPM from a photograph with ImageMagick (by default its built-in
"rose:" photograph, upscaled; --photo takes any image file), runs the Google Benchmark binary
on it and times Pillow's Image.resize(size, Image.BOX) (BILINEAR for the enlargement, which is
what halftone does when enlarging) and rotate(30, NEAREST, expand=True) on
the same pixels in the same run, then prints a table of median processor times (the machine
may be shared; wall-clock times would measure the neighbours too).

    python3 bench/imaging/run_bench.py --build build/release
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time


def ensure_pillow():
    try:
        import PIL.Image  # noqa: F401
        return
    except ImportError:
        pass
    # A Python from a version manager may lack the distribution's Pillow; try the system one.
    system = "/usr/bin/python3"
    if os.path.exists(system) and os.path.realpath(sys.executable) != os.path.realpath(system):
        os.execv(system, [system] + sys.argv)
    sys.exit("Pillow is not installed (python3-pil)")


def make_photo(source, path):
    subprocess.run(["convert", source, "-resize", "6000x4000!", "-depth", "8", path], check=True)


def run_ours(binary, ppm, repetitions):
    env = dict(os.environ, QUORVEX_BENCH_PPM=ppm)
    out = subprocess.run(
        [binary, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true"],
        env=env, check=True, capture_output=True, text=True).stdout
    results = {}
    for entry in json.loads(out)["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            name = entry["run_name"].split("/")[0]
            results[name] = entry["cpu_time"]  # milliseconds (the benchmarks' unit)
    return results


def time_pillow(function, repetitions):
    times = []
    for _ in range(repetitions):
        start = time.process_time()
        function()
        times.append((time.process_time() - start) * 1000)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release", help="CMake build directory")
    parser.add_argument("--photo", default="rose:", help="picture to upscale (ImageMagick name)")
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    ensure_pillow()
    from PIL import Image

    binary = os.path.join(args.build, "bench", "imaging", "imaging_transform_bench")
    if not os.path.exists(binary):
        sys.exit(f"{binary} not found: build the imaging_transform_bench target first")
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "photo.ppm")
        make_photo(args.photo, ppm)
        ours = run_ours(binary, ppm, args.repetitions)
        picture = Image.open(ppm)
        picture.load()
        box = getattr(Image, "Resampling", Image).BOX
        nearest = getattr(Image, "Resampling", Image).NEAREST
        bilinear = getattr(Image, "Resampling", Image).BILINEAR
        pillow = {
            "BM_HalftoneFit200": time_pillow(lambda: picture.resize((200, 133), box), args.repetitions),
            "BM_HalftoneHalf": time_pillow(lambda: picture.resize((3000, 2000), box), args.repetitions),
            "BM_HalftoneEnlarge125": time_pillow(lambda: picture.resize((7500, 5000), bilinear),
                                                 args.repetitions),
            "BM_Rotate30": time_pillow(
                lambda: picture.rotate(30, nearest, expand=True, fillcolor=(255, 255, 255)),
                args.repetitions),
        }
    rows = [
        ("resize 6000x4000 -> 200x133 (halftone / BOX)", "BM_HalftoneFit200"),
        ("resize 6000x4000 -> 3000x2000 (halftone / BOX)", "BM_HalftoneHalf"),
        ("resize 6000x4000 -> 7500x5000 (halftone / BILINEAR)", "BM_HalftoneEnlarge125"),
        ("resize 6000x4000 -> 3000x2000 (colour-on-colour)", "BM_ColorOnColorHalf"),
        ("rotate 30 degrees (nearest, expanded)", "BM_Rotate30"),
        ("rotate 90 degrees", "BM_Rotate90"),
        ("FlipHorizontal + FlipVertical", "BM_FlipBoth"),
    ]
    print(f"{'operation (median CPU time)':<54}{'quorvex ms':>12}{'Pillow ms':>12}{'speed-up':>10}")
    for label, key in rows:
        mine = ours.get(key)
        theirs = pillow.get(key)
        ratio = f"{theirs / mine:.2f}x" if mine and theirs else "-"
        print(f"{label:<54}{mine if mine is not None else float('nan'):>12.1f}"
              f"{theirs if theirs is not None else float('nan'):>12.1f}{ratio:>10}")


if __name__ == "__main__":
    main()
