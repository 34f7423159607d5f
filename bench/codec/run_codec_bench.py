#!/usr/bin/env python3
"""Load and save of a 24-megapixel photo: the JPEG image object against the library's own tools.

Usage: run_codec_bench.py CODEC_BENCH_BINARY [PHOTO]

PHOTO (default: samples/two-wings.jpg of the repository) is upscaled by ImageMagick to
6000 x 4000 and saved at quality 92 next to the binary (codec-bench-data/, nothing is
committed). Then, in alternating rounds, it times
  load: codec_bench BM_LoadDecode          vs  djpeg -dct float -outfile photo.ppm photo.jpg
  save: codec_bench BM_EncodeSave (q 90)   vs  cjpeg -dct float -quality 90 photo.ppm
and prints medians of wall time and of processor time (user + system), with their ratios
(target: 1.15 or less). The processor-time ratio is the one to trust on a shared machine: wall
time also counts the time other processes hold the cores. "djpeg to /dev/null" is shown as
well: it never materialises the picture, which the object has to do.
"""
import json
import os
import statistics
import subprocess
import sys
import time

ROUNDS = 5


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def prepare(workdir, photo):
    os.makedirs(workdir, exist_ok=True)
    jpeg = os.path.join(workdir, "photo24mp.jpg")
    ppm = os.path.join(workdir, "photo24mp.ppm")
    if not os.path.exists(jpeg):
        run(["convert", photo, "-resize", "6000x4000!", "-quality", "92", jpeg])
    if not os.path.exists(ppm):
        run(["djpeg", "-dct", "float", "-outfile", ppm, jpeg])
    return jpeg, ppm


def ours(binary, name, jpeg):
    """(wall, cpu) seconds of one iteration inside the benchmark binary."""
    env = dict(os.environ, QUORVEX_BENCH_PHOTO=jpeg)
    out = run([binary, f"--benchmark_filter=^{name}(/|$)", "--benchmark_min_time=0",
               "--benchmark_format=json"], env=env, capture_output=True, text=True).stdout
    result = json.loads(out)["benchmarks"][0]
    assert result["time_unit"] == "ms"
    return result["real_time"] / 1000.0, result["cpu_time"] / 1000.0


def tool(command):
    """(wall, cpu) seconds of one run of a command."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise subprocess.CalledProcessError(process.returncode, command)
    return wall, usage.ru_utime + usage.ru_stime


def main():
    binary = os.path.abspath(sys.argv[1])
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    photo = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "samples", "two-wings.jpg")
    jpeg, ppm = prepare(os.path.join(os.path.dirname(binary), "codec-bench-data"), photo)
    work = os.path.dirname(jpeg)
    djpeg_out = os.path.join(work, "djpeg-out.ppm")
    cjpeg_out = os.path.join(work, "cjpeg-out.jpg")

    runs = {
        "load ours": lambda: ours(binary, "BM_LoadDecode", jpeg),
        "load djpeg": lambda: tool(["djpeg", "-dct", "float", "-outfile", djpeg_out, jpeg]),
        "load djpeg>null": lambda: tool(["djpeg", "-dct", "float", "-outfile", "/dev/null", jpeg]),
        "save ours": lambda: ours(binary, "BM_EncodeSave", jpeg),
        "save cjpeg": lambda: tool(
            ["cjpeg", "-dct", "float", "-quality", "90", "-outfile", cjpeg_out, ppm]),
    }
    times = {key: [] for key in runs}
    for _ in range(ROUNDS):
        for key, measure in runs.items():
            times[key].append(measure())

    wall = {key: statistics.median(t[0] for t in values) for key, values in times.items()}
    cpu = {key: statistics.median(t[1] for t in values) for key, values in times.items()}
    print(f"photo {jpeg} ({os.path.getsize(jpeg)} bytes), {ROUNDS} rounds, medians")
    print(f"{'':16s} {'wall ms':>9s} {'cpu ms':>9s}")
    for key in runs:
        print(f"{key:16s} {wall[key] * 1000:9.1f} {cpu[key] * 1000:9.1f}")
    for label, m in (("wall", wall), ("cpu", cpu)):
        load = m["load ours"] / m["load djpeg"]
        save = m["save ours"] / m["save cjpeg"]
        total = (m["load ours"] + m["save ours"]) / (m["load djpeg"] + m["save cjpeg"])
        print(f"ratio ({label}): load {load:.3f}  save {save:.3f}  load+save {total:.3f}"
              "  (target <= 1.15)")


if __name__ == "__main__":
    main()
