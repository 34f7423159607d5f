#!/usr/bin/env python3
"""Peak memory and wall time of loading hostile JPEG files, next to real photos.

Usage: run_hostile_bench.py [--build build/release] [--work DIR] [--padded-size BYTES]
                            [--only NAME[,NAME...]]

Makes the files (hostile_files.py) in DIR (default: hostile-bench-data/ in the build
directory; nothing is committed), then runs on each, under /usr/bin/time -v,
  quorvex info FILE
  quorvex convert FILE OUT --box 100x100
and prints the exit status, the tool's message, the peak resident set size, the wall time and
the processor time (user + system; the figure to trust on a shared machine). Real photos are the
bundled sample, its 20-megapixel upscale and any JPEG under /usr/share. The padded file is
sparse, but a load reads all of it: it needs that much free memory. QUORVEX_MODULE in the
environment chooses the module, as for the tool, so that two builds can be compared.
"""
import argparse
import glob
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_files  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def measure(command):
    result = subprocess.run(["/usr/bin/time", "-v"] + command, capture_output=True, text=True,
                            errors="replace")
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr)
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", result.stderr)
    seconds = 0.0
    if wall:
        for part in wall.group(1).split(":"):
            seconds = seconds * 60 + float(part)
    cpu = sum(float(m) for m in re.findall(r"(?:User|System) time \(seconds\): (\S+)",
                                            result.stderr))
    message = ""
    for line in result.stderr.splitlines():
        if line.startswith("quorvex: "):
            message = line[len("quorvex: "):]
    if result.returncode == 0:
        message = result.stdout.strip().split(": ", 1)[-1] if command[1] == "info" else "ok"
    return result.returncode, message, int(peak.group(1)) / 1024 if peak else 0.0, seconds, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--work")
    parser.add_argument("--padded-size", type=int, default=hostile_files.MAX_FILE_BYTES)
    parser.add_argument("--only", help="comma-separated file names to run")
    args = parser.parse_args()
    tool = os.path.join(args.build, "tools", "quorvex")
    work = args.work or os.path.join(args.build, "hostile-bench-data")

    rows = hostile_files.make_all(work, os.path.join(ROOT, "samples", "two-wings.jpg"),
                                  args.padded_size)
    rows.insert(0, ("two-wings.jpg", os.path.join(ROOT, "samples", "two-wings.jpg"),
                    "the bundled sample photo, 2560x1600"))
    for path in sorted(glob.glob("/usr/share/**/*.jpg", recursive=True)):
        rows.append((os.path.basename(path), path, "Debian package photo " + path))
    if args.only:
        wanted = set(args.only.split(","))
        rows = [row for row in rows if row[0] in wanted]

    out = os.path.join(work, "out.jpg")
    print("%-26s %-8s %5s %9s %8s %8s  %s" % ("file", "command", "exit", "peak MiB", "wall s",
                                               "cpu s", "result"))
    for name, path, what in rows:
        size = os.path.getsize(path)
        for label, command in (("info", [tool, "info", path]),
                               ("convert", [tool, "convert", path, out, "--box", "100x100"])):
            status, message, peak, seconds, cpu = measure(command)
            print("%-26s %-8s %5d %9.1f %8.2f %8.2f  %s" % (name, label, status, peak, seconds,
                                                             cpu, message), flush=True)
        print("%-26s   (%d bytes: %s)" % ("", size, what), flush=True)


if __name__ == "__main__":
    main()
