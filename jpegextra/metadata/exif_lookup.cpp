#include "jpegextra/metadata/exif_lookup.h"

namespace quorvex {
namespace {

using F = TExifFormat;
using D = TExifIfd;

constexpr TExifLookup kLookup{{
    {"ImageDescription", 0x010E, F::Ascii, D::Main},
    {"Make", 0x010F, F::Ascii, D::Main},
    {"Model", 0x0110, F::Ascii, D::Main},
    {"Orientation", 0x0112, F::Short, D::Main},
    {"XResolution", 0x011A, F::Rational, D::Main},
    {"YResolution", 0x011B, F::Rational, D::Main},
    {"ResolutionUnit", 0x0128, F::Short, D::Main},
    {"Software", 0x0131, F::Ascii, D::Main},
    {"DateTime", 0x0132, F::Ascii, D::Main},
    {"WhitePoint", 0x013E, F::Rational, D::Main},
    {"PrimaryChromaticities", 0x013F, F::Rational, D::Main},
    {"YCbCrCoefficients", 0x0211, F::Rational, D::Main},
    {"YCbCrPositioning", 0x0213, F::Short, D::Main},
    {"ReferenceBlackWhite", 0x0214, F::Rational, D::Main},
    {"Copyright", 0x8298, F::Ascii, D::Main},
    {"ExposureTime", 0x829A, F::Rational, D::Exif},
    {"FNumber", 0x829D, F::Rational, D::Exif},
    {"ExposureProgram", 0x8822, F::Short, D::Exif},
    {"ISOSpeedRatings", 0x8827, F::Short, D::Exif},
    {"ExifVersion", 0x9000, F::Undefined, D::Exif},
    {"DateTimeOriginal", 0x9003, F::Ascii, D::Exif},
    {"DateTimeDigitized", 0x9004, F::Ascii, D::Exif},
    {"ComponentsConfiguration", 0x9101, F::Undefined, D::Exif},
    {"CompressedBitsPerPixel", 0x9102, F::Rational, D::Exif},
    {"ShutterSpeedValue", 0x9201, F::SRational, D::Exif},
    {"ApertureValue", 0x9202, F::Rational, D::Exif},
    {"FlashPixVersion", 0xA000, F::Undefined, D::Exif},
    {"ColorSpace", 0xA001, F::Short, D::Exif},
    {"PixelXDimension", 0xA002, F::Short, D::Exif},
    {"PixelYDimension", 0xA003, F::Short, D::Exif},
    {"", 0xFFFF, F::Byte, D::Main},
    {"UserComment", 0x9286, F::Undefined, D::Exif},
    {"RelatedSoundFile", 0xA004, F::Ascii, D::Exif},
    {"SubSecTime", 0x9290, F::Ascii, D::Exif},
    {"SubSecTimeOriginal", 0x9291, F::Ascii, D::Exif},
    {"SubSecTimeDigitized", 0x9292, F::Ascii, D::Exif},
    {"SpectralSensitivity", 0x8824, F::Ascii, D::Exif},
    {"OECF", 0x8828, F::Undefined, D::Exif},
    {"BrightnessValue", 0x9203, F::SRational, D::Exif},
    {"ExposureBiasValue", 0x9204, F::SRational, D::Exif},
    {"MaxApertureValue", 0x9205, F::Rational, D::Exif},
    {"SubjectDistance", 0x9206, F::Rational, D::Exif},
    {"MeteringMode", 0x9207, F::Short, D::Exif},
    {"LightSource", 0x9208, F::Short, D::Exif},
    {"Flash", 0x9209, F::Short, D::Exif},
    {"FocalLength", 0x920A, F::Rational, D::Exif},
    {"FlashEnergy", 0xA20B, F::Rational, D::Exif},
    {"SpatialFrequencyResponse", 0xA20C, F::Undefined, D::Exif},
    {"FocalPlaneXResolution", 0xA20E, F::Rational, D::Exif},
    {"FocalPlaneYResolution", 0xA20F, F::Rational, D::Exif},
    {"FocalPlaneResolutionUnit", 0xA210, F::Short, D::Exif},
    {"SubjectLocation", 0xA214, F::Short, D::Exif},
    {"ExposureIndex", 0xA215, F::Rational, D::Exif},
    {"SensingMethod", 0xA217, F::Short, D::Exif},
    {"FileSource", 0xA300, F::Undefined, D::Exif},
    {"SceneType", 0xA301, F::Undefined, D::Exif},
    {"CFAPattern", 0xA302, F::Undefined, D::Exif},
    {"GPSVersionID", 0x0000, F::Byte, D::Gps},
    {"GPSLatitudeRef", 0x0001, F::Ascii, D::Gps},
    {"GPSLatitude", 0x0002, F::Rational, D::Gps},
    {"GPSLongitudeRef", 0x0003, F::Ascii, D::Gps},
    {"GPSLongitude", 0x0004, F::Rational, D::Gps},
    {"GPSAltitudeRef", 0x0005, F::Byte, D::Gps},
    {"GPSAltitude", 0x0006, F::Rational, D::Gps},
    {"GPSTimeStamp", 0x0007, F::Rational, D::Gps},
    {"GPSSatellites", 0x0008, F::Ascii, D::Gps},
    {"GPSStatus", 0x0009, F::Ascii, D::Gps},
    {"GPSMeasureMode", 0x000A, F::Ascii, D::Gps},
    {"GPSDOP", 0x000B, F::Rational, D::Gps},
    {"GPSSpeedRef", 0x000C, F::Ascii, D::Gps},
    {"GPSSpeed", 0x000D, F::Rational, D::Gps},
    {"GPSTrackRef", 0x000E, F::Ascii, D::Gps},
    {"GPSTrack", 0x000F, F::Rational, D::Gps},
    {"GPSImgDirectionRef", 0x0010, F::Ascii, D::Gps},
    {"GPSImgDirection", 0x0011, F::Rational, D::Gps},
    {"GPSMapDatum", 0x0012, F::Ascii, D::Gps},
    {"GPSDestLatitudeRef", 0x0013, F::Ascii, D::Gps},
    {"GPSDestLatitude", 0x0014, F::Rational, D::Gps},
    {"GPSDestLongitudeRef", 0x0015, F::Ascii, D::Gps},
    {"GPSDestLongitude", 0x0016, F::Rational, D::Gps},
    {"GPSDestBearingRef", 0x0017, F::Ascii, D::Gps},
    {"GPSDestBearing", 0x0018, F::Rational, D::Gps},
    {"GPSDestDistanceRef", 0x0019, F::Ascii, D::Gps},
    {"GPSDestDistance", 0x001A, F::Rational, D::Gps},
    {"ImageWidth", 0x0100, F::Short, D::Main},
    {"ImageLength", 0x0101, F::Short, D::Main},
    {"BitsPerSample", 0x0102, F::Short, D::Main},
    {"Compression", 0x0103, F::Short, D::Main},
    {"PhotometricInterpretation", 0x0106, F::Short, D::Main},
    {"SamplesPerPixel", 0x0115, F::Short, D::Main},
    {"PlanarConfiguration", 0x011C, F::Short, D::Main},
    {"YCbCrSubSampling", 0x0212, F::Short, D::Main},
    {"Artist", 0x013B, F::Ascii, D::Main},
    {"ImageUniqueID", 0xA420, F::Ascii, D::Exif},
    {"SubjectArea", 0x9214, F::Short, D::Exif},
    {"CustomRendered", 0xA401, F::Short, D::Exif},
    {"ExposureMode", 0xA402, F::Short, D::Exif},
    {"WhiteBalance", 0xA403, F::Short, D::Exif},
    {"DigitalZoomRatio", 0xA404, F::Rational, D::Exif},
    {"FocalLengthIn35mmFilm", 0xA405, F::Short, D::Exif},
    {"SceneCaptureType", 0xA406, F::Short, D::Exif},
    {"GainControl", 0xA407, F::Short, D::Exif},
    {"Contrast", 0xA408, F::Short, D::Exif},
    {"Saturation", 0xA409, F::Short, D::Exif},
    {"Sharpness", 0xA40A, F::Short, D::Exif},
    {"DeviceSettingDescription", 0xA40B, F::Undefined, D::Exif},
    {"SubjectDistanceRange", 0xA40C, F::Short, D::Exif},
    {"GPSProcessingMethod", 0x001B, F::Undefined, D::Gps},
    {"GPSAreaInformation", 0x001C, F::Undefined, D::Gps},
    {"GPSDateStamp", 0x001D, F::Ascii, D::Gps},
    {"GPSDifferential", 0x001E, F::Short, D::Gps},
    {"XPTitle", 0x9C9B, F::Byte, D::Main},
    {"XPComments", 0x9C9C, F::Byte, D::Main},
    {"XPAuthor", 0x9C9D, F::Byte, D::Main},
    {"XPKeywords", 0x9C9E, F::Byte, D::Main},
    {"XPSubject", 0x9C9F, F::Byte, D::Main},
    {"JpegInterchangeFormat", 0x0201, F::Long, D::Thumbnail},
    {"JpegInterchangeFormatLength", 0x0202, F::Long, D::Thumbnail},
}};

}  // namespace

const TExifLookup& ExifLookup() noexcept {
  return kLookup;
}

std::string_view FindTagName(uint16_t tag) noexcept {
  for (const TExifLookupRecord& row : kLookup)
    if (row.Tag == tag) return row.Name;
  return {};
}

const TExifLookupRecord* FindTagRecord(std::string_view name) noexcept {
  if (name.empty()) return nullptr;
  for (const TExifLookupRecord& row : kLookup)
    if (row.Name == name) return &row;
  return nullptr;
}

uint16_t TiffType(TExifFormat format) noexcept {
  switch (format) {
    case TExifFormat::Byte:
      return 1;
    case TExifFormat::Ascii:
      return 2;
    case TExifFormat::Short:
      return 3;
    case TExifFormat::Long:
      return 4;
    case TExifFormat::Rational:
      return 5;
    case TExifFormat::Undefined:
      return 7;
    case TExifFormat::SRational:
      return 10;
  }
  return 7;
}

}  // namespace quorvex
