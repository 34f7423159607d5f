"""`quorvex serve` against the attacks it must hold: work bounded per request and cancelled when
the client leaves, memory bounded for the host, slow connections, a file swapped under the
root while it is fetched, signals, and the HTTP details an attacker pokes at. Loopback only;
every loop is bounded in count and time."""
import concurrent.futures
import hashlib
import hmac
import http.client
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from serving import PHOTO, TOOL, Server, identify

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench",
                                "hostile"))
import hostile_files  # noqa: E402

# Twenty resizes to the pixel limit and back: minutes of work in one short GET.
CHAIN = "&".join(["resize=7000x7000", "resize=100x100"] * 10)


def raw_request(port, head, source="127.0.0.1", timeout=10):
    """The first bytes of the answer to a request sent as given."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                  source_address=(source, 0)) as raw:
        raw.sendall(head)
        return raw.recv(4096)


def with_orientation(jpeg, orientation):
    """The JPEG with an EXIF block (big-endian TIFF, one entry) giving the orientation."""
    tiff = (b"MM\x00\x2a" + struct.pack(">I", 8) + struct.pack(">H", 1) +
            struct.pack(">HHIHH", 0x0112, 3, 1, orientation, 0) + struct.pack(">I", 0))
    payload = b"Exif\x00\x00" + tiff
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload + jpeg[2:]


class HostileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="quorvex-hostile-test-")
        cls.root = os.path.join(cls.scratch, "root")
        os.makedirs(os.path.join(cls.root, "inside"))
        os.makedirs(os.path.join(cls.scratch, "outside"))
        shutil.copy(PHOTO, os.path.join(cls.root, "photo.jpg"))
        with open(PHOTO, "rb") as photo, open(os.path.join(cls.root, "turned.jpg"), "wb") as out:
            out.write(with_orientation(photo.read(), 6))
        shutil.copy(PHOTO, os.path.join(cls.root, "inside", "p.jpg"))
        # Outside the root, a picture of another size, so that serving it would show.
        subprocess.run(["convert", PHOTO, "-resize", "100x100!",
                        os.path.join(cls.scratch, "outside", "p.jpg")], check=True)
        with open(os.path.join(cls.scratch, "bomb.jpg"), "wb") as bomb:
            bomb.write(hostile_files.progressive_444(cls.scratch, 7000, 7000))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def serve(self, *options):
        server = Server(self.root, *options, scratch=self.scratch)
        self.addCleanup(server.stop)
        return server

    def bomb(self):
        with open(os.path.join(self.scratch, "bomb.jpg"), "rb") as bomb:
            return bomb.read()

    def test_cost_is_bounded_before_any_work(self):
        server = self.serve()
        # The photo is 2560x1600; turned.jpg is the same with EXIF orientation 6, which loads
        # 1600x2560. Sizes that follow from the picture are read from its header.
        cases = [
            ("photo.jpg", CHAIN, 414, "more than 16 operations"),
            ("photo.jpg", "resize=50000000x1", 400,
             "50000000x1 cannot be written: a JPEG side is at most 65500 pixels"),
            ("photo.jpg", "resize=10000x10000", 400,
             "resize: 10000x10000 cannot be made: it has more than 50000000 pixels"),
            ("photo.jpg", "resize=0x65000", 400,
             "resize: 104000x65000 cannot be made: it has more than 50000000 pixels"),
            ("turned.jpg", "resize=0x65000", 400,
             "resize: 40625x65000 cannot be made: it has more than 50000000 pixels"),
            ("turned.jpg", "resize=0x65000&auto-orient=0", 400,
             "resize: 104000x65000 cannot be made: it has more than 50000000 pixels"),
            ("photo.jpg", "scale=3000", 400,
             "scale: 76800x48000 cannot be made: it has more than 50000000 pixels"),
            ("photo.jpg", "resize=6000x6000&rotate=45", 400,
             "rotate: 8485x8485 cannot be made: it has more than 50000000 pixels"),
            ("photo.jpg", "crop=0,0,70000,10", 400,
             "70000x10 cannot be written: a JPEG side is at most 65500 pixels"),
            ("photo.jpg", "resize=20000x10&format=webp", 400,
             "20000x10 cannot be written: a WebP side is at most 16383 pixels"),
            ("photo.jpg", "scale=2000&format=png", 400,
             "scale: 51200x32000 cannot be made: it has more than 50000000 pixels"),
            ("photo.jpg", "resize=65000x10&rotate=90", 200, None),
            ("photo.jpg", "crop=0,0,70000,10&resize=10x10", 200, None),
            ("photo.jpg", "box=70000x70000&scale=1", 200, None),
        ]
        for name, query, status, text in cases:
            with open(os.path.join(self.root, name), "rb") as picture:
                upload = picture.read()
            # An upload refused by its head is not read, and its sender may see the connection
            # reset before the answer: that refusal is tried with GET alone.
            tries = [("GET", f"/{name}?{query}"), ("POST", f"/?{query}")][:1 if status == 414 else 2]
            for method, target in tries:
                with self.subTest(target=target, method=method):
                    started = time.monotonic()
                    got = server.request(method, target, body=upload if method == "POST" else None)
                    self.assertEqual(got[0], status, got[2][:200])
                    if text is None:
                        continue
                    self.assertEqual(got[2].decode(), text)
                    self.assertEqual(got[1]["Content-Type"], "text/plain; charset=utf-8")
                    self.assertLess(time.monotonic() - started, 0.5)

    def test_deadline_cuts_the_work(self):
        server = self.serve("--max-ops", "64", "--timeout", "1")
        started = time.monotonic()
        status, _, body = server.get("/photo.jpg?" + CHAIN)
        self.assertEqual((status, body), (504, b"the request took longer than its time limit"))
        self.assertLess(time.monotonic() - started, 1.5)
        before = server.cpu_seconds()
        time.sleep(0.5)
        self.assertLess(server.cpu_seconds() - before, 0.2)

    def test_work_stops_when_the_client_leaves(self):
        server = self.serve("--max-ops", "64", "--timeout", "60")
        cases = [
            ("transform rows", b"GET /photo.jpg?" + CHAIN.encode() + b" HTTP/1.1\r\nHost: x\r\n\r\n"),
            ("decode", b"POST /?box=10x10 HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n"
             % len(self.bomb()) + self.bomb()),
        ]
        for name, request in cases:
            with self.subTest(name):
                started = server.cpu_seconds()
                with socket.create_connection(("127.0.0.1", server.port)) as raw:
                    raw.sendall(request)
                    # Leave once it is working, however busy the machine is.
                    deadline = time.monotonic() + 20
                    while server.cpu_seconds() - started <= 0.3 and time.monotonic() < deadline:
                        time.sleep(0.05)
                left = server.cpu_seconds()
                self.assertGreater(left - started, 0.1)  # it was working when the client left
                time.sleep(1)
                self.assertLess(server.cpu_seconds() - left, 0.2)
        time.sleep(0.2)
        self.assertEqual(server.log().count(" 504 "), 2, server.log())
        self.assertEqual(server.log().count(" cancelled"), 2)

    def test_memory_stays_under_the_bound(self):
        # Each bomb needs about 440 MiB to decode; two never fit at once.
        bound = 600
        server = self.serve("--max-memory", str(bound * 2**20), "--workers", "8", "--timeout", "5")
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(
                lambda _: server.request("POST", "/?box=10x10", body=self.bomb()), range(8)))
        # One decodes (to its end or its deadline, on a busy machine); the others wait their
        # 2 s for the memory and are sent away.
        statuses = [status for status, _, _ in answers]
        self.assertEqual(set(statuses) - {200, 503, 504}, set(), statuses)
        self.assertGreaterEqual(statuses.count(503), 1, statuses)
        for status, headers, _ in answers:
            if status == 503:
                self.assertEqual(headers["Retry-After"], "1")
        self.assertLess(server.peak_rss_mib(), bound + 100)

    def test_transform_rasters_count_against_the_bound(self):
        # Each request decodes 12 MiB, then holds 103 MiB for its 6000x6000 beside the 12 MiB
        # picture: one fits the bound at a time; four at once would be twice the bound.
        bound = 250
        server = self.serve("--max-memory", str(bound * 2**20), "--workers", "4", "--queue", "4")
        target = "/photo.jpg?resize=6000x6000&resize=100x100"
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            statuses = list(pool.map(lambda _: server.get(target)[0], range(4)))
        self.assertEqual(set(statuses) - {200, 503, 504}, set(), statuses)
        self.assertIn(200, statuses)
        self.assertLess(server.peak_rss_mib(), bound + 60)
        # A chain whose rasters alone exceed the whole bound is refused at once.
        status, _, body = server.get("/photo.jpg?resize=7000x7000&resize=6999x7000")
        self.assertEqual(status, 400)
        self.assertRegex(body.decode(), r"^the transforms need \d+ bytes of memory, more than the "
                                        r"host's 262144000$")

    def test_slow_clients_do_not_delay_others(self):
        server = self.serve("--head-timeout", "2")
        probe = b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n"
        for addresses in (1, 16):
            with self.subTest(addresses=addresses):
                slow = []
                try:
                    for i in range(520):
                        source = "127.0.0.%d" % (10 + i % addresses)
                        raw = socket.create_connection(("127.0.0.1", server.port), timeout=5,
                                                       source_address=(source, 0))
                        raw.sendall(b"GET /photo.jpg HTTP/1.1\r\nHo")
                        slow.append(raw)
                    started = time.monotonic()
                    answer = raw_request(server.port, probe, source="127.0.0.2")
                    self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer)
                    self.assertLess(time.monotonic() - started, 1)
                    # The head deadline closes the slow ones that were let in.
                    slow[0].settimeout(4)
                    try:
                        self.assertEqual(slow[0].recv(100), b"")
                    except ConnectionResetError:
                        pass
                finally:
                    for raw in slow:
                        raw.close()

    def test_a_slow_upload_is_cut(self):
        server = self.serve()
        with socket.create_connection(("127.0.0.1", server.port), timeout=5) as raw:
            raw.sendall(b"POST /?box=10x10 HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n")
            started = time.monotonic()
            cut = None
            while cut is None and time.monotonic() - started < 8:
                try:
                    raw.sendall(b"x" * 10)
                    time.sleep(0.25)
                except OSError:
                    cut = time.monotonic() - started
        self.assertIsNotNone(cut)
        self.assertLess(cut, 4)

    def test_one_open_beneath_the_root(self):
        server = self.serve("--max-source-bytes", str(os.path.getsize(PHOTO)))
        os.mkfifo(os.path.join(self.root, "fifo.jpg"))
        os.symlink(os.path.join(self.scratch, "outside", "p.jpg"), os.path.join(self.root, "out.jpg"))
        large = os.path.join(self.root, "large.jpg")
        with open(PHOTO, "rb") as photo, open(large, "wb") as out:
            out.write(photo.read() + b"\0")
        for target in ["/missing.jpg", "/inside", "/fifo.jpg", "/out.jpg", "/large.jpg",
                       "/inside//p.jpg"]:
            with self.subTest(target=target):
                status, _, body = server.get(target)
                self.assertEqual((status, body), (404, b"not found"))
        self.assertEqual(server.get("/healthz")[0], 200)

        # A folder of the path swapped for links out of the root, and for a FIFO, while it is
        # fetched: only the inside picture or 404, never the outside one, and no worker hangs.
        inside = os.path.join(self.root, "inside")
        parked = os.path.join(self.root, "parked")
        stop = threading.Event()

        def swap():
            i = 0
            while not stop.is_set():
                os.rename(inside, parked)
                if i % 2:
                    os.symlink(os.path.join(self.scratch, "outside"), inside)
                else:
                    os.mkfifo(inside)
                os.unlink(inside)
                os.rename(parked, inside)
                i += 1
                # The real folder stays a moment, so that however slow the host, some fetches
                # find it.
                time.sleep(0.002)

        swapper = threading.Thread(target=swap)
        swapper.start()
        sizes = set()
        fetches = 0
        try:
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and (fetches < 100 or "256x160" not in sizes):
                status, _, body = server.get("/inside/p.jpg?scale=10")
                sizes.add(identify(body, "%wx%h") if status == 200 else status)
                fetches += 1
        finally:
            stop.set()
            swapper.join()
        self.assertIn("256x160", sizes)
        self.assertEqual(sizes - {"256x160", 404}, set())
        self.assertEqual(server.get("/healthz")[0], 200)

    def test_an_unreadable_file_is_not_found(self):
        # Root reads every file: the host then runs as nobody, in a tree nobody may enter.
        runner = (["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
                  if os.geteuid() == 0 else [])
        tree = tempfile.mkdtemp(prefix="quorvex-unreadable-")
        self.addCleanup(shutil.rmtree, tree)
        os.chmod(tree, 0o755)
        root = os.path.join(tree, "root")
        os.mkdir(root, 0o755)
        for name, mode in [("photo.jpg", 0o644), ("secret.jpg", 0o000)]:
            shutil.copy(PHOTO, os.path.join(root, name))
            os.chmod(os.path.join(root, name), mode)
        scratch = os.path.join(tree, "scratch")
        os.mkdir(scratch)
        os.chmod(scratch, 0o777)  # for the registry the host writes
        server = Server(root, scratch=scratch, runner=runner)
        self.addCleanup(server.stop)
        self.assertEqual(server.get("/photo.jpg?scale=5")[0], 200)
        for target in ["/secret.jpg", "/secret.jpg?scale=5", "/missing.jpg"]:
            with self.subTest(target=target):
                self.assertEqual(server.get(target)[:3:2], (404, b"not found"))

    def test_a_stop_refuses_new_connections_at_once(self):
        server = Server(self.root, scratch=self.scratch)
        result = {}
        worker = threading.Thread(
            target=lambda: result.update(answer=server.get("/photo.jpg?resize=3000x2000")))
        worker.start()
        time.sleep(0.3)
        server.process.send_signal(signal.SIGTERM)
        time.sleep(0.2)
        started = time.monotonic()
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", server.port), timeout=5).close()
        self.assertLess(time.monotonic() - started, 0.5)
        self.assertEqual(server.stop(), 0)
        worker.join()
        self.assertEqual(result["answer"][0], 200)

    def test_hangup_reopens_the_log_and_rereads_the_keys(self):
        key_file = os.path.join(self.scratch, "keys")
        log_file = os.path.join(self.scratch, "access.log")
        with open(key_file, "w") as keys:
            keys.write("old key\n")
        server = self.serve("--key-file", key_file, "--access-log", log_file)

        def signed(key):
            text = "/photo.jpg?scale=10"
            return text + "&sig=" + hmac.new(key, text.encode(), hashlib.sha256).hexdigest()

        self.assertEqual(server.get(signed(b"old key"))[0], 200)
        self.assertEqual(server.get(signed(b"new key"))[0], 403)
        os.rename(log_file, log_file + ".1")
        with open(key_file, "w") as keys:
            keys.write("new key\nold key\n")
        result = {}
        in_flight = threading.Thread(
            target=lambda: result.update(answer=server.get(signed(b"old key"))))
        in_flight.start()
        server.process.send_signal(signal.SIGHUP)
        in_flight.join()
        time.sleep(0.2)
        self.assertEqual(result["answer"][0], 200)
        self.assertEqual(server.get(signed(b"new key"))[0], 200)
        self.assertEqual(server.get(signed(b"old key"))[0], 200)
        with open(log_file) as log:
            self.assertRegex(log.read(), r"\bGET /photo\.jpg\?\S+ 200 ")

    def test_http_hygiene(self):
        server = self.serve("--workers", "1", "--queue", "0")
        # The host's answers and the HTTP library's own, alike in type.
        cases = [
            (b"POST /?box=10x10 HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n"
             b"Content-Length: 6\r\n\r\nabcde", b"400", b"malformed or conflicting Content-Length"),
            (b"GET /photo.jpg?" + b"gray&" * 1000 + b" HTTP/1.1\r\nHost: x\r\n\r\n", b"414",
             b"more than 16 operations"),
            (b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\nHost: x\r\n\r\n", b"414",
             b"request target too long"),
            (b"GET / HTTP/1.1\r\nHost: x\r\nX-A: " + b"a" * 70000 + b"\r\n\r\n", b"431",
             b"request header fields too large"),
            (b"GET / HTTP/1.1\r\nHost: x\r\n" + b"X-A: a\r\n" * 10000 + b"\r\n", b"431",
             b"request header fields too large"),
            (b"GET /healthz HTTP/2.5\r\nHost: x\r\n\r\n", b"505", b"HTTP version not supported"),
            (b"GET /healthz HTTP/1.1\r\nHost: x\r\nNo colon\r\n\r\n", b"400",
             b"malformed request"),
            (b"POST /?box=10x10 HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
             b"zz\r\n", b"400", b"malformed request"),
        ]
        for head, status, text in cases:
            with self.subTest(head=head[:40], status=status):
                with socket.create_connection(("127.0.0.1", server.port), timeout=10) as raw:
                    try:
                        raw.sendall(head)
                    except ConnectionResetError:
                        pass  # the library answered before reading all of it
                    raw.settimeout(1)
                    answer = b""
                    try:
                        while len(answer) < 4096:
                            got = raw.recv(4096)
                            if not got:
                                break
                            answer += got
                    except (socket.timeout, ConnectionResetError):
                        pass
                heading, _, body = answer.partition(b"\r\n\r\n")
                self.assertTrue(heading.startswith(b"HTTP/1.1 " + status), answer[:300])
                self.assertIn(b"\r\nContent-Type: text/plain; charset=utf-8", heading)
                self.assertEqual(body, text)
        # Control characters in the method are escaped in the log, like the path.
        raw_request(server.port, b"G\x1bET /x%0a HTTP/1.1\r\nHost: x\r\n\r\n")
        # A 404 keeps the connection open for the next request.
        connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
        for target, status in [("/missing.jpg", 404), ("/photo.jpg?scale=5", 200)]:
            connection.request("GET", target)
            response = connection.getresponse()
            response.read()
            self.assertEqual(response.status, status)
        connection.close()
        # A busy host says when to come back.
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            answers = list(pool.map(lambda _: server.get("/photo.jpg?resize=3000x2000"), range(4)))
        busy = [headers for status, headers, _ in answers if status == 503]
        self.assertTrue(busy)
        self.assertEqual(busy[0]["Retry-After"], "1")
        time.sleep(0.2)
        self.assertIn("G%1BET /x%250a 405", server.log())

    def test_limits_that_cannot_work_are_refused_at_start(self):
        cases = [
            (["--max-pixels", "0"], "quorvex: --max-pixels must be at least 1"),
            (["--max-pixels", "-1"], "quorvex: --max-pixels must be at least 1"),
            (["--max-ops", "0"], "quorvex: --max-ops must be at least 1"),
        ]
        for options, message in cases:
            with self.subTest(options=options):
                run = subprocess.run([TOOL, "serve", "--root", self.root, "--listen",
                                      "127.0.0.1:0", *options], capture_output=True, text=True,
                                     timeout=30)
                self.assertEqual((run.returncode, run.stderr.strip()), (1, message))


if __name__ == "__main__":
    unittest.main()
