#!/usr/bin/python3
"""Processor time per request of `quorvex serve` and of the Node server with sharp, next to the
decode floor `djpeg -scale 1/8`, on real photos, all interleaved in one run.

  run_cpu_per_request.py --build build/release --sharp DIR [--query thumbnail=200x200]
                         [--seconds 5] [--rounds 3] [--baseline MODULE] NAME=PHOTO ...

For each photo and each connection count (1, 2, 8), every round runs wrk against each server in
turn and then djpeg on the same photo; a server's processor time (user + system, from /proc) over
the run divided by its answers is its cost per request. sharp answers box=WxH (it always shrinks
while it decodes). --baseline adds the web host with another component module (QUORVEX_MODULE).
Medians over the rounds are printed, with the ratios to djpeg -scale 1/8; on a machine shared
with other work, processor time is the figure to trust, requests per second less so.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import tempfile

from run_server_bench import start, wrk

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def djpeg_cpu(photo, runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    for _ in range(runs):
        subprocess.run(["djpeg", "-scale", "1/8", "-outfile", os.devnull, photo], check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) / runs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--sharp", help="folder whose node_modules holds sharp")
    parser.add_argument("--query", default="thumbnail=200x200")
    parser.add_argument("--seconds", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    parser.add_argument("--baseline", help="component module of another build")
    parser.add_argument("photos", nargs="+", metavar="NAME=PHOTO")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="quorvex-cpu-bench-")
    servers = {}
    try:
        photos = {}
        for entry in args.photos:
            name, path = entry.split("=", 1)
            shutil.copy(path, os.path.join(scratch, name + ".jpg"))
            photos[name] = os.path.join(scratch, name + ".jpg")
        tool = os.path.join(args.build, "tools", "quorvex")
        serve = [tool, "serve", "--root", scratch, "--listen", "127.0.0.1:0", "--workers",
                 str(args.workers), "--queue", "256"]
        env = dict(os.environ, QUORVEX_REGISTRY=os.path.join(scratch, "registry"))
        servers["quorvex"] = (*start(serve, env), args.query)
        if args.baseline:
            servers["baseline"] = (*start(serve, dict(env, QUORVEX_MODULE=args.baseline)),
                                   args.query)
        if args.sharp:
            box = args.query.split("=", 1)[1]
            servers["sharp"] = (*start(["node", os.path.join(os.path.dirname(__file__),
                                                              "sharp_server.js"), scratch],
                                       dict(os.environ,
                                            NODE_PATH=os.path.join(args.sharp, "node_modules"))),
                                f"box={box}")
        print(f"{args.query}, {args.seconds} s per run, {args.rounds} rounds, medians; "
              f"{os.cpu_count()} processors, web host workers {args.workers}; "
              f"load before: {os.getloadavg()[0]:.1f}")
        print(f"{'photo':<8} {'conns':>5} {'server':<9} {'req/s':>7} {'cpu ms/req':>10} "
              f"{'x djpeg 1/8':>11}")
        for name, photo in photos.items():
            for connections in (1, 2, 8):
                results = {key: [] for key in servers}
                floors = []
                for _ in range(args.rounds):
                    for key, (process, base, query) in servers.items():
                        url = f"{base}{name}.jpg?{query}"
                        subprocess.run(["wrk", "-t", "1", "-c", "1", "-d", "1s", url],
                                       capture_output=True, check=True)
                        start_cpu = cpu_seconds(process.pid)
                        result = wrk(url, connections, args.seconds)
                        spent = cpu_seconds(process.pid) - start_cpu
                        if result["errors"] or result["rps"] <= 0:
                            raise SystemExit(f"{key}: {result['errors']} failed requests, "
                                             f"{result['rps']} answered per second")
                        results[key].append((result["rps"],
                                             spent / (result["rps"] * args.seconds)))
                    floors.append(djpeg_cpu(photo, 20))
                floor = statistics.median(floors)
                for key, values in results.items():
                    rps = statistics.median(v[0] for v in values)
                    cpu = statistics.median(v[1] for v in values)
                    print(f"{name:<8} {connections:>5} {key:<9} {rps:>7.1f} {cpu * 1000:>10.1f} "
                          f"{cpu / floor:>11.2f}", flush=True)
                print(f"{name:<8} {connections:>5} {'djpeg':<9} {'':>7} {floor * 1000:>10.1f}")
        print(f"load after: {os.getloadavg()[0]:.1f}")
    finally:
        for process, _, _ in servers.values():
            process.terminate()
            process.wait(timeout=60)
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
