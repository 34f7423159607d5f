"""Debian's nginx with the deployment configuration, on loopback in front of two instances:
requests reach both, and a repeated request is answered from the proxy cache."""
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.request

from serving import PHOTO, Server

DEPLOY = os.path.join(os.path.dirname(__file__), "..", "..", "deploy", "nginx", "quorvex.conf")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class NginxTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="quorvex-nginx-test-")
        root = os.path.join(self.scratch, "root")
        os.mkdir(root)
        shutil.copy(PHOTO, os.path.join(root, "photo.jpg"))
        self.instances = [Server(root, scratch=self.scratch) for _ in range(2)]
        self.port = free_port()
        with open(DEPLOY) as deploy:
            site = (deploy.read()
                    .replace("127.0.0.1:8081", f"127.0.0.1:{self.instances[0].port}")
                    .replace("127.0.0.1:8082", f"127.0.0.1:{self.instances[1].port}")
                    .replace("/var/cache/nginx/quorvex", f"{self.scratch}/cache")
                    .replace("listen 80;", f"listen 127.0.0.1:{self.port};")
                    .replace("listen [::]:80;", ""))
        with open(os.path.join(self.scratch, "site.conf"), "w") as out:
            out.write(site)
        temp = "".join(f"{kind}_temp_path {self.scratch}/{kind};\n"
                       for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        with open(os.path.join(self.scratch, "nginx.conf"), "w") as out:
            out.write(("user root;\n" if os.geteuid() == 0 else "") +
                      f"worker_processes 1;\npid {self.scratch}/nginx.pid;\n"
                      f"error_log {self.scratch}/error.log;\nevents {{ worker_connections 64; }}\n"
                      f"http {{\naccess_log off;\n{temp}include {self.scratch}/site.conf;\n}}\n")
        self.nginx = subprocess.Popen(
            ["nginx", "-e", f"{self.scratch}/error.log", "-p", self.scratch, "-c",
             f"{self.scratch}/nginx.conf", "-g", "daemon off;"])
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)

    def tearDown(self):
        self.nginx.terminate()
        self.nginx.wait(timeout=30)
        for instance in self.instances:
            self.assertEqual(instance.stop(), 0)
        shutil.rmtree(self.scratch)

    def fetch(self, query):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/photo.jpg?{query}",
                                    timeout=60) as answer:
            return answer.status, answer.headers["X-Cache-Status"], answer.read()

    def served(self):
        return [instance.log().count("GET /photo.jpg 200") for instance in self.instances]

    def test_balanced_and_cached(self):
        first = [self.fetch(f"box={size}x{size}") for size in range(100, 106)]
        self.assertEqual([(s, c) for s, c, _ in first], [(200, "MISS")] * 6)
        time.sleep(0.2)
        counts = self.served()
        self.assertEqual(sum(counts), 6)
        self.assertTrue(all(count > 0 for count in counts), counts)
        self.assertEqual(self.fetch("box=100x100"), (200, "HIT", first[0][2]))
        time.sleep(0.2)
        self.assertEqual(self.served(), counts)


if __name__ == "__main__":
    unittest.main()
