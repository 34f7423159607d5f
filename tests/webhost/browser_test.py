"""A headless Chromium shows a page whose pictures come from `quorvex serve`: two solid tiles
made by cropping outside the photo onto a background colour, and a thumbnail of the photo."""
import os
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


class BrowserTest(unittest.TestCase):
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
</body>""")
            shot = os.path.join(scratch, "shot.png")
            subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                            "--hide-scrollbars", "--window-size=400,300",
                            f"--user-data-dir={scratch}/profile", f"--screenshot={shot}",
                            "file://" + page], capture_output=True, timeout=120, check=True)
            thumbnail = os.path.join(scratch, "thumbnail.jpg")
            with open(thumbnail, "wb") as out:
                out.write(server.get("/photo.jpg?box=200x200")[2])
        finally:
            self.assertEqual(server.stop(), 0)
        inside = [(30, 20), (100, 62), (170, 100)]
        seen = pixels(shot, [(50, 50), (170, 50), (300, 50), (300, 200)] +
                      [(x, y + 120) for x, y in inside])
        expected = [(255, 0, 0), (0, 0, 255), (255, 255, 255), (255, 255, 255)] + pixels(
            thumbnail, inside)
        for got, want in zip(seen, expected):
            self.assertTrue(all(abs(a - b) <= 6 for a, b in zip(got, want)), (seen, expected))
        shutil.rmtree(scratch)


if __name__ == "__main__":
    unittest.main()
