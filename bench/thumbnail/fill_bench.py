#!/usr/bin/python3
"""Crop-to-fill thumbnails against plain ones and vipsthumbnail's attention crop, in one run.

For each photo: `quorvex convert --thumbnail 200x200`, the same with `--fit cover` (centre and
attention) and `vipsthumbnail -s 200x200 --smartcrop attention`, each run ROUNDS times in turn;
the figures are medians of processor time (user + system) of the whole process.

usage: fill_bench.py QUORVEX_TOOL [ROUNDS]
"""
import glob
import os
import resource
import statistics
import subprocess
import sys
import tempfile

PHOTOS = ["/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg"] + sorted(
    glob.glob("/usr/share/forensics-samples/original-files/pic*/IMG_2020*.jpg"))[:1]


def cpu_seconds(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    tool = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "t.jpg")
        for photo in PHOTOS:
            cases = {
                "--thumbnail 200x200": [tool, "convert", photo, out, "--thumbnail", "200x200"],
                "--thumbnail 200x200 --fit cover": [tool, "convert", photo, out, "--thumbnail",
                                                    "200x200", "--fit", "cover"],
                "--fit cover --gravity attention": [tool, "convert", photo, out, "--thumbnail",
                                                    "200x200", "--fit", "cover", "--gravity",
                                                    "attention"],
                "vipsthumbnail --smartcrop attention": ["vipsthumbnail", photo, "-s", "200x200",
                                                        "--smartcrop", "attention", "-o", out],
            }
            times = {name: [] for name in cases}
            for _ in range(rounds):
                for name, command in cases.items():
                    times[name].append(cpu_seconds(command))
            print(os.path.basename(photo))
            base = statistics.median(times["--thumbnail 200x200"])
            vips = statistics.median(times["vipsthumbnail --smartcrop attention"])
            for name, values in times.items():
                m = statistics.median(values)
                print(f"  {name}: {m * 1000:.0f} ms CPU, {m / base:.2f}x plain, {m / vips:.2f}x vips")


if __name__ == "__main__":
    main()
