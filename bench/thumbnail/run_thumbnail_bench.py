#!/usr/bin/python3
"""Thumbnails and plain resizes of large photos, as whole processes, in one run.

Usage: run_thumbnail_bench.py BUILD_DIR [ROUNDS] [BASELINE_MODULE] [NAME=PHOTO ...]

BUILD_DIR is a release build with the benchmarks (tools/quorvex, bench/thumbnail/thumbnail_load).
Two photo-like pictures are made once from samples/two-wings.jpg with ImageMagick (fractal
plasma and noise over the enlarged photo, quality 90, 4:2:0) into BUILD_DIR/thumbnail-bench-data:
20 MP (5472 x 3648) and 12 MP (4032 x 3024). Every command runs under /usr/bin/time -v, in
alternating rounds; medians of wall and processor time (user + system) and the largest peak
resident size are printed.

Thumbnails: `quorvex convert IN OUT --thumbnail WxH` (thumbnail_load IN OUT W H while the tool
has no such option) against `vipsthumbnail IN -s WxH`, into 200 x 200 and into half the size.
Targets: at most 0.8x vipsthumbnail's time, peak memory at most 32 MiB (20 MP, 200 x 200).

Plain path: `quorvex convert IN OUT --box 200x200` and `--scale 50` against the floor
`djpeg -dct float IN > /dev/null` plus `cjpeg -dct float` of the small result.
Targets: fit-200 at most 1.10x, 50 % at most 1.25x of the floor.

BASELINE_MODULE ("-" for none), a component module of another build, adds the thumbnails and the
plain path through it (QUORVEX_MODULE) for a before-and-after comparison in the same run.

NAME=PHOTO arguments replace the made pictures with real camera photos (synthetic pictures decode
faster than camera noise does): the first is the one the plain path runs on. Each thumbnail also
runs against its decode floor, `djpeg -scale 1/8 IN > /dev/null`.

The processor-time ratios are the ones to trust on a shared machine.
"""
import os
import re
import statistics
import subprocess
import sys
import time

PHOTOS = {"20MP": (5472, 3648, 7), "12MP": (4032, 3024, 9)}


def run(command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def make_photo(sample, path, width, height, seed):
    if os.path.exists(path):
        return
    run(["convert", sample, "-resize", f"{width}x{height}!", "(", "-size", f"{width}x{height}",
         "-seed", str(seed), "plasma:fractal", "-blur", "0x1", ")", "-compose", "overlay",
         "-composite", "-seed", str(seed + 1), "-attenuate", "0.4", "+noise", "Gaussian",
         "-sampling-factor", "2x2", "-quality", "90", path])


def timed(command, env=None):
    """(wall, cpu, peak KiB) of one run under /usr/bin/time -v. Processor time comes from the
    kernel's accounting of the whole process tree (microseconds; time -v prints hundredths)."""
    start = time.perf_counter()
    process = subprocess.Popen(["/usr/bin/time", "-v"] + command, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True, env=env)
    report = process.stderr.read()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command} failed: {report[-500:]}")
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", report).group(1))
    return wall, usage.ru_utime + usage.ru_stime, peak


def shell(command):
    return ["/bin/sh", "-c", command]


