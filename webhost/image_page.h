// One image request run the way a page runs: a Resize object created by ProgID, its members
// called by name, and StreamImage writing into a response installed in the object context.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/operation_steps.h"
#include "webhost/page_answer.h"

namespace quorvex::webhost {

struct ImagePage {
  std::string file;    // loaded with LoadFromFile when not empty
  std::string upload;  // loaded with VariantIn otherwise
  std::vector<client::Step> steps;
  uint64_t maxPixels = 0;  // the object's MaxPixels, set before the load
};

// 200 with the streamed image; 422 with the object's message when a member fails.
PageAnswer RunImagePage(const ImagePage& page);

}  // namespace quorvex::webhost
