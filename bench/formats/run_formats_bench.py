#!/usr/bin/python3
"""Bytes and encode time of the Resize object's JPEG, WebP and AVIF output next to cwebp, avifenc
and sharp, in one run, on 20 camera photos fitted into 400x400.

  /usr/bin/python3 bench/formats/run_formats_bench.py --build build/bench [--sharp DIR] [--rounds 5]

The photos are the JPEGs of Debian's forensics-samples and wallpaper packages (at least 1000
pixels on each side), fitted with Pillow and stored as quality 100 4:4:4 JPEGs; the object loads
them and writes the pixels it encodes as the reference. Quality is SSIM (scikit-image, RGB, its
default 7x7 window) against that reference, decoded by djpeg, dwebp and avifdec. The anchors get
the settings the object's mapping gives: cwebp -q W -m 4; avifenc --min Q --max Q -s 6 -y 420;
sharp webp({quality: W, effort: 4}) and avif({quality: 100 - 100 Q / 63, effort: 3, 4:2:0}).
Times are CPU seconds per image, medians: the object's and sharp's count the encode alone,
cwebp's is its own "Time to encode picture", avifenc's the whole process (reading a 400x400 PNG
is a few milliseconds of it). DIR holds node_modules/sharp."""
import argparse
import glob
import hashlib
import json
import os
import resource
import statistics
import subprocess
import tempfile

import numpy as np
from PIL import Image
from skimage.metrics import structural_similarity

HERE = os.path.dirname(os.path.abspath(__file__))
COUNT = 20
QUALITIES = [60, 80, 90]
SHARP_SCRIPT = r"""
const sharp = require('sharp');
sharp.concurrency(1);
const [file, kind, quality, effort, rounds] = process.argv.slice(1);
(async () => {
  const {data, info} = await sharp(file).raw().toBuffer({resolveWithObject: true});
  const times = [];
  let out;
  for (let i = 0; i < Number(rounds); i++) {
    const start = process.cpuUsage();
    const pipe = sharp(data, {raw: {width: info.width, height: info.height, channels: info.channels}});
    out = await (kind === 'webp'
      ? pipe.webp({quality: Number(quality), effort: Number(effort)})
      : pipe.avif({quality: Number(quality), effort: Number(effort), chromaSubsampling: '4:2:0'})).toBuffer();
    const used = process.cpuUsage(start);
    times.push((used.user + used.system) / 1e6);
  }
  times.sort((a, b) => a - b);
  console.log(JSON.stringify({seconds: times[Math.floor(times.length / 2)], bytes: out.length}));
})();
"""


def photos():
    found, seen = [], set()
    patterns = ["/usr/share/forensics-samples/**/*.jpg", "/usr/share/backgrounds/**/*.jpg",
                "/usr/share/wallpapers/*/contents/images/*.jpg"]
    for pattern in patterns:
        for path in sorted(glob.glob(pattern, recursive=True)):
            digest = hashlib.md5(open(path, "rb").read()).hexdigest()
            with Image.open(path) as image:
                if digest in seen or min(image.size) < 1000:
                    continue
            seen.add(digest)
            found.append(path)
    return found[:COUNT]


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs)


def child_cpu(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    run(command)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def ssim(reference, decoded):
    a = np.asarray(Image.open(reference).convert("RGB"))
    b = np.asarray(Image.open(decoded).convert("RGB"))
    return structural_similarity(a, b, channel_axis=2, data_range=255)


def decoded(path, folder):
    out = os.path.join(folder, "decoded.ppm")
    if path.endswith(".jpg"):
        run(["djpeg", "-outfile", out, path])
    elif path.endswith(".webp"):
        run(["dwebp", "-quiet", "-ppm", path, "-o", out])
    else:
        out = os.path.join(folder, "decoded.png")
        run(["avifdec", path, out])
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--sharp")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    probe = os.path.join(args.build, "bench", "formats", "format_probe")
    sources = photos()
    print(f"{len(sources)} photos fitted into 400x400")
    with tempfile.TemporaryDirectory() as folder:
        refs = []
        for i, source in enumerate(sources):
            with Image.open(source) as image:
                image = image.convert("RGB")
                image.thumbnail((400, 400), Image.LANCZOS)
                jpeg = os.path.join(folder, f"p{i}.jpg")
                image.save(jpeg, quality=100, subsampling=0)
            ppm = os.path.join(folder, f"p{i}.ppm")
            run([probe, jpeg, "jpeg", "90", "1", os.path.join(folder, "x.jpg"), ppm])
            png = os.path.join(folder, f"p{i}.png")
            Image.open(ppm).save(png)
            refs.append((jpeg, ppm, png))

        print("\nBytes per image (median) and SSIM (mean) of the object's output")
        print("JPGQuality  format  bytes   SSIM    bytes vs JPEG")
        for quality in QUALITIES:
            jpeg_bytes = None
            for kind in ("jpeg", "webp", "avif"):
                sizes, scores = [], []
                for jpeg, ppm, _ in refs:
                    out = os.path.join(folder, "o." + ("jpg" if kind == "jpeg" else kind))
                    run([probe, jpeg, kind, str(quality), "1", out])
                    sizes.append(os.path.getsize(out))
                    scores.append(ssim(ppm, decoded(out, folder)))
                size = statistics.median(sizes)
                jpeg_bytes = jpeg_bytes or size
                print(f"{quality:>10}  {kind:<6} {size:>6.0f}  {statistics.mean(scores):.4f}"
                      f"  {100 * (size / jpeg_bytes - 1):+.0f} %")

        # The settings the object's mapping gives JPGQuality 80, for the anchors.
        webp_q, avif_q = map(int, run([probe, "--mapping", "80"]).stdout.split())
        print(f"\nEncode CPU time per image at JPGQuality 80 = WebP quality {webp_q}, "
              f"AV1 quantizer {avif_q} (median ms)")
        rows = {}
        for kind in ("jpeg", "webp", "avif"):
            rows[f"object {kind}"] = [float(run([probe, jpeg, kind, "80", str(args.rounds),
                                                 os.path.join(folder, "t")]).stdout)
                                      for jpeg, _, _ in refs]
        cwebp = []
        for _, ppm, _ in refs:
            times = []
            for _ in range(args.rounds):
                text = run(["cwebp", "-v", "-q", str(webp_q), "-m", "4", ppm, "-o",
                            os.path.join(folder, "a.webp")]).stderr
                times.append(float(text.split("Time to encode picture:")[1].split("s")[0]))
            cwebp.append(statistics.median(times))
        rows["cwebp"] = cwebp
        rows["avifenc"] = [statistics.median(
            child_cpu(["avifenc", "-j", "1", "-s", "6", "-y", "420", "--min", str(avif_q), "--max",
                       str(avif_q), png, os.path.join(folder, "a.avif")])
            for _ in range(args.rounds)) for _, _, png in refs]
        if args.sharp:
            env = dict(os.environ, NODE_PATH=os.path.join(args.sharp, "node_modules"))
            for kind, quality, effort in (("webp", webp_q, 4),
                                          ("avif", round(100 - 100 * avif_q / 63), 3)):
                rows[f"sharp {kind}"] = [json.loads(run(
                    ["node", "-e", SHARP_SCRIPT, png, kind, str(quality), str(effort),
                     str(args.rounds)], env=env).stdout)["seconds"] for _, _, png in refs]
        for name, times in rows.items():
            print(f"  {name:<12} {1000 * statistics.median(times):7.1f}")


if __name__ == "__main__":
    main()
