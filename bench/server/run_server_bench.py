#!/usr/bin/env python3
"""Requests per second, p50/p99 latency and peak memory of `quorvex serve` next to a Node.js
http server using sharp, both fitting a 16-megapixel photo into 200x200, under wrk on loopback
at 1, 2 and 8 connections. The web host does it two ways: box=200x200 (the full decode, then
the fit) and thumbnail=200x200 (the load itself fitted); sharp always shrinks while it decodes,
so it answers either with the same work and is measured once.

  python3 bench/server/run_server_bench.py --build build/release --sharp DIR [--seconds 10]

DIR holds node_modules/sharp (npm install sharp there, outside the repository or in
bench/server, whose node_modules is ignored). Without --sharp only the web host is measured."""
import argparse
import os
import re
import shutil
import signal
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PHOTO = os.path.join(HERE, "..", "..", "samples", "two-wings.jpg")


def start(command, env=None):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               env=env)
    line = process.stdout.readline().decode()
    if not line.startswith("listening on "):
        raise SystemExit(f"{command[0]} did not start: {line!r}")
    return process, line.split("listening on ", 1)[1].strip()


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmHWM:\s+(\d+)", status.read()).group(1))


def reset_peak(pid):
    try:
        with open(f"/proc/{pid}/clear_refs", "w") as refs:
            refs.write("5")
    except OSError:
        pass


def milliseconds(text):
    value, unit = re.match(r"([\d.]+)(us|ms|s)", text).groups()
    return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]


def wrk(url, connections, seconds):
    out = subprocess.run(["wrk", "-t", str(min(connections, 2)), "-c", str(connections), "-d",
                          f"{seconds}s", "--timeout", "30s", "--latency", url],
                         capture_output=True, check=True, text=True).stdout
    failed = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    broken = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)",
                       out)
    return {
        "rps": float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1)),
        # Anchored: the thread statistics also end in percentages ("72.50%").
        "p50": milliseconds(re.search(r"^\s+50%\s+(\S+)", out, re.M).group(1)),
        "p99": milliseconds(re.search(r"^\s+99%\s+(\S+)", out, re.M).group(1)),
        "errors": (int(failed.group(1)) if failed else 0) +
                  (sum(int(n) for n in broken.groups()) if broken else 0),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--sharp", help="folder whose node_modules holds sharp")
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="quorvex-server-bench-")
    try:
        photo = os.path.join(scratch, "photo.jpg")
        subprocess.run(["convert", PHOTO, "-resize", "200%", "-quality", "92", photo], check=True)
        size = subprocess.run(["identify", "-format", "%wx%h", photo], capture_output=True,
                              text=True, check=True).stdout
        env = dict(os.environ, QUORVEX_REGISTRY=os.path.join(scratch, "registry"))
        servers = {"quorvex serve": start(
            [os.path.join(args.build, "tools", "quorvex"), "serve", "--root", scratch, "--listen",
             "127.0.0.1:0", "--workers", str(args.workers), "--queue", "256"], env)}
        if args.sharp:
            servers["node + sharp"] = start(
                ["node", os.path.join(HERE, "sharp_server.js"), scratch],
                dict(os.environ, NODE_PATH=os.path.join(args.sharp, "node_modules")))
        print(f"photo {size}, fit into 200x200, {args.seconds} s per run, "
              f"{os.cpu_count()} processors, web host workers {args.workers}")
        print(f"{'server':<18} {'conns':>5} {'req/s':>8} {'p50 ms':>8} {'p99 ms':>8} "
              f"{'peak MiB':>9} {'errors':>6}")
        runs = [("quorvex box", "quorvex serve", "box=200x200"),
                ("quorvex thumbnail", "quorvex serve", "thumbnail=200x200")]
        if args.sharp:
            runs.append(("node + sharp", "node + sharp", "box=200x200"))
        for connections in (1, 2, 8):
            for name, server, query in runs:
                process, base = servers[server]
                url = base + "photo.jpg?" + query
                subprocess.run(["wrk", "-t", "1", "-c", "1", "-d", "1s", url],
                               capture_output=True, check=True)
                reset_peak(process.pid)
                result = wrk(url, connections, args.seconds)
                print(f"{name:<18} {connections:>5} {result['rps']:>8.1f} {result['p50']:>8.1f} "
                      f"{result['p99']:>8.1f} {peak_kib(process.pid) / 1024:>9.1f} "
                      f"{result['errors']:>6}", flush=True)
        for process, _ in servers.values():
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=60)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
