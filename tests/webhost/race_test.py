"""Every kind of request at once, clients that leave mid-work, reloads under load and a stop with
requests in flight: the host's shared state from many threads. Meant for the ThreadSanitizer
build, where a race ends the host with a report in its log; no timing is asserted."""
import concurrent.futures
import os
import re
import shutil
import signal
import socket
import tempfile
import threading
import time
import unittest

from serving import PHOTO, Server, eventually

CLIENTS = 8
ROUNDS = 3


class RaceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="quorvex-race-test-")
        cls.root = os.path.join(cls.scratch, "root")
        os.makedirs(cls.root)
        shutil.copy(PHOTO, os.path.join(cls.root, "photo.jpg"))
        with open(PHOTO, "rb") as photo:
            cls.photo = photo.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def serve(self, *options):
        server = Server(self.root, "--access-log", os.path.join(self.scratch, "access.log"),
                        *options, scratch=self.scratch)
        self.addCleanup(lambda: server.process.poll() is None and server.stop())
        return server

    def assertCleanStop(self, server):
        status = server.stop()
        log = server.log()
        self.assertNotIn("ThreadSanitizer", log, log)
        self.assertEqual(status, 0, log)

    def leave_early(self, server, request):
        """Sends a request and closes the connection before the answer."""
        with socket.create_connection(("127.0.0.1", server.port), timeout=30) as raw:
            raw.sendall(request)
            time.sleep(0.05)
        return "left"

    def test_every_kind_at_once_with_clients_leaving_and_reloads(self):
        server = self.serve("--workers", "3", "--queue", "64", "--timeout", "30")
        first = server.get("/photo.jpg?box=120x120")
        self.assertEqual(first[0], 200)
        tag = first[1]["ETag"]
        post = b"POST /?box=64x64 HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % len(
            self.photo) + self.photo
        kinds = {
            "thumbnail": lambda: server.get("/photo.jpg?thumbnail=80x80")[0],
            "resize": lambda: server.get("/photo.jpg?box=120x120")[0],
            "upload": lambda: server.request("POST", "/?box=64x64", body=self.photo)[0],
            "revalidation": lambda: server.request("GET", "/photo.jpg?box=120x120",
                                                   headers={"If-None-Match": tag})[0],
            "metrics": lambda: server.get("/metrics")[0],
            "health": lambda: server.get("/healthz")[0],
            "readiness": lambda: server.get("/readyz")[0],
            "missing": lambda: server.get("/nothing.jpg?box=10x10")[0],
            "left during a resize": lambda: self.leave_early(
                server, b"GET /photo.jpg?resize=3000x2000 HTTP/1.1\r\nHost: x\r\n\r\n"),
            "left during an upload": lambda: self.leave_early(server, post[:len(post) // 2]),
        }
        expected = {"thumbnail": {200}, "resize": {200}, "upload": {200}, "revalidation": {304},
                    "metrics": {200}, "health": {200}, "readiness": {200, 503},
                    "missing": {404}, "left during a resize": {"left"},
                    "left during an upload": {"left"}}
        stop = threading.Event()

        def reload():
            while not stop.is_set():
                server.process.send_signal(signal.SIGHUP)
                time.sleep(0.2)

        reloader = threading.Thread(target=reload)
        reloader.start()
        try:
            jobs = [name for name in kinds for _ in range(ROUNDS)]
            with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
                results = list(pool.map(lambda name: (name, kinds[name]()), jobs))
        finally:
            stop.set()
            reloader.join()
        for name, result in results:
            with self.subTest(name):
                self.assertIn(result, expected[name])
        self.assertEqual(server.get("/healthz")[0], 200)
        self.assertCleanStop(server)

    def test_a_stop_drains_requests_in_flight(self):
        server = self.serve("--workers", "2", "--timeout", "300")
        answers = []
        clients = [threading.Thread(target=lambda: answers.append(
            server.get("/photo.jpg?resize=6000x3750&resize=6400x4000&box=1000x1000")[0])) for _ in range(3)]
        for client in clients:
            client.start()

        def all_in():  # the three, and the metrics request that asks
            metrics = server.get("/metrics")[2].decode()
            line = re.search(r"^quorvex_requests_in_flight (\d+)$", metrics, re.M)
            return int(line.group(1)) >= len(clients) + 1

        self.assertTrue(eventually(all_in, timeout=60))
        self.assertCleanStop(server)
        for client in clients:
            client.join()
        self.assertEqual(answers, [200] * len(clients))

if __name__ == "__main__":
    unittest.main()
