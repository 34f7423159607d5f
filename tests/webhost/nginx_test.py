"""Debian's nginx with the deployment configuration, on loopback in front of two instances:
requests reach both, a repeated request is answered from the proxy cache for the lifetime the
instances give (--max-age) and then revalidated with a 304, once per negotiated format, and a POST that finds one instance
busy is answered by the other."""
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request

from serving import PHOTO, Server, eventually

DEPLOY = os.path.join(os.path.dirname(__file__), "..", "..", "deploy", "nginx", "quorvex.conf")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class NginxTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="quorvex-nginx-test-")
        self.instances = []
        self.nginx = None
        self.ids = []  # X-Request-Id of each fetch

    def start(self, max_age="600"):
        root = os.path.join(self.scratch, "root")
        os.mkdir(root)
        shutil.copy(PHOTO, os.path.join(root, "photo.jpg"))
        # One worker and no queue each, so that one long request makes an instance busy.
        self.instances = [Server(root, "--workers", "1", "--queue", "0", "--max-age", max_age,
                                 scratch=self.scratch) for _ in range(2)]
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
        if self.nginx is not None:
            self.nginx.terminate()
            self.nginx.wait(timeout=30)
        for instance in self.instances:
            self.assertEqual(instance.stop(), 0)
        shutil.rmtree(self.scratch)

    def fetch(self, query):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/photo.jpg?{query}",
                                    timeout=60) as answer:
            self.ids.append(answer.headers["X-Request-Id"])
            return answer.status, answer.headers["X-Cache-Status"], answer.read()

    def post(self, body):
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}/?box=50x50", data=body)
        with urllib.request.urlopen(request, timeout=60) as answer:
            return answer.status, answer.headers["Server"]

    def served(self, status=200):
        return [len(re.findall(rf"\bGET /photo\.jpg(\?\S*)? {status} ", instance.log()))
                for instance in self.instances]

    def test_balanced_and_cached(self):
        self.start()
        first = [self.fetch(f"box={size}x{size}") for size in range(100, 106)]
        self.assertEqual([(s, c) for s, c, _ in first], [(200, "MISS")] * 6)
        counts = eventually(lambda: sum(self.served()) == 6 and self.served()) or self.served()
        self.assertEqual(sum(counts), 6)
        self.assertTrue(all(count > 0 for count in counts), counts)
        self.assertEqual(self.fetch("box=100x100"), (200, "HIT", first[0][2]))
        time.sleep(0.2)
        self.assertEqual(self.served(), counts)
        # Every answer has an id of its own, hits too, and an instance logs the id of the
        # request it served.
        self.assertEqual(len(set(self.ids)), 7)
        logs = "".join(instance.log() for instance in self.instances)
        self.assertEqual([i for i in self.ids if f" {i}\n" in logs], self.ids[:6])

    def test_one_cached_copy_per_negotiated_format(self):
        self.start()
        cases = [  # Accept, cache status, media type
            ("image/avif,image/webp,image/apng,image/*,*/*;q=0.8", "MISS", "image/avif"),
            ("image/avif,*/*", "HIT", "image/avif"),
            ("image/webp,*/*", "MISS", "image/webp"),
            ("image/avif;q=0,image/webp;q=0.9", "HIT", "image/webp"),
            ("*/*", "MISS", "Image/jpeg"),
            ("image/png,image/*;q=0.8", "HIT", "Image/jpeg"),
        ]
        for accept, cache, media_type in cases:
            with self.subTest(accept=accept):
                request = urllib.request.Request(
                    f"http://127.0.0.1:{self.port}/photo.jpg?box=70x70&format=auto",
                    headers={"Accept": accept})
                with urllib.request.urlopen(request, timeout=60) as answer:
                    self.assertEqual((answer.headers["X-Cache-Status"],
                                      answer.headers["Content-Type"], answer.headers["Vary"]),
                                     (cache, media_type, "Accept"))

    def test_revalidated_once_stale(self):
        self.start(max_age="1")
        status, cache, body = self.fetch("box=90x90")
        self.assertEqual((status, cache), (200, "MISS"))
        self.assertEqual(self.fetch("box=90x90"), (200, "HIT", body))
        time.sleep(2.2)
        # Stale now: nginx asks with the validators, the instance answers 304 without a decode,
        # and the stored picture is served and fresh again.
        self.assertEqual(self.fetch("box=90x90"), (200, "REVALIDATED", body))
        self.assertEqual(self.fetch("box=90x90"), (200, "HIT", body))
        eventually(lambda: sum(self.served(304)) == 1)
        self.assertEqual((sum(self.served(200)), sum(self.served(304))), (1, 1))

    def test_post_retried_on_the_idle_instance(self):
        self.start()
        with open(PHOTO, "rb") as photo:
            body = photo.read()
        # Several large resizes in one request keep the instance busy for about a second even on a
        # fast machine, well past the two POSTs.
        heavy = "&".join(f"resize={3000 + step}x{2000 + step}" for step in range(8))
        busy = threading.Thread(target=lambda: self.instances[0].get(f"/photo.jpg?{heavy}"))
        busy.start()
        time.sleep(0.2)
        # Round robin sends one of the two to the busy instance, whose 503 goes to the other.
        answers = [self.post(body) for _ in range(2)]
        busy.join()
        self.assertEqual(answers, [(200, "nginx")] * 2)
        eventually(lambda: "POST /?box=50x50 503 " in self.instances[0].log())
        self.assertRegex(self.instances[0].log(), r"\bPOST /\?box=50x50 503 ")


if __name__ == "__main__":
    unittest.main()
