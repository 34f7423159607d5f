#!/usr/bin/env python3
"""What validators cost and save in `quorvex serve`, on a 12-megapixel camera photo under wrk on
loopback: the host's CPU time and the latency of a conditional GET answered 304 next to the full
thumbnail it stands for, and, with --baseline, the thumbnail throughput of this build against an
earlier one (rounds alternate between the two, so that a busy machine weighs on both alike).

  python3 bench/server/run_validation_bench.py --build build/release [--baseline OTHER/build]
"""
import argparse
import glob
import os
import re
import shutil
import signal
import statistics
import subprocess
import tempfile
import urllib.request

CAMERA = sorted(glob.glob("/usr/share/forensics-samples/original-files/pic*/IMG_2020*.jpg"))
TARGET = "/photo.jpg?thumbnail=200x200"


class Host:
    def __init__(self, build, root, scratch, workers):
        env = dict(os.environ, QUORVEX_REGISTRY=os.path.join(scratch, f"registry-{id(self)}"))
        self.process = subprocess.Popen(
            [os.path.join(build, "tools", "quorvex"), "serve", "--root", root, "--listen",
             "127.0.0.1:0", "--workers", str(workers)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        line = self.process.stdout.readline().decode()
        self.base = line.split("listening on ", 1)[1].strip().rstrip("/")

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=90)


def wrk(url, connections, seconds, header=None):
    command = ["wrk", "-t", "1", "-c", str(connections), "-d", f"{seconds}s", "--latency"]
    if header:
        command += ["-H", header]
    out = subprocess.run(command + [url], capture_output=True, check=True, text=True).stdout
    requests = int(re.search(r"(\d+) requests in", out).group(1))
    p50 = re.search(r"^\s+50%\s+([\d.]+)(us|ms|s)", out, re.M).groups()
    bad = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    return {"requests": requests, "rps": float(re.search(r"Requests/sec:\s+([\d.]+)", out)[1]),
            "p50_ms": float(p50[0]) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[p50[1]],
            "errors": int(bad[1]) if bad else 0}


def measured(host, connections, seconds, header=None):
    before = host.cpu_seconds()
    result = wrk(host.base + TARGET, connections, seconds, header)
    result["cpu_ms"] = (host.cpu_seconds() - before) * 1000 / max(result["requests"], 1)
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--baseline", help="an earlier build folder to compare throughput with")
    parser.add_argument("--seconds", type=int, default=8)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--connections", type=int, default=2)
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="quorvex-validation-bench-")
    try:
        root = os.path.join(scratch, "root")
        os.mkdir(root)
        shutil.copy(CAMERA[0], os.path.join(root, "photo.jpg"))
        size = subprocess.run(["identify", "-format", "%wx%h", CAMERA[0]], capture_output=True,
                              text=True, check=True).stdout
        print(f"photo: {os.path.basename(CAMERA[0])} {size}, {TARGET}")

        host = Host(args.build, root, scratch, args.connections)
        try:
            with urllib.request.urlopen(host.base + TARGET) as answer:
                etag = answer.headers["ETag"]
            full = measured(host, 1, args.seconds)
            current = measured(host, 1, args.seconds, f"If-None-Match: {etag}")
        finally:
            host.stop()
        for name, r in (("200 thumbnail", full), ("304 conditional", current)):
            print(f"{name:16} 1 connection: {r['rps']:9.1f} req/s  p50 {r['p50_ms']:7.3f} ms  "
                  f"host CPU {r['cpu_ms']:7.3f} ms/request  errors {r['errors']}")

        if args.baseline:
            rps = {"this build": [], "baseline": []}
            cpu = {"this build": [], "baseline": []}
            for _ in range(args.rounds):
                for name, build in (("baseline", args.baseline), ("this build", args.build)):
                    host = Host(build, root, scratch, args.connections)
                    try:
                        wrk(host.base + TARGET, args.connections, 1)  # warm up
                        r = measured(host, args.connections, args.seconds)
                    finally:
                        host.stop()
                    rps[name].append(r["rps"])
                    cpu[name].append(r["cpu_ms"])
            for name in ("baseline", "this build"):
                print(f"{name:10} {args.connections} connections: median "
                      f"{statistics.median(rps[name]):7.2f} req/s "
                      f"({', '.join(f'{v:.2f}' for v in rps[name])}), host CPU "
                      f"{statistics.median(cpu[name]):6.1f} ms/request")
            print(f"throughput ratio {statistics.median(rps['this build']) / statistics.median(rps['baseline']):.3f}, "
                  f"CPU ratio {statistics.median(cpu['this build']) / statistics.median(cpu['baseline']):.3f}")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
