#!/usr/bin/env python3
"""Requests per second, p50/p99 latency and peak memory of `quorvex serve` next to a Node.js
http server using sharp, both fitting a 16-megapixel photo into 200x200, under wrk on loopback
at 1, 2 and 8 connections. The web host does it two ways: box=200x200 (the full decode, then
the fit) and thumbnail=200x200 (the load itself fitted); sharp always shrinks while it decodes,
so it answers either with the same work and is measured once.

  python3 bench/server/run_server_bench.py --build build/release --sharp DIR [--seconds 10]

DIR holds node_modules/sharp (npm install sharp there, outside the repository or in
bench/server, whose node_modules is ignored). Without --sharp only the web host is measured.

Builds side by side (say, before and after a change), each with its own module, measured in
turn within each round so that other load on the machine falls on all alike; the medians over
the rounds close the output, with each build's change against the first:

  python3 bench/server/run_server_bench.py --build before=DIR --build after=DIR \
      --runs thumbnail --rounds 5"""
import argparse
import statistics
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
    parser.add_argument("--build", action="append",
                        help="[LABEL=]DIR of a build; several are measured side by side "
                             "(default build/release)")
    parser.add_argument("--sharp", help="folder whose node_modules holds sharp")
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    parser.add_argument("--runs", default="box,thumbnail", help="box, thumbnail or both")
    parser.add_argument("--rounds", type=int, default=1)
    args = parser.parse_args()
    builds = [(entry.split("=", 1) if "=" in entry else ["quorvex", entry])
              for entry in (args.build or ["build/release"])]

    scratch = tempfile.mkdtemp(prefix="quorvex-server-bench-")
    try:
        photo = os.path.join(scratch, "photo.jpg")
        subprocess.run(["convert", PHOTO, "-resize", "200%", "-quality", "92", photo], check=True)
        size = subprocess.run(["identify", "-format", "%wx%h", photo], capture_output=True,
                              text=True, check=True).stdout
        servers = {}
        for label, build in builds:
            # A registry per build, so that each host creates the object of its own module.
            env = dict(os.environ, QUORVEX_REGISTRY=os.path.join(scratch, "registry-" + label),
                       QUORVEX_MODULE=os.path.join(build, "component", "Quorvex.so"))
            servers[label] = start(
                [os.path.join(build, "tools", "quorvex"), "serve", "--root", scratch, "--listen",
                 "127.0.0.1:0", "--workers", str(args.workers), "--queue", "256"], env)
        if args.sharp:
            servers["node + sharp"] = start(
                ["node", os.path.join(HERE, "sharp_server.js"), scratch],
                dict(os.environ, NODE_PATH=os.path.join(args.sharp, "node_modules")))
        print(f"photo {size}, fit into 200x200, {args.seconds} s per run, "
              f"{os.cpu_count()} processors, web host workers {args.workers}")
        print(f"{'server':<24} {'conns':>5} {'req/s':>8} {'p50 ms':>8} {'p99 ms':>8} "
              f"{'peak MiB':>9} {'errors':>6}")
        runs = [(f"{label} {kind}", label, f"{kind}=200x200")
                for kind in args.runs.split(",") for label, _ in builds]
        if args.sharp:
            runs.append(("node + sharp", "node + sharp", "box=200x200"))
        rates = {}
        for _ in range(args.rounds):
            for connections in (1, 2, 8):
                for name, server, query in runs:
                    process, base = servers[server]
                    url = base + "photo.jpg?" + query
                    subprocess.run(["wrk", "-t", "1", "-c", "1", "-d", "1s", url],
                                   capture_output=True, check=True)
                    reset_peak(process.pid)
                    result = wrk(url, connections, args.seconds)
                    rates.setdefault((name, connections), []).append(result["rps"])
                    print(f"{name:<24} {connections:>5} {result['rps']:>8.1f} "
                          f"{result['p50']:>8.1f} {result['p99']:>8.1f} "
                          f"{peak_kib(process.pid) / 1024:>9.1f} {result['errors']:>6}",
                          flush=True)
        if args.rounds > 1 or len(builds) > 1:
            print(f"\nmedian req/s over {args.rounds} rounds")
            for connections in (1, 2, 8):
                for kind in args.runs.split(","):
                    first = statistics.median(rates[(f"{builds[0][0]} {kind}", connections)])
                    for label, _ in builds:
                        median = statistics.median(rates[(f"{label} {kind}", connections)])
                        print(f"{label + ' ' + kind:<24} {connections:>5} {median:>8.1f} "
                              f"{100 * (median / first - 1):>+7.1f} %")
        for process, _ in servers.values():
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=60)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
