"""What an operator sees of `quorvex serve`: the access log in text and JSON with request ids,
/metrics in the Prometheus text format, and /healthz and /readyz."""
import collections
import datetime
import json
import os
import re
import shutil
import socket
import tempfile
import threading
import time
import unittest

from prometheus_client.parser import text_string_to_metric_families

from serving import PHOTO, Server, eventually

TEXT_FIELDS = ("time", "client", "method", "target", "status", "bytes", "ms", "request_id")


def raw_request(port, head):
    """The status and headers of one request sent byte for byte."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as raw:
        raw.sendall(head + b"\r\nHost: x\r\nConnection: close\r\n\r\n")
        answer = b""
        while chunk := raw.recv(65536):
            answer += chunk
    lines = answer.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
    headers = dict(line.split(": ", 1) for line in lines[1:])
    return int(lines[0].split()[1]), headers


def records(server):
    """The log's request lines as dictionaries, in either format."""
    found = []
    for line in server.log().splitlines():
        if line.startswith("{"):
            found.append(json.loads(line))
        elif re.match(r"\d{4}-\d\d-\d\dT", line):
            fields = line.split(" ")
            record = dict(zip(TEXT_FIELDS, fields))
            record.update(status=int(record["status"]), bytes=int(record["bytes"]),
                          ms=float(record["ms"]), cancelled="cancelled" in fields[8:],
                          unsent="unsent" in fields[8:])
            found.append(record)
    return found


class AccessLogTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="quorvex-observability-test-")
        cls.root = os.path.join(cls.scratch, "root")
        os.mkdir(cls.root)
        shutil.copy(PHOTO, os.path.join(cls.root, "photo.jpg"))
        cls.servers = [Server(cls.root, scratch=cls.scratch),
                       Server(cls.root, "--log-format", "json", scratch=cls.scratch)]

    @classmethod
    def tearDownClass(cls):
        for server in cls.servers:
            assert server.stop() == 0
        shutil.rmtree(cls.scratch)

    def test_one_line_per_request(self):
        generated = re.compile(r"^[0-9a-f]{32}$")
        cases = [  # request line, X-Request-Id sent, target logged, status, id logged
            (b"GET /photo.jpg?box=64x64&quality=10", b"req-1", "/photo.jpg?box=64x64&quality=10",
             200, "req-1"),
            (b"GET /photo.jpg?box=64x64", b"0f3c:AB.z_+/=@~x"[:-2], "/photo.jpg?box=64x64", 200,
             "0f3c:AB.z_+/=@"),
            (b"HEAD /photo.jpg", None, "/photo.jpg", 200, generated),
            # Escapes are logged as sent, their '%' escaped; quotes, backslashes and bytes
            # beyond ASCII as %XX, so no field can end early or hold a line break.
            (b'GET /a%20b"\\\xc3\xa9?x=%0a', b"has space", "/a%2520b%22%5C%C3%A9?x=%250a", 400,
             generated),
            (b"GET /photo.jpg?bogus", b"x" * 129, "/photo.jpg?bogus", 400, generated),
            (b"GET /missing.jpg", b"", "/missing.jpg", 404, generated),
        ]
        for server in self.servers:
            before = len(records(server))
            answered = []
            for line, sent, _, _, _ in cases:
                head = line + b" HTTP/1.1" + (b"\r\nX-Request-Id: " + sent if sent is not None
                                              else b"")
                answered.append(raw_request(server.port, head))
            logged = eventually(lambda: records(server)[before:] if len(
                records(server)) >= before + len(cases) else None) or records(server)[before:]
            self.assertEqual(len(logged), len(cases))
            for (line, _, target, status, ident), record, (got, headers) in zip(
                    cases, logged, answered):
                with self.subTest(json=server is self.servers[1], line=line):
                    self.assertEqual(got, status)
                    self.assertEqual((record["method"], record["target"], record["status"],
                                      record["client"]), (line.split()[0].decode(), target,
                                                          status, "127.0.0.1"))
                    self.assertEqual(record["request_id"], headers["X-Request-Id"])
                    if isinstance(ident, str):
                        self.assertEqual(record["request_id"], ident)
                    else:
                        self.assertRegex(record["request_id"], ident)
                    arrived = datetime.datetime.fromisoformat(record["time"])
                    self.assertRegex(record["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
                    self.assertLess(abs(time.time() - arrived.timestamp()), 60)
                    self.assertGreaterEqual(record["ms"], 0)
                    # Body bytes sent: none for HEAD.
                    self.assertEqual(record["bytes"] > 0, line.startswith(b"GET"))
                    self.assertFalse(record["cancelled"] or record["unsent"])
        # Generated ids differ from request to request.
        ids = [r["request_id"] for server in self.servers for r in records(server)]
        self.assertEqual(len(set(i for i in ids if generated.match(i))),
                         sum(1 for i in ids if generated.match(i)))


class MetricsTest(unittest.TestCase):
    def test_metrics_count_what_was_done(self):
        scratch = tempfile.mkdtemp(prefix="quorvex-metrics-test-")
        root = os.path.join(scratch, "root")
        os.mkdir(root)
        shutil.copy(PHOTO, os.path.join(root, "photo.jpg"))
        with open(PHOTO, "rb") as photo:
            upload = photo.read()
        server = Server(root, "--workers", "2", "--max-memory", "300000000", scratch=scratch)
        try:
            _, first, body = server.get("/photo.jpg?box=100x100")
            tag = first["ETag"]
            full = 2560 * 1600
            cases = [  # method, target, headers, status, kind, whole pictures decoded
                ("GET", "/photo.jpg?quality=50&box=100x100", {}, 200, "box", 1),
                ("GET", "/photo.jpg?box=100x100", {"If-None-Match": tag}, 304, "box", 0),
                ("HEAD", "/photo.jpg?gray&rotate=90", {}, 200, "rotate", 1),
                ("GET", "/photo.jpg?quality=50", {}, 200, "none", 1),
                ("POST", "/?scale=10", {}, 200, "scale", 1),
                ("GET", "/missing.jpg?crop=0,0,9,9", {}, 404, "crop", 0),
                ("GET", "/photo.jpg?bogus", {}, 400, "none", 0),
                ("GET", "/photo.jpg?crop=0,0,50,50&scale=1", {}, 422, "crop", 1),
                ("GET", "/healthz", {}, 200, "healthz", 0),
                ("DELETE", "/photo.jpg", {}, 405, "none", 0),
            ]
            expected = collections.Counter({("2xx", "box"): 1})  # the request for the tag
            sent = len(body) + len(server.get("/photo.jpg?box=100x100")[2])
            expected[("2xx", "box")] += 1
            for method, target, headers, status, kind, _ in cases:
                got = server.request(method, target, headers=headers,
                                     body=upload if method == "POST" else None)
                self.assertEqual(got[0], status, target)
                expected[(f"{status // 100}xx", kind)] += 1
                sent += len(got[2])
            # Each request is counted before it is logged.
            eventually(lambda: len(records(server)) == sum(expected.values()))
            # One request at work while the metrics are read: long resizes, well past the read.
            heavy = "&".join(f"resize={3000 + step}x{2000 + step}" for step in range(8))
            busy = threading.Thread(target=lambda: server.get(f"/photo.jpg?{heavy}"))
            busy.start()
            time.sleep(0.3)
            text = server.get("/metrics")[2].decode()
            busy.join()
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(scratch)
        families = {family.name: family for family in text_string_to_metric_families(text)}
        values = {(sample.name, tuple(sorted(sample.labels.items()))): sample.value
                  for family in families.values() for sample in family.samples}

        def value(name, **labels):
            return values[(name, tuple(sorted(labels.items())))]

        self.assertEqual({(s.labels["code"], s.labels["kind"]): s.value
                          for s in families["quorvex_requests"].samples
                          if s.name == "quorvex_requests_total"}, dict(expected))
        requests = sum(expected.values())
        buckets = [s for s in families["quorvex_request_duration_seconds"].samples
                   if s.name.endswith("_bucket")]
        self.assertEqual([s.value for s in buckets], sorted(s.value for s in buckets))
        self.assertEqual((buckets[-1].labels["le"], buckets[-1].value), ("+Inf", requests))
        self.assertEqual(value("quorvex_request_duration_seconds_count"), requests)
        self.assertGreater(value("quorvex_request_duration_seconds_sum"), 0)
        # The box request that got the tag and the one that counted its bytes decode too.
        pictures = sum(case[5] for case in cases) + 2
        self.assertEqual(value("quorvex_decoded_pixels_total"), pictures * full)
        self.assertEqual(value("quorvex_sent_bytes_total"), sent)
        self.assertEqual(families["quorvex_requests_in_flight"].type, "gauge")
        # The long request and the scrape itself; the first holds a worker and its decode's
        # memory, and is counted once it is done.
        self.assertEqual(value("quorvex_requests_in_flight"), 2)
        self.assertEqual((value("quorvex_queue_depth"), value("quorvex_workers_busy"),
                          value("quorvex_workers")), (0, 1, 2))
        self.assertGreater(value("quorvex_memory_reserved_bytes"), full * 3)
        self.assertEqual(value("quorvex_memory_limit_bytes"), 300000000)
        self.assertGreater(value("process_resident_memory_bytes"), 10 << 20)


class ReadinessTest(unittest.TestCase):
    def test_ready_only_while_it_can_work(self):
        scratch = tempfile.mkdtemp(prefix="quorvex-readiness-test-")
        root = os.path.join(scratch, "root")
        os.mkdir(root)
        registry = os.path.join(scratch, "registry")
        server = Server(root, scratch=scratch)
        try:
            with open(registry, "rb") as kept:
                registered = kept.read()

            def unregister():
                with open(registry, "wb") as out:
                    out.write(b"not a registry")

            def register():
                with open(registry, "wb") as out:
                    out.write(registered)

            cases = [  # change, /readyz status and text
                (lambda: None, 200, "ready"),
                (unregister, 503, "the registry does not name Quorvex.Resize"),
                (register, 200, "ready"),
                (lambda: os.rename(root, root + ".gone"), 200, "ready"),  # moved, still there
                (lambda: shutil.rmtree(root + ".gone"), 503, "the root cannot be read"),
                (unregister, 503,
                 "the registry does not name Quorvex.Resize\nthe root cannot be read"),
            ]
            for change, status, text in cases:
                change()
                got = server.get("/readyz")
                self.assertEqual((got[0], got[2].decode()), (status, text))
                # Alive all the same: the host answers.
                self.assertEqual(server.get("/healthz")[:3:2], (200, b"ok"))
        finally:
            self.assertEqual(server.stop(), 0)
            shutil.rmtree(scratch)


if __name__ == "__main__":
    unittest.main()
