// Fuzzes the APP13 Photoshop parser with arbitrary payloads, merges what it finds into a
// file-information holder, and checks that building, writing, parsing and merging that holder
// again gives the same fields. Only EReadError (a cut-short block) may come out of the parser.
// Seeds: the APP13 payloads of the exiftool samples in tests/data/metadata and a hand-made
// block with a caption, a URL and the copyright flag.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jpegextra/metadata/file_info.h"
#include "jpegextra/metadata/photoshop_segment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvex;
  TMemoryStream payload(std::vector<uint8_t>(data, data + size));
  TApp14Segment segment;
  try {
    segment.ParseSegment(payload);
  } catch (const EReadError&) {
    return 0;
  }
  TFileInfo info;
  info.MergeSegment(segment);
  // Datasets 2:231 and 2:232 are read but never written.
  info.Dataset231.clear();
  info.Dataset232.clear();

  TMemoryStream written;
  info.BuildSegment().WriteSegment(written);
  if (written.Size() == 0) return 0;  // too long for one segment: not written at all
  if (written.Size() < 4) __builtin_trap();
  const size_t length = size_t{written.Memory()[2]} << 8 | written.Memory()[3];
  if (length != written.Size() - 2) __builtin_trap();
  TMemoryStream again;
  written.Seek(4);
  again.CopyFrom(written, written.Size() - 4);
  TApp14Segment parsed;
  parsed.ParseSegment(again);
  TFileInfo back;
  back.MergeSegment(parsed);
  if (!(back == info)) __builtin_trap();
  return 0;
}
