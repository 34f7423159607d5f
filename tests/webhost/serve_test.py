"""`quorvex serve` over real HTTP on loopback: operations, headers, errors, limits, signatures,
concurrency and a graceful stop."""
import concurrent.futures
import hashlib
import hmac
import http.client
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from serving import PHOTO, TOOL, Server, identify

KEY = b"test signing key"


class ServeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="quorvex-serve-test-")
        cls.root = os.path.join(cls.scratch, "root")
        os.makedirs(os.path.join(cls.root, "sub"))
        shutil.copy(PHOTO, os.path.join(cls.root, "photo.jpg"))
        shutil.copy(PHOTO, os.path.join(cls.scratch, "secret.jpg"))
        with open(os.path.join(cls.root, "text.jpg"), "w") as text:
            text.write("not a picture")
        os.symlink(os.path.join(cls.scratch, "secret.jpg"), os.path.join(cls.root, "out.jpg"))
        os.symlink("photo.jpg", os.path.join(cls.root, "in.jpg"))
        # The photo as a camera held on its side stores it: upright after a turn to the right.
        subprocess.run(["exiftool", "-q", "-n", "-Orientation=6", "-o",
                        os.path.join(cls.root, "rotated.jpg"), PHOTO], check=True)
        key_file = os.path.join(cls.scratch, "key")
        with open(key_file, "wb") as key:
            key.write(KEY + b"\n")
        cls.server = Server(cls.root, "--workers", "4", "--max-upload", "1000000",
                            scratch=cls.scratch)
        cls.signed = Server(cls.root, "--key-file", key_file, scratch=cls.scratch)
        cls.negotiating = Server(cls.root, "--negotiate", scratch=cls.scratch)

    @classmethod
    def tearDownClass(cls):
        for server in (cls.server, cls.signed, cls.negotiating):
            assert server.stop() == 0
        shutil.rmtree(cls.scratch)

    def image(self, query):
        status, headers, body = self.server.get("/photo.jpg?" + query)
        self.assertEqual(status, 200, body)
        return headers, body

    def test_each_operation(self):
        cases = [
            ("resize=100x50", "%wx%h", "100x50"),
            ("resize=320x0", "%wx%h", "320x200"),
            ("scale=10", "%wx%h", "256x160"),
            ("box=200x200", "%wx%h", "200x125"),
            ("scale=10&rotate=90", "%wx%h", "160x256"),
            ("crop=10,20,74,52", "%wx%h", "64x32"),
            ("scale=10&flip-horizontal", "%wx%h", "256x160"),
            ("scale=10&flip-vertical", "%wx%h", "256x160"),
            ("scale=10&quality=50", "%Q", "50"),
            ("scale=10&dpi=150", "%x", "150"),
            ("scale=10&gray", "%[channels]", "gray"),
            ("background=0x0000FF&crop=-40,-40,-8,-8", "%[pixel:p{16,16}]", "srgb(254,0,0)"),
            ("thumbnail=200x200", "%wx%h", "200x125"),
            ("thumbnail=200x200&rotate=90", "%wx%h", "125x200"),
            ("scale=10", "%[interlace]", "None"),
            ("scale=10&progressive", "%[interlace]", "JPEG"),
            ("progressive&optimize-coding&scale=10", "%[interlace]", "JPEG"),
            ("fill=200x200", "%wx%h", "200x200"),
            ("gravity=attention&fill=100x300&sharpen", "%wx%h", "100x300"),
            ("thumbnail=150x150&fit=cover&sharpen=0.5", "%wx%h", "150x150"),
        ]
        for query, fmt, expected in cases:
            with self.subTest(query=query):
                self.assertEqual(identify(self.image(query)[1], fmt), expected)
        plain = self.image("scale=10")[1]
        self.assertNotEqual(self.image("scale=10&flip-horizontal")[1], plain)
        self.assertNotEqual(self.image("scale=10&flip-vertical")[1], plain)
        # Order matters: the crop is taken before or after the scale.
        self.assertEqual(identify(self.image("crop=0,0,100,100&scale=50")[1], "%wx%h"), "50x50")

    def test_thumbnail_loads_have_the_box_fits_size(self):
        with open(PHOTO, "rb") as photo:
            data = photo.read()
        for box in ["200x200", "64x0", "0x10", "3000x3000", "7x7"]:
            with self.subTest(box=box):
                expected = identify(self.image("box=" + box)[1], "%wx%h")
                self.assertEqual(identify(self.image("thumbnail=" + box)[1], "%wx%h"), expected)
                status, _, body = self.server.request("POST", "/?thumbnail=" + box, body=data)
                self.assertEqual((status, identify(body, "%wx%h")), (200, expected))

    def test_orientation_and_kept_metadata(self):
        cases = [  # query, size, EXIF orientation of the answer (empty without EXIF)
            ("scale=10", "160x256", ""),
            ("scale=10&auto-orient=0", "256x160", ""),
            ("scale=10&auto-orient", "160x256", ""),
            ("auto-orient=1&thumbnail=200x200", "125x200", ""),
            ("thumbnail=200x200&auto-orient=0", "200x125", ""),
            ("scale=10&keep-metadata&auto-orient=0", "256x160", "6"),
            ("scale=10&keep-metadata", "160x256", "1"),
        ]
        for query, size, orientation in cases:
            with self.subTest(query=query):
                status, _, body = self.server.get("/rotated.jpg?" + query)
                self.assertEqual((status, identify(body, "%wx%h")), (200, size), body[:100])
                tag = subprocess.run(["exiftool", "-n", "-s3", "-Orientation", "-"], input=body,
                                     capture_output=True, check=True).stdout.decode().strip()
                self.assertEqual(tag, orientation)
        with open(os.path.join(self.root, "rotated.jpg"), "rb") as rotated:
            status, _, body = self.server.request("POST", "/?auto-orient&thumbnail=200x200",
                                                  body=rotated.read())
        self.assertEqual((status, identify(body, "%wx%h")), (200, "125x200"))

    def test_format_and_negotiation(self):
        browser = "image/avif,image/webp,image/apng,image/*,*/*;q=0.8"
        cases = [  # negotiating host, query, Accept, status, Content-Type, Vary
            (False, "box=50x50", browser, 200, "Image/jpeg", None),
            (False, "box=50x50&format=auto", browser, 200, "image/avif", "Accept"),
            (False, "box=50x50&format=WebP", "image/avif", 200, "image/webp", None),
            (False, "box=50x50&format=png", None, 200, "image/png", None),
            (False, "box=50x50&format=auto&format=webp", browser, 200, "image/webp", None),
            (False, "format=gif", None, 400, "text/plain; charset=utf-8", None),
            (True, "box=50x50", browser, 200, "image/avif", "Accept"),
            (True, "box=50x50", "image/webp,image/*;q=0.8", 200, "image/webp", "Accept"),
            (True, "box=50x50", "image/avif;q=0, image/webp;q=0.5", 200, "image/webp", "Accept"),
            (True, "box=50x50", "image/png,image/*;q=0.8,*/*;q=0.5", 200, "Image/jpeg", "Accept"),
            (True, "box=50x50", None, 200, "Image/jpeg", "Accept"),
            (True, "box=50x50&format=jpeg", browser, 200, "Image/jpeg", None),
        ]
        magic = {"image/avif": (4, b"ftypavif"), "image/webp": (8, b"WEBP"),
                 "image/png": (0, b"\x89PNG"), "Image/jpeg": (0, b"\xff\xd8")}
        for negotiating, query, accept, status, content_type, vary in cases:
            with self.subTest(negotiating=negotiating, query=query, accept=accept):
                server = self.negotiating if negotiating else self.server
                answer, headers, body = server.request(
                    "GET", "/photo.jpg?" + query, headers={"Accept": accept} if accept else {})
                self.assertEqual((answer, headers["Content-Type"], headers.get("Vary")),
                                 (status, content_type, vary), body[:100])
                if content_type in magic:
                    at, expected = magic[content_type]
                    self.assertEqual(body[at:at + len(expected)], expected)
        # A negotiated answer's tag names its format: a cache never serves one for the other.
        tags = {self.negotiating.request("GET", "/photo.jpg?box=50x50",
                                         headers={"Accept": accept})[1]["ETag"]
                for accept in (browser, "*/*")}
        self.assertEqual(len(tags), 2)
        status, _, body = self.server.get("/photo.jpg?format=gif")
        self.assertEqual(body.decode(), "format: expected jpeg, webp, avif, png or auto, not 'gif'")

    def test_optimized_coding_is_smaller_with_the_same_pixels(self):
        def pixels(data):
            return subprocess.run(["djpeg", "-ppm"], input=data, capture_output=True,
                                  check=True).stdout

        plain = self.image("scale=10")[1]
        optimized = self.image("scale=10&optimize-coding")[1]
        self.assertEqual(pixels(optimized), pixels(plain))
        self.assertLess(len(optimized), len(plain))

    def test_headers_of_an_image(self):
        headers, body = self.image("box=200x200")
        self.assertEqual(headers["Content-Type"], "Image/jpeg")
        self.assertEqual(headers["Expires"], headers["Date"])
        self.assertEqual(headers["Cache-Control"], "no-cache")
        self.assertEqual(int(headers["Content-Length"]), len(body))
        self.assertEqual(body[:2], b"\xff\xd8")

    def test_upload(self):
        with open(PHOTO, "rb") as photo:
            data = photo.read()
        status, _, body = self.server.request("POST", "/?box=100x100", body=data)
        self.assertEqual((status, identify(body, "%wx%h")), (200, "100x62"))

    def test_error_statuses(self):
        cases = [
            ("GET", "/photo.jpg?bogus=1", 400, "unknown operation 'bogus'"),
            ("GET", "/photo.jpg?resize=10", 400, "resize: expected WIDTHxHEIGHT, like 200x200, not '10'"),
            ("GET", "/photo.jpg?crop=1,2,3", 400, "crop: expected X1,Y1,X2,Y2, like 0,0,100,50, not '1,2,3'"),
            ("GET", "/photo.jpg?quality=0x10", 400, "quality: expected a whole number, like 80, not '0x10'"),
            ("GET", "/photo.jpg?gray=1", 400, "gray: takes no value"),
            ("GET", "/photo.jpg?progressive=1", 400, "progressive: takes no value"),
            ("GET", "/photo.jpg?thumbnail=10", 400, "thumbnail: expected WIDTHxHEIGHT, like 200x200, not '10'"),
            ("GET", "/photo.jpg?thumbnail=9x9&thumbnail=8x8", 400,
             "thumbnail given more than once"),
            ("GET", "/photo.jpg?fill=10", 400, "fill: expected WIDTHxHEIGHT, like 200x200, not '10'"),
            ("GET", "/photo.jpg?sharpen=-1", 400, "sharpen: expected a number of 0 or more, like 1, not '-1'"),
            ("GET", "/photo.jpg?gravity=up&fill=9x9", 422, "Unsupported gravity."),
            ("GET", "/photo.jpg?fit=tile", 422, "Unsupported fit."),
            ("GET", "/missing.jpg", 404, "not found"),
            ("GET", "/sub", 404, "not found"),
            ("PUT", "/photo.jpg", 405, "method not allowed"),
            ("DELETE", "/photo.jpg", 405, "method not allowed"),
            ("GET", "/text.jpg", 422, "Invalid file."),
            ("GET", "/photo.jpg?crop=0,0,50,50&scale=1", 422, "Division by zero"),
            ("POST", "/?box=10x10", 422, "VariantIn has failed to read an image."),
        ]
        for method, target, status, text in cases:
            with self.subTest(target=target, method=method):
                got = self.server.request(method, target, body=b"x" if method == "POST" else None)
                self.assertEqual((got[0], got[2].decode()), (status, text))
                self.assertEqual(got[1]["Content-Type"], "text/plain; charset=utf-8")

    def test_paths_cannot_leave_the_root(self):
        for target in ["/../secret.jpg", "/%2e%2e/secret.jpg", "/sub/%2E%2E/%2e%2e/secret.jpg",
                       "/%2e%2e%2fsecret.jpg", "/." + self.scratch + "/secret.jpg",
                       "//" + self.scratch.lstrip("/") + "/secret.jpg", "/out.jpg",
                       "/./photo.jpg"]:
            with self.subTest(target=target):
                self.assertEqual(self.server.get(target)[0], 404)
        self.assertEqual(self.server.get("/in.jpg?scale=10")[0], 200)

    def test_upload_over_the_limit(self):
        def send(head, body=b""):
            with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as raw:
                try:
                    raw.sendall(b"POST / HTTP/1.1\r\nHost: x\r\n" + head + b"\r\n" + body)
                    return raw.recv(1000)
                except ConnectionResetError:
                    return b""

        # Refused from the declared length alone, before any of the body is read.
        for length in [b"1000001", b"99999999999"]:
            with self.subTest(length=length):
                answer = send(b"Content-Length: " + length + b"\r\n")
                self.assertTrue(answer.startswith(b"HTTP/1.1 413"), answer)
                self.assertTrue(answer.endswith(b"upload larger than 1000000 bytes"), answer)
        # Without a declared length the connection is dropped once the body passes the limit.
        chunk = b"%x\r\n" % 1_000_001 + b"\xff" * 1_000_001 + b"\r\n0\r\n\r\n"
        self.assertEqual(send(b"Transfer-Encoding: chunked\r\n", chunk), b"")

    def test_signatures(self):
        def sign(text):
            return hmac.new(KEY, text.encode(), hashlib.sha256).hexdigest()

        good = sign("/photo.jpg?scale=10&gray")
        later = int(time.time()) + 600
        fresh = "/photo.jpg?expires=%d&scale=10" % later
        stale = "/photo.jpg?expires=%d&scale=10" % (later - 1200)
        # Only the target exactly as signed passes; every other spelling of it fails.
        cases = [
            ("/photo.jpg?scale=10&gray&sig=" + good, 200, None),
            (fresh + "&sig=" + sign(fresh), 200, None),
            ("/photo.jpg?sig=" + sign("/photo.jpg"), 200, None),
            ("/photo.jpg?sig=" + good + "&scale=10&gray", 403, None),
            ("/photo.jpg?gray&scale=10&sig=" + good, 403, None),
            ("/photo.jpg?scale=10&gray&sig=" + good.upper(), 403, None),
            ("/photo.jpg?scale=10&gray&sig=" + sign("/photo.jpg?scale=10"), 403, None),
            ("/photo.jpg?scale=10&gray", 403, None),
            ("/%70hoto.jpg?scale=10&gray&sig=" + good, 403, None),
            ("/photo.jpg?%73cale=10&gray&sig=" + good, 403, None),
            ("/photo.jpg?scale=10%00junk&gray&sig=" + good, 400, None),
            ("/photo.jpg?scale=10&gray&sig=" + good + "&sig=" + good, 403, None),
            ("/photo.jpg?scale=10&gray&%73ig=" + good, 403, None),
            ("/photo.jpg?scale=10%26gray&sig=" + good, 403, None),
            (stale + "&sig=" + sign(stale), 403, b"signature expired"),
            (fresh + "&sig=" + sign(fresh) + "&expires=1", 403, None),
        ]
        for target, status, text in cases:
            with self.subTest(target=target):
                got = self.signed.get(target)
                self.assertEqual(got[0], status)
                if text is not None:
                    self.assertEqual(got[2], text)

    def test_32_concurrent_requests(self):
        expected = self.image("box=120x120")[1]
        with concurrent.futures.ThreadPoolExecutor(32) as pool:
            results = list(pool.map(lambda _: self.server.get("/photo.jpg?box=120x120"),
                                    range(32)))
        self.assertEqual([(s, b) for s, _, b in results], [(200, expected)] * 32)

    def test_listening_on_names_and_several_addresses(self):
        resolved = []
        for *_, address in socket.getaddrinfo("localhost", 0, 0, socket.SOCK_STREAM):
            if address[0] not in resolved:
                resolved.append(address[0])
        server = Server(self.root, "--listen", "[::1]:0", "--listen", "localhost:0",
                        scratch=self.scratch)
        try:
            lines = [server.first_line] + [server.process.stdout.readline().decode()
                                           for _ in range(1 + len(resolved))]
            hosts = [re.match(r"listening on http://\[?([^\]]*)\]?:(\d+)/$", line.strip())
                     .groups() for line in lines]
            self.assertEqual([host for host, _ in hosts], ["127.0.0.1", "::1"] + resolved)
            # Every address of one name listens on one port.
            self.assertEqual(len({port for _, port in hosts[2:]}), 1)
            for host, port in hosts:
                with self.subTest(host=host):
                    connection = http.client.HTTPConnection(host, int(port), timeout=30)
                    connection.request("GET", "/photo.jpg?scale=5")
                    self.assertEqual(connection.getresponse().status, 200)
                    connection.close()
            time.sleep(0.2)
            clients = re.findall(r"^\S+ (\S+) GET /photo\.jpg", server.log(), re.M)
            self.assertEqual(clients, [host for host, _ in hosts])
        finally:
            self.assertEqual(server.stop(), 0)
        for bad in ["nowhere.invalid:0", "127.0.0.1:http"]:
            with self.subTest(listen=bad):
                run = subprocess.run([TOOL, "serve", "--root", self.root, "--listen", bad],
                                     capture_output=True, timeout=60)
                self.assertNotEqual(run.returncode, 0)

    def test_cors(self):
        named = Server(self.root, "--cors", "https://a.example", "--cors", "https://b.example",
                       scratch=self.scratch)
        anyone = Server(self.root, "--cors", "*", scratch=self.scratch)
        preflight = {"Access-Control-Request-Method": "GET"}
        cases = [  # server, method, Origin, status, Access-Control-Allow-Origin, Vary
            (named, "GET", "https://a.example", 200, "https://a.example", "Origin"),
            (named, "GET", "https://b.example", 200, "https://b.example", "Origin"),
            (named, "GET", "https://c.example", 200, None, "Origin"),
            (named, "GET", None, 200, None, "Origin"),
            (named, "OPTIONS", "https://a.example", 204, "https://a.example", "Origin"),
            (named, "OPTIONS", "https://c.example", 204, None, "Origin"),
            (anyone, "GET", "https://c.example", 200, "*", None),
            (anyone, "OPTIONS", "https://c.example", 204, "*", None),
            (self.server, "GET", "https://a.example", 200, None, None),
            (self.server, "OPTIONS", "https://a.example", 405, None, None),
        ]
        try:
            for server, method, origin, status, allowed, vary in cases:
                with self.subTest(method=method, origin=origin, cors=server.first_line):
                    headers = dict(preflight if method == "OPTIONS" else {},
                                   **({"Origin": origin} if origin else {}))
                    got, answer, _ = server.request(method, "/photo.jpg?scale=5",
                                                    headers=headers)
                    self.assertEqual((got, answer.get("Access-Control-Allow-Origin"),
                                      answer.get("Vary")), (status, allowed, vary))
                    if allowed and method == "GET":
                        self.assertEqual(answer["Access-Control-Expose-Headers"],
                                         "ETag, X-Request-Id")
                    if allowed and method == "OPTIONS":
                        self.assertEqual(answer["Access-Control-Allow-Methods"], "GET, HEAD, POST")
                        self.assertIn("If-None-Match", answer["Access-Control-Allow-Headers"])
        finally:
            for server in (named, anyone):
                self.assertEqual(server.stop(), 0)

    def test_pixel_limit(self):
        with open(PHOTO, "rb") as photo:
            data = photo.read()
        # The photo has 4096000 pixels.
        cases = [
            ("4095999", "GET", "/photo.jpg?box=10x10", 422, b"Invalid file."),
            ("4095999", "GET", "/photo.jpg?thumbnail=10x10", 422, b"Invalid file."),
            ("4095999", "POST", "/?box=10x10", 422, b"VariantIn has failed to read an image."),
            ("4096000", "GET", "/photo.jpg?box=10x10", 200, None),
            ("4096000", "GET", "/photo.jpg?resize=3000x2000", 400,
             b"resize: 3000x2000 cannot be made: it has more than 4096000 pixels"),
            ("4096000", "GET", "/photo.jpg?scale=200", 400,
             b"scale: 5120x3200 cannot be made: it has more than 4096000 pixels"),
        ]
        servers = {}
        try:
            for limit, method, target, status, text in cases:
                with self.subTest(limit=limit, target=target):
                    if limit not in servers:
                        servers[limit] = Server(self.root, "--max-pixels", limit,
                                                scratch=self.scratch)
                    got = servers[limit].request(method, target,
                                                 body=data if method == "POST" else None)
                    self.assertEqual(got[0], status)
                    if text is not None:
                        self.assertEqual(got[2], text)
        finally:
            for server in servers.values():
                self.assertEqual(server.stop(), 0)
        self.assertEqual(self.server.get("/photo.jpg?box=10x10")[0], 200)

    def test_busy_workers_and_full_queue(self):
        busy = Server(self.root, "--workers", "1", "--queue", "0", scratch=self.scratch)
        try:
            with concurrent.futures.ThreadPoolExecutor(6) as pool:
                statuses = sorted(s for s, _, _ in pool.map(
                    lambda _: busy.get("/photo.jpg?resize=3000x2000"), range(6)))
            self.assertEqual(statuses[0], 200)
            self.assertEqual(statuses[-1], 503)
        finally:
            self.assertEqual(busy.stop(), 0)

    def test_graceful_stop(self):
        server = Server(self.root, scratch=self.scratch)
        result = {}
        worker = threading.Thread(
            target=lambda: result.update(answer=server.get("/photo.jpg?resize=3000x2000")))
        worker.start()
        time.sleep(0.3)
        self.assertEqual(server.stop(), 0)
        worker.join()
        status, headers, body = result["answer"]
        self.assertEqual((status, len(body)), (200, int(headers["Content-Length"])))
        self.assertEqual(identify(body, "%wx%h"), "3000x2000")
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", server.port), timeout=2).close()


if __name__ == "__main__":
    unittest.main()
