#!/bin/sh
# Regenerates the metadata sample files in this directory from nothing but cjpeg, exiftool,
# ImageMagick and Pillow. Run it from anywhere; it writes beside itself.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
PY=/usr/bin/python3

# A 64 x 48 gradient compressed by cjpeg, and an sRGB profile made by Pillow (littleCMS).
"$PY" - "$work" <<'PYEOF'
import struct, sys
from PIL import ImageCms
work = sys.argv[1]
w, h = 64, 48
with open(work + '/base.ppm', 'wb') as f:
    f.write(b'P6\n%d %d\n255\n' % (w, h))
    for y in range(h):
        for x in range(w):
            f.write(bytes([x * 255 // (w - 1), y * 255 // (h - 1), (x * 7 + y * 13) & 255]))
srgb = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()
open(work + '/srgb.icc', 'wb').write(srgb)
# A profile too large for one APP2 chunk: the sRGB profile with a 66000-byte private tag
# ('qvx0') appended, tag table and header size updated so that it stays well-formed.
p = bytearray(srgb)
count = struct.unpack('>I', p[128:132])[0]
tags = [struct.unpack('>4sII', p[132 + 12 * i:144 + 12 * i]) for i in range(count)]
blob = bytes((i * 37 + 11) & 255 for i in range(66000))
out = bytearray(p[:128]) + struct.pack('>I', count + 1)
for sig, off, size in tags:
    out += struct.pack('>4sII', sig, off + 12, size)
end = len(p)
pad = (-(end + 12)) % 4
out += struct.pack('>4sII', b'qvx0', end + 12 + pad, len(blob))
out += p[128 + 4 + 12 * count:end] + b'\0' * pad + blob
struct.pack_into('>I', out, 0, len(out))
open(work + '/big.icc', 'wb').write(out)
PYEOF
cjpeg -quality 85 "$work/base.ppm" > "$work/base.jpg"

set -- \
  -EXIF:Make=Quorvex -EXIF:Model="QX-1 Mark II" -EXIF:Orientation#=6 \
  -EXIF:XResolution=300 -EXIF:YResolution=300 -EXIF:ResolutionUnit=inches \
  -EXIF:Software="quorvex sample 1.0" -EXIF:ModifyDate="2024:05:06 07:08:09" \
  -EXIF:Artist="Sample Artist" -EXIF:Copyright="(c) Sample, café" -EXIF:ImageDescription="A gradient" \
  -EXIF:ExposureTime=1/125 -EXIF:FNumber=2.8 -EXIF:ExposureProgram#=2 -EXIF:ISO=200 \
  -EXIF:DateTimeOriginal="2024:05:06 07:08:09" -EXIF:CreateDate="2024:05:06 07:08:10" \
  -EXIF:ShutterSpeedValue=1/125 -EXIF:ApertureValue=2.8 -EXIF:ExposureCompensation=-0.33 \
  -EXIF:MaxApertureValue=1.8 -EXIF:MeteringMode#=5 -EXIF:Flash#=16 -EXIF:FocalLength=50 \
  -EXIF:FocalLengthIn35mmFormat=75 -EXIF:UserComment="hello comment" -EXIF:ExifImageWidth=64 \
  -EXIF:ExifImageHeight=48 -EXIF:SubSecTimeOriginal=42 -EXIF:WhiteBalance#=0 \
  -EXIF:SceneCaptureType#=0 -EXIF:ColorSpace#=1 -EXIF:GPSVersionID="2 3 0 0" \
  -EXIF:GPSLatitudeRef=N -EXIF:GPSLatitude=51.5074 -EXIF:GPSLongitudeRef=W \
  -EXIF:GPSLongitude=0.1278 -EXIF:GPSAltitudeRef#=0 -EXIF:GPSAltitude=35.5 \
  -EXIF:GPSTimeStamp="12:34:56" -EXIF:GPSDateStamp="2024:05:06" -EXIF:GPSMapDatum=WGS-84
rm -f exif_intel.jpg exif_motorola.jpg iptc.jpg icc.jpg icc_big.jpg combined.jpg
# Intel order, and a JFIF density of 1 dot per inch so that the EXIF resolution applies.
exiftool -q -o exif_intel.jpg -exifbyteorder=II -JFIF:ResolutionUnit=inches \
  -JFIF:XResolution=1 -JFIF:YResolution=1 "$@" "$work/base.jpg"
exiftool -q -o exif_motorola.jpg -exifbyteorder=MM "$@" "$work/base.jpg"

# IPTC with the envelope's UTF-8 character set (an odd-length record-1 dataset first), and the
# Photoshop URL and copyright-flag resources.
set -- \
  -IPTC:CodedCharacterSet=UTF8 -IPTC:ObjectName="Gradient test" -IPTC:EditStatus=final \
  -IPTC:Urgency=3 -IPTC:Category=ART -IPTC:SupplementalCategories=one \
  -IPTC:SupplementalCategories=two -IPTC:FixtureIdentifier=fixture -IPTC:Keywords=alpha \
  -IPTC:Keywords="beta gamma" -IPTC:Keywords=café -IPTC:ReleaseDate=2024:05:07 \
  -IPTC:ReleaseTime=08:09:10+01:00 -IPTC:SpecialInstructions="none really" \
  -IPTC:ReferenceService=svc -IPTC:ReferenceDate=2023:12:31 -IPTC:ReferenceNumber=77 \
  -IPTC:DateCreated=2024:05:06 -IPTC:TimeCreated=14:30:00+01:00 -IPTC:OriginatingProgram=quorvex \
  -IPTC:ProgramVersion=1.0.0.6 -IPTC:ObjectCycle#=p -IPTC:By-line="Sample Artist" \
  -IPTC:By-lineTitle=Photographer -IPTC:City=Berlin -IPTC:Sub-location=Mitte \
  -IPTC:Province-State=BE -IPTC:Country-PrimaryLocationCode=DEU \
  -IPTC:Country-PrimaryLocationName=Germany -IPTC:OriginalTransmissionReference=otr-1 \
  -IPTC:Headline="Big headline" -IPTC:Credit="Sample credit" -IPTC:Source="Sample source" \
  -IPTC:CopyrightNotice="(c) 2024 Sample" \
  -IPTC:Caption-Abstract="A caption, with commas; and UTF-8: é" -IPTC:Writer-Editor=Editor \
  -Photoshop:URL="https://example.invalid/gradient" -Photoshop:CopyrightFlag=True
exiftool -q -o iptc.jpg "$@" "$work/base.jpg"

# ICC profiles embedded by ImageMagick: one chunk, and two chunks (65519 + the rest).
convert "$work/base.jpg" -profile "$work/srgb.icc" icc.jpg
convert "$work/base.jpg" -profile "$work/big.icc" icc_big.jpg

# Everything at once: EXIF (Motorola order) and IPTC added by exiftool to the ICC file.
exiftool -q -o combined.jpg -exifbyteorder=MM -tagsFromFile exif_motorola.jpg -EXIF:all \
  -tagsFromFile iptc.jpg -IPTC:all -Photoshop:URL -Photoshop:CopyrightFlag \
  -IPTC:CodedCharacterSet=UTF8 icc.jpg

# What exiftool reads from each file: every tag as a number where it has one (-n), with its
# group (-G1); the ICC profile bytes as exiftool extracts them.
for f in exif_intel exif_motorola iptc icc icc_big combined; do
  exiftool -j -n -G1 --System:all --ExifTool:all "$f.jpg" > "$f.json"
done
for f in icc icc_big combined; do
  exiftool -b -ICC_Profile "$f.jpg" > "$f.icc"
done
