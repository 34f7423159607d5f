#!/usr/bin/python3
"""The cost of --srgb: a 20 MP Adobe RGB photo through the tool with and without conversion, as
whole processes in alternating rounds, in one run.

Usage: run_color_bench.py BUILD_DIR [ROUNDS] [PHOTO]

The photo (default: a 4000 x 3000 camera photo of forensics-samples-files) is enlarged to
5472 x 3648 by ImageMagick, quality 90, 4:2:0, with the Adobe RGB (1998) profile of colord-data
assigned, into BUILD_DIR/color-bench-data. Commands:

  thumbnail  quorvex convert IN OUT --thumbnail 200x200 [--srgb]   target: at most 1.10x
  full       quorvex convert IN OUT --box 200x200 [--srgb]         (every pixel decoded and
                                                                   converted) target: 1.5x

Medians of processor time (user + system, the figure to trust on a shared machine) and of wall
time are printed with the ratios.
"""
import os
import statistics
import subprocess
import sys
import time

PROFILE = "/usr/share/color/icc/colord/AdobeRGB1998.icc"
DEFAULT_PHOTO = "/usr/share/forensics-samples/original-files/pic1/IMG_20200417_181019.jpg"


def timed(command):
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"failed: {' '.join(command)}")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    build = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    photo = sys.argv[3] if len(sys.argv) > 3 else DEFAULT_PHOTO
    if not os.path.exists(photo):
        import glob
        photo = sorted(glob.glob("/usr/share/forensics-samples/original-files/pic*/IMG_2020*.jpg"))[0]
    data = os.path.join(build, "color-bench-data")
    os.makedirs(data, exist_ok=True)
    source = os.path.join(data, "adobe-20mp.jpg")
    if not os.path.exists(source):
        subprocess.run(["/usr/bin/convert", photo, "-strip", "-resize", "5472x3648!",
                        "-sampling-factor", "2x2", "-quality", "90", "-profile", PROFILE, source],
                       check=True)
    tool = os.path.join(build, "tools", "quorvex")
    out = os.path.join(data, "out.jpg")
    cases = {
        "thumbnail": ["--thumbnail", "200x200"],
        "full": ["--box", "200x200"],
    }
    results = {}
    for _ in range(rounds):
        for name, options in cases.items():
            for srgb in (False, True):
                command = [tool, "convert", source, out, *options] + (["--srgb"] if srgb else [])
                results.setdefault((name, srgb), []).append(timed(command))
    print(f"{'case':<10} {'plain cpu':>10} {'srgb cpu':>10} {'ratio':>6}   {'plain wall':>10} "
          f"{'srgb wall':>10} {'ratio':>6}")
    for name in cases:
        plain, srgb = results[(name, False)], results[(name, True)]
        pc, sc = (statistics.median(r[1] for r in x) for x in (plain, srgb))
        pw, sw = (statistics.median(r[0] for r in x) for x in (plain, srgb))
        print(f"{name:<10} {pc:>9.3f}s {sc:>9.3f}s {sc / pc:>6.2f}   {pw:>9.3f}s {sw:>9.3f}s "
              f"{sw / pw:>6.2f}")


if __name__ == "__main__":
    main()