def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    baseline = (os.path.abspath(sys.argv[3])
                if len(sys.argv) > 3 and sys.argv[3] != "-" else None)
    given = dict(argument.split("=", 1) for argument in sys.argv[4:])
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    work = os.path.join(build, "thumbnail-bench-data")
    os.makedirs(work, exist_ok=True)
    quorvex = os.path.join(build, "tools", "quorvex")
    loader = os.path.join(build, "bench", "thumbnail", "thumbnail_load")
    usage = subprocess.run([quorvex, "--help"], capture_output=True, text=True)
    has_option = "--thumbnail" in usage.stdout + usage.stderr

    def thumbnail(source, target, width, height):
        if has_option:
            return [quorvex, "convert", source, target, "--thumbnail", f"{width}x{height}"]
        return [loader, source, target, str(width), str(height)]

    out = os.path.join(work, "out.jpg")
    cases = {}
    photos = {}
    for name, (width, height, seed) in PHOTOS.items():
        photo = os.path.join(work, f"photo{name}.jpg")
        if not given:
            make_photo(os.path.join(root, "samples", "two-wings.jpg"), photo, width, height, seed)
            photos[name] = (photo, width, height)
    for name, photo in given.items():
        size = subprocess.run(["identify", "-format", "%w %h", photo], capture_output=True,
                              text=True, check=True).stdout.split()
        photos[name] = (os.path.abspath(photo), int(size[0]), int(size[1]))
    plain = next(iter(photos))
    for name, (photo, width, height) in photos.items():
        for label, (w, h) in (("200", (200, 200)), ("50%", (width // 2, height // 2))):
            cases[f"{name} thumb {label} ours"] = thumbnail(photo, out, w, h)
            if baseline:
                cases[f"{name} thumb {label} baseline"] = (
                    thumbnail(photo, out, w, h), dict(os.environ, QUORVEX_MODULE=baseline))
            cases[f"{name} thumb {label} vips"] = [
                "vipsthumbnail", photo, "-s", f"{w}x{h}", "-o", out]
        cases[f"{name} floor 1/8"] = shell(f"djpeg -scale 1/8 -outfile /dev/null '{photo}'")
        if name != plain:
            continue
        # The floor of the plain path: decode the whole picture, encode the small one.
        for label, step in (("fit-200", ["--box", "200x200"]), ("50%", ["--scale", "50"])):
            small = os.path.join(work, f"small-{label}.ppm")
            run([quorvex, "convert", photo, out] + step)
            run(["djpeg", "-dct", "float", "-outfile", small, out])
            cases[f"{name} plain {label} ours"] = [quorvex, "convert", photo, out] + step
            if baseline:
                cases[f"{name} plain {label} baseline"] = (
                    [quorvex, "convert", photo, out] + step,
                    dict(os.environ, QUORVEX_MODULE=baseline))
            cases[f"{name} plain {label} floor"] = shell(
                f"djpeg -dct float -outfile /dev/null '{photo}' && "
                f"cjpeg -dct float -quality 90 -outfile '{out}' '{small}'")

    results = {key: [] for key in cases}
    for _ in range(rounds):
        for key, command in cases.items():
            if isinstance(command, tuple):
                results[key].append(timed(*command))
            else:
                results[key].append(timed(command))

    print(f"{rounds} rounds, medians; thumbnails through "
          f"{'quorvex convert --thumbnail' if has_option else 'thumbnail_load'}")
    print(f"{'':28s} {'wall ms':>9s} {'cpu ms':>9s} {'peak MiB':>9s}")
    summary = {}
    for key, values in results.items():
        wall = statistics.median(v[0] for v in values)
        cpu = statistics.median(v[1] for v in values)
        peak = max(v[2] for v in values) / 1024
        summary[key] = (wall, cpu)
        print(f"{key:28s} {wall * 1000:9.1f} {cpu * 1000:9.1f} {peak:9.1f}")
    print()
    for key in summary:
        if " thumb 200 " in key and not key.endswith(" vips"):
            floor = summary[key.split(" thumb ")[0] + " floor 1/8"]
            print(f"{key:24s} cpu {summary[key][1] / floor[1]:.3f}x djpeg -scale 1/8")
        if key.endswith(" ours"):
            base = key[: -len(" ours")]
            other = next(k for k in summary
                         if k.startswith(base) and k != key and not k.endswith("baseline"))
            target = {"thumb": 0.8, "plain fit-200": 1.10, "plain 50%": 1.25}
            goal = next(v for k, v in target.items() if k in base)
            print(f"{base:24s} ratio wall {summary[key][0] / summary[other][0]:.3f}  "
                  f"cpu {summary[key][1] / summary[other][1]:.3f}  (target <= {goal})")
            if base + " baseline" in summary:
                before = summary[base + " baseline"]
                print(f"{base + ' baseline':24s} ratio wall {before[0] / summary[other][0]:.3f}  "
                      f"cpu {before[1] / summary[other][1]:.3f}")


if __name__ == "__main__":
    main()
