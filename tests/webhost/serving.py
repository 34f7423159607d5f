"""Starts `quorvex serve` on an ephemeral loopback port for the web host's tests."""
import http.client
import os
import signal
import subprocess
import tempfile
import time

TOOL = os.environ["QUORVEX_TOOL"]
PHOTO = os.environ["QUORVEX_PHOTO"]


class Server:
    def __init__(self, root, *options, scratch=None, runner=()):
        """runner: a command that runs the host's (setpriv with another user, say)."""
        self.scratch = scratch or tempfile.mkdtemp(prefix="quorvex-serve-")
        self.log_path = os.path.join(self.scratch, f"log-{id(self)}")
        env = dict(os.environ, QUORVEX_REGISTRY=os.path.join(self.scratch, "registry"))
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                [*runner, TOOL, "serve", "--root", root, "--listen", "127.0.0.1:0", *options],
                stdout=subprocess.PIPE, stderr=log, env=env)
        self.first_line = self.process.stdout.readline().decode()
        assert self.first_line.startswith("listening on http://127.0.0.1:"), self.first_line
        self.port = int(self.first_line.rsplit(":", 1)[1].strip("/\n"))

    def request(self, method, target, body=None, headers=None, timeout=60):
        """(status, headers as a dict, body bytes) of one request on a new connection."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, target, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def get(self, target):
        return self.request("GET", target)

    def cpu_seconds(self):
        """User and system time the host has used so far."""
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def peak_rss_mib(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return 0.0

    def log(self):
        with open(self.log_path, encoding="utf-8") as log:
            return log.read()

    def stop(self):
        """Stops with SIGTERM; returns the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=90)
        self.process.stdout.close()
        return status


def eventually(probe, timeout=10):
    """probe()'s first true result, asked again until it comes or the timeout passes; the last
    result then. A request is logged and counted just after its answer is sent, so a client may
    see the answer a moment before the host has finished with it."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result or time.monotonic() > deadline:
            return result
        time.sleep(0.05)


def identify(data, fmt):
    """ImageMagick's view of a JPEG: identify -format FMT."""
    return subprocess.run(["identify", "-format", fmt, "-"], input=data, capture_output=True,
                          check=True).stdout.decode()
