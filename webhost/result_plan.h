// A request weighed before its work: the size each of its transforms makes, from the source's
// header where a result depends on the picture, so that a result the object would refuse, or
// one the output format cannot hold, is refused before anything is decoded; and the memory the
// transforms' rasters will hold, which the request reserves with its decode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/operation_table.h"
#include "client/output_formats.h"
#include "webhost/source_header.h"

namespace quorvex::webhost {

struct ResultPlan {
  // Why the request cannot be made; empty when, as far as the sizes are known, it can.
  std::string refusal;
  // The most the transforms hold at once: the picture a transform reads and the one it makes.
  uint64_t transformBytes = 0;
};

// source is the picture's size as it loads (nothing when unknown: then only results whose size
// the values alone give are weighed, and those that follow them).
ResultPlan PlanResults(std::optional<PictureSize> source, const std::vector<client::Step>& steps,
                       int64_t maxPixels, const client::OutputFormat& format);

// Whether the load turns the picture upright by its EXIF orientation (the hosts' default).
bool LoadsUpright(const std::vector<client::Step>& steps);

}  // namespace quorvex::webhost
