#include "webhost/image_page.h"

#include <algorithm>
#include <ctime>
#include <limits>

#include "client/resize_driver.h"
#include "client/step_sequence.h"
#include "platform/object_context.h"
#include "webhost/page_response.h"

namespace quorvex::webhost {

namespace {

// An HTTP date (RFC 9110 IMF-fixdate).
std::string HttpDate(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

// The answer the page wrote: its content type and body, and its expiry as headers. The Date is
// set here too, so that an answer expiring at once carries an Expires equal to it.
PageAnswer Written(PageResponse& response) {
  PageAnswer answer;
  const std::time_t now = std::time(nullptr);
  const std::string date = HttpDate(now);
  answer.headers.emplace_back("Date", date);
  answer.headers.emplace_back("Content-Type", response.contentType().value_or("text/html"));
  if (const std::optional<long>& minutes = response.expiresMinutes()) {
    if (*minutes <= 0) {
      answer.headers.emplace_back("Expires", date);
      answer.headers.emplace_back("Cache-Control", "no-cache");
    } else {
      answer.headers.emplace_back("Expires", HttpDate(now + std::time_t{*minutes} * 60));
    }
  }
  answer.body.assign(response.body().begin(), response.body().end());
  return answer;
}

}  // namespace

PageAnswer RunImagePage(const ImagePage& page) {
  try {
    client::ResizeDriver object(client::ResizeDriver::Creation::ProgId);
    // The object refuses a larger picture before decoding it, and any transform beyond it.
    object.SetMaxPixels(static_cast<int32_t>(
        std::min<uint64_t>(page.maxPixels, std::numeric_limits<int32_t>::max())));
    client::ImageSource source;
    if (!page.file.empty()) {
      source.file = page.file;
    } else {
      source.inMemory = true;
      source.bytes = {reinterpret_cast<const uint8_t*>(page.upload.data()), page.upload.size()};
    }
    client::LoadAndApply(object, source, page.steps);
    PageResponse response;
    {
      ObjectContextScope context(&response);
      if (!context.entered()) return TextAnswer(500, "cannot enter the object context");
      object.StreamImage();
    }
    return Written(response);
  } catch (const client::ObjectError& e) {
    return TextAnswer(422, e.what());
  } catch (const std::exception& e) {
    return TextAnswer(500, e.what());
  }
}

}  // namespace quorvex::webhost
