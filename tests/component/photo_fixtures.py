"""Pictures for the orientation and metadata tests, made with Pillow and exiftool.

oriented DIR: stored_N.jpg for N = 1..8, the same upright picture stored so that EXIF
Orientation N shows it upright, and upright_N.ppm, what Pillow shows for stored_N.jpg.
tagged DIR: tagged.jpg (EXIF fields, Orientation 6, thumbnail, IPTC keywords, ICC profile),
bare.jpg (the same without a thumbnail) and profile.icc, the profile's bytes; described.jpg
(bare.jpg with rationals, GPS south-west below sea level, IPTC and XMP fields) and
progressive.jpg (progressive, 4:2:2, no metadata).
"""
import subprocess
import sys

from PIL import Image, ImageCms, ImageOps

# The transpose that stores an upright picture under each orientation.
STORE = {1: None, 2: Image.Transpose.FLIP_LEFT_RIGHT, 3: Image.Transpose.ROTATE_180,
         4: Image.Transpose.FLIP_TOP_BOTTOM, 5: Image.Transpose.TRANSPOSE,
         6: Image.Transpose.ROTATE_90, 7: Image.Transpose.TRANSVERSE,
         8: Image.Transpose.ROTATE_270}


def upright(width, height):
    """Four quadrants of different colours, so every mirror and turn looks different."""
    picture = Image.new("RGB", (width, height))
    colours = [(200, 30, 30), (30, 200, 30), (30, 30, 200), (220, 220, 40)]
    for y in range(height):
        for x in range(width):
            picture.putpixel((x, y), colours[(y >= height // 2) * 2 + (x >= width // 2)])
    return picture


def exiftool(*args):
    subprocess.run(["exiftool", "-q", "-overwrite_original", *args], check=True)


def oriented(folder):
    base = upright(64, 48)
    for n, step in STORE.items():
        stored = base if step is None else base.transpose(step)
        path = f"{folder}/stored_{n}.jpg"
        stored.save(path, quality=95, subsampling=0)
        exiftool("-n", f"-Orientation={n}", path)
        ImageOps.exif_transpose(Image.open(path)).save(f"{folder}/upright_{n}.ppm")


def tagged(folder):
    profile = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    with open(f"{folder}/profile.icc", "wb") as out:
        out.write(profile)
    upright(160, 120).transpose(Image.Transpose.ROTATE_90).save(
        f"{folder}/bare.jpg", quality=95, dpi=(300, 300))
    upright(16, 12).save(f"{folder}/thumb.jpg")
    exiftool("-n", "-Orientation=6", "-Make=Quux", "-Model=Q 1", "-IFD0:XResolution=300",
             "-IFD0:YResolution=300", "-IFD0:ResolutionUnit=2",
             "-DateTimeOriginal=2021:02:03 04:05:06", "-ExifImageWidth=120",
             "-ExifImageHeight=160", "-IPTC:Keywords=alpha", "-IPTC:Keywords=beta",
             f"-ICC_Profile<={folder}/profile.icc", f"{folder}/bare.jpg")
    subprocess.run(["cp", f"{folder}/bare.jpg", f"{folder}/tagged.jpg"], check=True)
    exiftool(f"-ThumbnailImage<={folder}/thumb.jpg", f"{folder}/tagged.jpg")
    subprocess.run(["cp", f"{folder}/bare.jpg", f"{folder}/described.jpg"], check=True)
    exiftool("-n", "-FNumber=2.8", "-ExposureTime=0.004", "-ExposureCompensation=-0.7",
             "-GPSLatitude=15.835554", "-GPSLatitudeRef=S", "-GPSLongitude=48.015791",
             "-GPSLongitudeRef=W", "-GPSAltitude=12.5", "-GPSAltitudeRef=1",
             "-GPSTimeStamp=02:16:08", "-GPSDateStamp=2020:08:28", "-IPTC:City=Lisboa",
             "-IPTC:Keywords=alpha", "-IPTC:Keywords=beta", "-XMP-dc:Title=Quay at dusk",
             "-XMP-xmp:Rating=3", "-XMP-dc:Creator=A. Person", f"{folder}/described.jpg")
    upright(64, 48).save(f"{folder}/progressive.jpg", quality=80, progressive=True,
                         subsampling=1)


{"oriented": oriented, "tagged": tagged}[sys.argv[1]](sys.argv[2])
