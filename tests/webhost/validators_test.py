"""Validators and freshness of `quorvex serve`'s answers: entity tags that change exactly when the
bytes would, conditional GET and HEAD answered 304 without a decode, HEAD as GET without the
body, and the lifetime --max-age gives."""
import email.utils
import os
import shutil
import socket
import tempfile
import threading
import time
import unittest

from serving import PHOTO, Server


def http_date(seconds, form="imf"):
    if form == "imf":
        return email.utils.formatdate(seconds, usegmt=True)
    moment = time.gmtime(seconds)
    if form == "rfc850":
        return time.strftime("%A, %d-%b-%y %H:%M:%S GMT", moment)
    return time.strftime("%a %b %e %H:%M:%S %Y", moment)


def seconds(text):
    return email.utils.parsedate_to_datetime(text).timestamp()


class ValidatorsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="quorvex-validators-test-")
        cls.root = os.path.join(cls.scratch, "root")
        os.mkdir(cls.root)
        for name in ("photo.jpg", "copy.jpg", "changing.jpg"):
            shutil.copy(PHOTO, os.path.join(cls.root, name))
        cls.server = Server(cls.root, scratch=cls.scratch)
        cls.kept = Server(cls.root, "--max-age", "600", scratch=cls.scratch)

    @classmethod
    def tearDownClass(cls):
        for server in (cls.server, cls.kept):
            assert server.stop() == 0
        shutil.rmtree(cls.scratch)

    def etag(self, target, server=None):
        status, headers, _ = (server or self.server).get(target)
        self.assertEqual(status, 200)
        return headers["ETag"]

    def test_tags_follow_what_makes_the_bytes(self):
        tag = self.etag("/photo.jpg?box=100x100")
        self.assertRegex(tag, r'^"[0-9a-f]{32}"$')
        cases = [  # target, same tag as /photo.jpg?box=100x100
            ("/photo.jpg?box=100x100", True),
            ("/photo.jpg?%62ox=100%78100", True),  # another spelling of the same request
            ("/%70hoto.jpg?box=100x100", True),
            ("/photo.jpg?box=100x101", False),
            ("/photo.jpg?box=100x100&gray", False),
            ("/photo.jpg?gray&box=100x100", False),
            ("/photo.jpg", False),
            ("/copy.jpg?box=100x100", False),  # same bytes, another file
        ]
        for target, same in cases:
            with self.subTest(target=target):
                self.assertEqual(self.etag(target) == tag, same)
        # Freshness is no part of the bytes.
        self.assertEqual(self.etag("/photo.jpg?box=100x100", self.kept), tag)

    def test_a_changed_file_changes_the_tag(self):
        path = os.path.join(self.root, "changing.jpg")
        target = "/changing.jpg?box=64x64"
        first = self.etag(target)
        stat = os.stat(path)
        changes = [  # each a new version of the file
            lambda: os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns + 1)),
            lambda: open(path, "ab").close() or os.truncate(path, stat.st_size - 1),
            lambda: os.replace(shutil.copy(PHOTO, path + ".new"), path),
        ]
        seen = [first]
        for change in changes:
            change()
            tag = self.etag(target)
            self.assertNotIn(tag, seen)
            status, _, _ = self.server.request("GET", target, headers={"If-None-Match": seen[-1]})
            self.assertEqual(status, 200)
            seen.append(tag)

    def test_conditional_requests(self):
        target = "/photo.jpg?box=120x120"
        status, full, body = self.server.get(target)
        tag, modified = full["ETag"], seconds(full["Last-Modified"])
        self.assertEqual(status, 200)
        self.assertLessEqual(modified, seconds(full["Date"]))
        cases = [  # headers, status
            ({"If-None-Match": tag}, 304),
            ({"If-None-Match": "W/" + tag}, 304),
            ({"If-None-Match": '"other", ' + tag}, 304),
            ({"If-None-Match": "*"}, 304),
            ({"If-None-Match": '"other"'}, 200),
            ({"If-None-Match": tag[:-2] + '"'}, 200),
            # A tag that does not match wins over a date that would.
            ({"If-None-Match": '"other"', "If-Modified-Since": http_date(modified + 60)}, 200),
            ({"If-Modified-Since": http_date(modified)}, 304),
            ({"If-Modified-Since": http_date(modified, "rfc850")}, 304),
            ({"If-Modified-Since": http_date(modified, "asctime")}, 304),
            ({"If-Modified-Since": http_date(modified - 1)}, 200),
            ({"If-Modified-Since": "yesterday"}, 200),
            ({}, 200),
        ]
        for method in ("GET", "HEAD"):
            for headers, expected in cases:
                with self.subTest(method=method, headers=headers):
                    status, got, content = self.server.request(method, target, headers=headers)
                    self.assertEqual(status, expected)
                    self.assertEqual((got["ETag"], got["Last-Modified"]),
                                     (tag, full["Last-Modified"]))
                    self.assertEqual(got["Cache-Control"], "no-cache")
                    self.assertEqual(got["Expires"], got["Date"])
                    self.assertEqual(content, body if (method, status) == ("GET", 200) else b"")
                    if status == 200:
                        self.assertEqual(got["Content-Type"], "Image/jpeg")
                        self.assertEqual(int(got["Content-Length"]), len(body))

    def test_no_validators_where_the_bytes_are_not_a_files(self):
        with open(PHOTO, "rb") as photo:
            data = photo.read()
        status, headers, _ = self.server.request("POST", "/?box=50x50", body=data,
                                                 headers={"If-None-Match": "*"})
        self.assertEqual(status, 200)
        self.assertNotIn("ETag", headers)
        self.assertNotIn("Last-Modified", headers)
        for method, target, expected in [("GET", "/missing.jpg", 404),
                                         ("HEAD", "/missing.jpg", 404),
                                         ("GET", "/photo.jpg?bogus", 400),
                                         ("HEAD", "/photo.jpg?crop=0,0,50,50&scale=1", 422)]:
            with self.subTest(method=method, target=target):
                status, headers, body = self.server.request(method, target)
                self.assertEqual(status, expected)
                self.assertNotIn("ETag", headers)
                self.assertEqual(body == b"", method == "HEAD")
        status, headers, _ = self.server.request("PUT", "/photo.jpg")
        self.assertEqual((status, headers["Allow"]), (405, "GET, HEAD, POST"))

    def test_max_age(self):
        for headers in ({}, {"If-None-Match": self.etag("/photo.jpg?scale=10", self.kept)}):
            with self.subTest(conditional=bool(headers)):
                status, got, _ = self.kept.request("GET", "/photo.jpg?scale=10", headers=headers)
                self.assertEqual(status, 304 if headers else 200)
                self.assertEqual(got["Cache-Control"], "public, max-age=600")
                self.assertEqual(seconds(got["Expires"]) - seconds(got["Date"]), 600)
        # The host's own answers are not images and keep no lifetime.
        status, got, _ = self.kept.get("/missing.jpg")
        self.assertEqual(status, 404)
        self.assertNotIn("Cache-Control", got)

    def test_a_304_states_the_length_of_the_full_answer_or_none(self):
        def conditional(server, tag):
            """The head of a conditional GET's answer, and whether the connection stayed open."""
            with socket.create_connection(("127.0.0.1", server.port), timeout=5) as raw:
                raw.sendall(b"GET /photo.jpg?box=90x90 HTTP/1.1\r\nHost: x\r\n"
                            b"If-None-Match: " + tag.encode() + b"\r\n\r\n")
                raw.settimeout(1)
                answer = b""
                try:
                    while b"\r\n\r\n" not in answer or raw.recv(1, socket.MSG_PEEK):
                        got = raw.recv(4096)
                        if not got:
                            return answer, False
                        answer += got
                except socket.timeout:
                    return answer, True
            return answer, False

        fresh = Server(self.root, scratch=self.scratch)
        try:
            status, headers, body = self.server.get("/photo.jpg?box=90x90")
            tag = headers["ETag"]
            # The host that gave the full answer states its length, and keeps the connection.
            answer, open_after = conditional(self.server, tag)
            self.assertTrue(answer.startswith(b"HTTP/1.1 304 "), answer)
            self.assertIn(b"\r\nContent-Length: %d\r\n" % len(body), answer)
            self.assertTrue(open_after)
            # One that never gave it states no length, which it ends by closing.
            answer, open_after = conditional(fresh, tag)
            self.assertTrue(answer.startswith(b"HTTP/1.1 304 "), answer)
            self.assertNotIn(b"Content-Length", answer)
            self.assertNotIn(b"Transfer-Encoding", answer)
            self.assertFalse(open_after)
        finally:
            self.assertEqual(fresh.stop(), 0)

    def test_a_304_needs_no_worker(self):
        busy = Server(self.root, "--workers", "1", "--queue", "0", scratch=self.scratch)
        try:
            tag = self.etag("/photo.jpg?box=80x80", busy)
            heavy = "&".join(f"resize={3000 + step}x{2000 + step}" for step in range(8))
            # The worker that made the tag's answer may still be finishing after its client has
            # read it: the long request must not find it busy.
            for _ in range(200):
                if b"\nquorvex_workers_busy 0\n" in busy.get("/metrics")[2]:
                    break
                time.sleep(0.02)
            worker = threading.Thread(target=lambda: busy.get(f"/photo.jpg?{heavy}"))
            worker.start()
            # Asking the metrics, which need no worker, until the long request holds the only
            # one: then a full answer finds none, a current copy needs none.
            for _ in range(200):
                if b"\nquorvex_workers_busy 1\n" in busy.get("/metrics")[2]:
                    break
                time.sleep(0.02)
            self.assertEqual(busy.get("/photo.jpg?box=80x80")[0], 503)
            self.assertEqual(busy.request("GET", "/photo.jpg?box=80x80",
                                          headers={"If-None-Match": tag})[0], 304)
            self.assertEqual(busy.request("HEAD", "/photo.jpg?box=80x80",
                                          headers={"If-None-Match": tag})[0], 304)
            worker.join()
        finally:
            self.assertEqual(busy.stop(), 0)


if __name__ == "__main__":
    unittest.main()
