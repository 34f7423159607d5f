// One image request run the way a page runs: a Resize object created by ProgID, its members
// called by name, and StreamImage writing into a response installed in the object context,
// beside the control through which the host bounds the object's work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/operation_table.h"
#include "webhost/page_answer.h"
#include "webhost/request_control.h"
#include "webhost/root_files.h"

namespace quorvex::webhost {

struct ImagePage {
  FileHandle file;     // loaded through its descriptor when open
  std::string upload;  // loaded with VariantIn otherwise
  uint64_t sourceBytes = 0;
  uint64_t transformBytes = 0;  // the most the transforms' rasters hold at once
  std::vector<client::Step> steps;
  int64_t maxPixels = 0;  // the object's MaxPixels, set before the load
  unsigned maxAge = 0;    // the lifetime an answer expiring at once is given (page_response.h)
};

// 200 with the streamed image; 422 with the object's message when a member fails; 504 when the
// control stopped the work; 503 when the memory it needed could not be had.
PageAnswer RunImagePage(const ImagePage& page, RequestControl& control);

}  // namespace quorvex::webhost
