#!/usr/bin/env python3
"""The web host under attack, two builds side by side in one run (say, main before a change
and the change itself), a fresh host per measurement, on loopback:

  chain    one GET of twenty resizes to 7000x7000 and back, the client leaving after 2 s: the
           host's processor time (user + system) for it, until the host is idle again (at most
           60 s after the client left)
  chain64  the same with --max-ops 64, so that the chain is admitted and must be cancelled
  bombs    eight 2 KB progressive 7000x7000 POSTs at once: the host's peak resident memory
  slow     520 connections from 127.0.0.1 sending a request head one byte at a time: the median
           time of five /healthz probes from 127.0.0.2 (5 s when unanswered)

  python3 bench/hostile/run_attack_bench.py --before BUILD --after BUILD [--rounds 3]
  python3 bench/hostile/run_attack_bench.py --build LABEL=BUILD --build LABEL=BUILD ...

BUILD is a build folder holding tools/quorvex and its module; medians over the rounds. chain64
is left out for a build whose host has no --max-ops."""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import hostile_files  # noqa: E402

PHOTO = os.path.join(HERE, "..", "..", "samples", "two-wings.jpg")
CHAIN = "&".join(["resize=7000x7000", "resize=100x100"] * 10)


class Host:
    def __init__(self, label, build, root, scratch, *options):
        # A registry per build, so that each host creates the object of its own module.
        env = dict(os.environ, QUORVEX_REGISTRY=os.path.join(scratch, "registry-" + label),
                   QUORVEX_MODULE=os.path.join(build, "component", "Quorvex.so"))
        self.process = subprocess.Popen(
            [os.path.join(build, "tools", "quorvex"), "serve", "--root", root, "--listen",
             "127.0.0.1:0", *options], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        line = self.process.stdout.readline().decode()
        self.port = int(line.rsplit(":", 1)[1].strip("/\n"))

    def cpu(self):
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def peak_mib(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return 0.0

    def close(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()


def chain(host):
    started = host.cpu()
    with socket.create_connection(("127.0.0.1", host.port)) as raw:
        raw.sendall(b"GET /photo.jpg?" + CHAIN.encode() + b" HTTP/1.1\r\nHost: x\r\n\r\n")
        raw.settimeout(2)
        try:
            raw.recv(100)
        except socket.timeout:
            pass
    while True:
        before = host.cpu()
        time.sleep(0.5)
        if host.cpu() - before < 0.02 or host.cpu() - started > 60:
            return host.cpu() - started


def bombs(host, bomb):
    request = (b"POST /?box=10x10 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
               b"Content-Length: %d\r\n\r\n" % len(bomb) + bomb)

    def send():
        try:
            with socket.create_connection(("127.0.0.1", host.port), timeout=120) as raw:
                raw.sendall(request)
                while raw.recv(65536):
                    pass
        except OSError:
            pass  # a host that ran out of memory answers nothing

    threads = [threading.Thread(target=send) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return host.peak_mib()


def slow(host):
    held = []
    try:
        for _ in range(520):
            try:
                raw = socket.create_connection(("127.0.0.1", host.port), timeout=2)
                raw.sendall(b"GET /photo.jpg HTTP/1.1\r\nHo")
                held.append(raw)
            except OSError:
                pass
        times = []
        for _ in range(5):
            started = time.monotonic()
            try:
                with socket.create_connection(("127.0.0.1", host.port), timeout=5,
                                              source_address=("127.0.0.2", 0)) as probe:
                    probe.sendall(b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n")
                    answered = probe.recv(100).startswith(b"HTTP/1.1 200")
            except OSError:
                answered = False
            times.append(time.monotonic() - started if answered else 5.0)
        return statistics.median(times)
    finally:
        for raw in held:
            raw.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--before")
    parser.add_argument("--after")
    parser.add_argument("--build", action="append", default=[], help="LABEL=BUILD")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="quorvex-attack-bench-")
    try:
        root = os.path.join(scratch, "root")
        os.mkdir(root)
        shutil.copy(PHOTO, os.path.join(root, "photo.jpg"))
        bomb = hostile_files.progressive_444(scratch, 7000, 7000)
        attacks = [("chain", "CPU s", chain, ()), ("chain64", "CPU s", chain, ("--max-ops", "64")),
                   ("bombs", "peak MiB", lambda host: bombs(host, bomb), ("--workers", "8")),
                   ("slow", "probe s", slow, ())]
        builds = [tuple(entry.split("=", 1)) for entry in args.build]
        builds += [(label, build) for label, build in (("before", args.before),
                                                      ("after", args.after)) if build]
        if not builds:
            parser.error("no build given")
        limited = {label for label, build in builds if "--max-ops" in subprocess.run(
            [os.path.join(build, "tools", "quorvex"), "serve", "--help"], capture_output=True,
            text=True).stdout}
        results = {}
        for _ in range(args.rounds):
            for attack, _, measure, options in attacks:
                for label, build in builds:
                    if label not in limited and attack == "chain64":
                        continue  # the same as chain there: no operation limit to lift
                    host = Host(label, build, root, scratch, *options)
                    try:
                        results.setdefault((attack, label), []).append(measure(host))
                    finally:
                        host.close()
        print(f"{'attack':<8} {'unit':<9}" + "".join(f" {label:>8}" for label, _ in builds))
        for attack, unit, _, _ in attacks:
            row = [statistics.median(results[(attack, label)])
                   if (attack, label) in results else float("nan") for label, _ in builds]
            print(f"{attack:<8} {unit:<9}" + "".join(f" {value:>8.3f}" for value in row))
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
