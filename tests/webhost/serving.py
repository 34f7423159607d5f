"""Starts `quorvex serve` on an ephemeral loopback port for the web host's tests."""
import http.client
import os
import signal
import subprocess
import tempfile

TOOL = os.environ["QUORVEX_TOOL"]
PHOTO = os.environ["QUORVEX_PHOTO"]


class Server:
    def __init__(self, root, *options, scratch=None):
        self.scratch = scratch or tempfile.mkdtemp(prefix="quorvex-serve-")
        self.log_path = os.path.join(self.scratch, f"log-{id(self)}")
        env = dict(os.environ, QUORVEX_REGISTRY=os.path.join(self.scratch, "registry"))
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                [TOOL, "serve", "--root", root, "--listen", "127.0.0.1:0", *options],
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


def identify(data, fmt):
    """ImageMagick's view of a JPEG: identify -format FMT."""
    return subprocess.run(["identify", "-format", fmt, "-"], input=data, capture_output=True,
                          check=True).stdout.decode()
