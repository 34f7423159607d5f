"""A headless Chromium shows a page whose pictures come from `quorvex serve`: two solid tiles
made by cropping outside the photo onto a background colour, and a thumbnail of the photo as
JPEG, WebP and AVIF; and a
page reloaded gets its pictures again as 304s, without a decode."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from serving import PHOTO, Server


def pixels(png, points):
    """The sRGB triples of ImageMagick's reading of the points of an image."""
    fmt = " ".join(f"%[fx:int(255*p{{{x},{y}}}.r)],%[fx:int(255*p{{{x},{y}}}.g)],"
                   f"%[fx:int(255*p{{{x},{y}}}.b)]" for x, y in points)
    text = subprocess.run(["convert", png, "-format", fmt, "info:"], capture_output=True,
                          check=True).stdout.decode()
    return [tuple(int(c) for c in triple.split(",")) for triple in text.split()]


def chromium(scratch, *arguments):
    return subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                           "--hide-scrollbars", f"--user-data-dir={scratch}/profile", *arguments],
                          capture_output=True, timeout=120, check=True).stdout.decode()


class BrowserTest(unittest.TestCase):
    def test_reloads_are_answered_304(self):
        scratch = tempfile.mkdtemp(prefix="quorvex-browser-test-")
        root = os.path.join(scratch, "root")
        os.mkdir(root)
        shutil.copy(PHOTO, os.path.join(root, "photo.jpg"))
        server = Server(root, scratch=scratch)
        try:
            base = f"http://127.0.0.1:{server.port}/photo.jpg?"
            page = os.path.join(scratch, "page.html")
            with open(page, "w") as html:
                html.write(f"""<!DOCTYPE html><body><script>
const loads = Number(sessionStorage.getItem("loads") || 0) + 1;
sessionStorage.setItem("loads", loads);
addEventListener("load", () => {{
  if (loads < 3) location.reload(); else document.body.dataset.loads = loads;
}});
</script><img src="{base}box=200x200"><img src="{base}box=100x100&gray"></body>""")
            dom = chromium(scratch, "--virtual-time-budget=30000", "--dump-dom", "file://" + page)
            self.assertIn('data-loads="3"', dom)
        finally:
            self.assertEqual(server.stop(), 0)
        statuses = re.findall(r"\bGET /photo\.jpg\S* (\d{3}) ", server.log())
        # The first load decodes both pictures; each reload is told they are current. Headless
        # Chromium now and then loads the page once more than the script counts.
        self.assertEqual(statuses[:2], ["200"] * 2)
        self.assertGreaterEqual(len(statuses), 6)
        self.assertEqual(statuses[2:], ["304"] * (len(statuses) - 2))
        shutil.rmtree(scratch)

    def test_page_shows_the_thumbnails(self):
        scratch = tempfile.mkdtemp(prefix="quorvex-browser-test-")
        root = os.path.join(scratch, "root")
        os.mkdir(root)
        shutil.copy(PHOTO, os.path.join(root, "photo.jpg"))
        server = Server(root, scratch=scratch)
        try:
            base = f"http://127.0.0.1:{server.port}/photo.jpg?"
            tile = "&crop=-300,-300,-200,-200"
            page = os.path.join(scratch, "page.html")
            with open(page, "w") as html:
                html.write(f"""<!DOCTYPE html><body style="margin:0;background:#fff">
<img src="{base}background=0x0000FF{tile}" style="position:absolute;left:0;top:0">
<img src="{base}background=0xFF0000{tile}" style="position:absolute;left:120px;top:0">
<img src="{base}box=200x200" style="position:absolute;left:0;top:120px">
<img src="{base}box=200x200&format=webp" style="position:absolute;left:200px;top:120px">
<img src="{base}box=200x200&format=avif" style="position:absolute;left:400px;top:120px">
</body>""")
            shot = os.path.join(scratch, "shot.png")
            chromium(scratch, "--window-size=600,300", f"--screenshot={shot}", "file://" + page)
            thumbnail = os.path.join(scratch, "thumbnail.jpg")
            with open(thumbnail, "wb") as out:
                out.write(server.get("/photo.jpg?box=200x200")[2])
        finally:
            self.assertEqual(server.stop(), 0)
        inside = [(30, 20), (100, 62), (170, 100)]
        seen = pixels(shot, [(50, 50), (170, 50), (300, 50), (300, 15)] +
                      [(x + left, y + 120) for left in (0, 200, 400) for x, y in inside])
        jpeg = pixels(thumbnail, inside)
        expected = [(255, 0, 0), (0, 0, 255), (255, 255, 255), (255, 255, 255)] + jpeg * 3
        # The JPEG shown as decoded; WebP and AVIF the same picture within their own loss.
        tolerance = [6] * (4 + len(inside)) + [20] * (2 * len(inside))
        for got, want, bound in zip(seen, expected, tolerance):
            self.assertTrue(all(abs(a - b) <= bound for a, b in zip(got, want)), (seen, expected))
        shutil.rmtree(scratch)


if __name__ == "__main__":
    unittest.main()
