"""Makes the hostile JPEG files of the load benchmark, and real photos to set beside them.

Every file is made here at run time from a small picture compressed by cjpeg or ImageMagick;
the bombs are that picture with its frame header rewritten to a huge size, or with scans that
carry no data appended, or with zeros appended up to the largest file size a load accepts.
"""
import os
import struct
import subprocess

# The largest file a load reads (2^31 - 1 bytes: the codec counts bytes in 32 bits).
MAX_FILE_BYTES = 2**31 - 1
# The largest frame the raster allows.
MAX_SIDE = 16383
# Raster plus decoder working memory of one load (jpegextra/load_limits.h).
LOAD_MEMORY_BUDGET = 1024 * 2**20 - 64 * 2**20


def run(command):
    subprocess.run(command, check=True)


def pattern_ppm(path, width, height):
    """A smooth gradient with a few hard edges, as binary PPM."""
    rows = bytearray()
    for y in range(height):
        for x in range(width):
            edge = 255 if (x // 4 + y // 4) % 2 else 0
            rows += bytes(((x * 255) // max(width - 1, 1), (y * 255) // max(height - 1, 1), edge))
    with open(path, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height))
        out.write(rows)


def set_frame_size(data, width, height):
    """Rewrites the size in the first start-of-frame segment (SOF0..SOF2)."""
    data = bytearray(data)
    at = 2
    while at + 4 <= len(data):
        marker, length = data[at + 1], struct.unpack(">H", data[at + 2:at + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            data[at + 5:at + 9] = struct.pack(">HH", height, width)
            return bytes(data)
        at += 2 + length
    raise ValueError("no frame header")


def without_eoi(data):
    return data[:-2] if data.endswith(b"\xff\xd9") else data


def ac_scan_header():
    """Scan of component 1, coefficients 1..63, with no data after it."""
    return b"\xff\xda" + struct.pack(">HB", 8, 1) + bytes((1, 0x00, 1, 63, 0))


def dc_scan_header():
    """First DC scan of all three components, with no data after it."""
    return b"\xff\xda" + struct.pack(">HB", 12, 3) + bytes((1, 0x00, 2, 0x11, 3, 0x11, 0, 0, 0))


def with_empty_scans(data, header, count):
    return without_eoi(data) + header * count + b"\xff\xd9"


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)
    return path


def progressive_444(workdir, width, height):
    ppm = os.path.join(workdir, "small.ppm")
    pattern_ppm(ppm, 16, 16)
    small = os.path.join(workdir, "small444.jpg")
    run(["cjpeg", "-progressive", "-sample", "1x1", "-quality", "90", "-outfile", small, ppm])
    with open(small, "rb") as f:
        return set_frame_size(f.read(), width, height)


def progressive_420(workdir, width, height):
    ppm = os.path.join(workdir, "small.ppm")
    pattern_ppm(ppm, 16, 16)
    small = os.path.join(workdir, "small420.jpg")
    run(["cjpeg", "-progressive", "-quality", "90", "-outfile", small, ppm])
    with open(small, "rb") as f:
        return set_frame_size(f.read(), width, height)


def progressive_cmyk(workdir, width, height):
    ppm = os.path.join(workdir, "small.ppm")
    pattern_ppm(ppm, 16, 16)
    small = os.path.join(workdir, "smallcmyk.jpg")
    run(["convert", ppm, "-colorspace", "CMYK", "-sampling-factor", "1x1", "-interlace", "JPEG",
         small])
    with open(small, "rb") as f:
        return set_frame_size(f.read(), width, height)


def largest_admitted_side(bytes_per_pixel):
    """Side of the largest square frame whose raster and buffers fit the budget (approximately:
    the codec also counts row buffers)."""
    side = int((LOAD_MEMORY_BUDGET / bytes_per_pixel) ** 0.5) // 16 * 16 - 64
    return min(side, MAX_SIDE)


def make_all(workdir, photo, padded_size=MAX_FILE_BYTES):
    """Writes every file into workdir; returns (name, path, what it is) rows."""
    os.makedirs(workdir, exist_ok=True)
    rows = []

    def add(name, data, what):
        rows.append((name, write(os.path.join(workdir, name), data), what))

    bomb444 = progressive_444(workdir, MAX_SIDE, MAX_SIDE)
    add("bomb444.jpg", bomb444, "progressive 4:4:4, frame 16383x16383")
    add("bombcmyk.jpg", progressive_cmyk(workdir, MAX_SIDE, MAX_SIDE),
        "progressive CMYK, frame 16383x16383")
    add("scans990.jpg", with_empty_scans(bomb444, ac_scan_header(), 990),
        "the 4:4:4 bomb + 990 header-only AC scans")
    add("dcscans990.jpg", with_empty_scans(bomb444, dc_scan_header(), 990),
        "the 4:4:4 bomb + 990 header-only DC scans")
    add("scans990-8k.jpg",
        with_empty_scans(progressive_444(workdir, 8192, 8192), ac_scan_header(), 990),
        "progressive 4:4:4 8192x8192 (within the memory budget) + 990 header-only AC scans")
    side444 = largest_admitted_side(9)
    add("largest444.jpg", progressive_444(workdir, side444, side444),
        "progressive 4:4:4 %dx%d, no coefficients (largest square admitted)" % (side444, side444))
    side420 = largest_admitted_side(6)
    add("largest420.jpg", progressive_420(workdir, side420, side420),
        "progressive 4:2:0 %dx%d, no coefficients (largest square admitted)" % (side420, side420))

    padded = os.path.join(workdir, "padded.jpg")
    with open(photo, "rb") as f:
        write(padded, f.read())
    os.truncate(padded, padded_size)  # sparse: the zeros take no disk space
    rows.append(("padded.jpg", padded, "the sample photo + zeros to %d bytes" % padded_size))

    photo20 = os.path.join(workdir, "photo20mp.jpg")
    run(["convert", photo, "-resize", "5472x3648!", "-attenuate", "0.4", "+noise", "Gaussian",
         "-quality", "90", photo20])
    rows.append(("photo20mp.jpg", photo20, "the sample photo upscaled to 5472x3648, baseline"))
    photo20p = os.path.join(workdir, "photo20mp-progressive.jpg")
    run(["convert", photo20, "-interlace", "JPEG", "-quality", "90", photo20p])
    rows.append(("photo20mp-progressive.jpg", photo20p, "the same, progressive"))
    return rows
