#include "webhost/image_page.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>

#include "client/resize_driver.h"
#include "client/step_sequence.h"
#include "comserver/host_control_interface.h"
#include "platform/object_context.h"
#include "webhost/http_date.h"
#include "webhost/page_response.h"

namespace quorvex::webhost {

namespace {

// The answer the page wrote. The Date is set here, so that the freshness the page asked for
// counts from it.
PageAnswer Written(PageResponse& response) {
  PageAnswer answer;
  const std::time_t now = std::time(nullptr);
  answer.headers.emplace_back("Date", HttpDate(now));
  response.AddHeaders(now, &answer.headers);
  answer.body.assign(response.body().begin(), response.body().end());
  return answer;
}

// The page's object context: its response, and the control of its work.
class PageContext {
 public:
  PageContext(IDispatch* response, IQvHostControl* control) {
    const std::u16string controlName(kHostControlProperty,
                                     kHostControlProperty + sizeof kHostControlProperty - 1);
    const LPCOLESTR names[] = {u"Response", controlName.c_str()};
    VARIANT values[2];
    VariantInit(&values[0]);
    V_VT(&values[0]) = VT_DISPATCH;
    V_DISPATCH(&values[0]) = response;
    VariantInit(&values[1]);
    V_VT(&values[1]) = VT_UNKNOWN;
    V_UNKNOWN(&values[1]) = control;
    entered_ = SUCCEEDED(QvEnterObjectContextWith(2, names, values));
  }
  ~PageContext() {
    if (entered_) QvLeaveObjectContext();
  }
  PageContext(const PageContext&) = delete;
  PageContext& operator=(const PageContext&) = delete;
  bool entered() const { return entered_; }

 private:
  bool entered_ = false;
};

PageAnswer Unavailable() {
  PageAnswer answer = TextAnswer(503, "not enough memory free for this request now");
  answer.headers.emplace_back("Retry-After", "1");
  return answer;
}

}  // namespace

PageAnswer RunImagePage(const ImagePage& page, RequestControl& control) {
  PageResponse response(page.maxAge);
  try {
    // The source's bytes are held while the request runs, and the rasters its transforms make
    // after the decode, which reserves its own peak.
    if (FAILED(control.Reserve(page.sourceBytes + page.transformBytes)) && control.memoryBusy())
      return Unavailable();
    PageContext context(&response, &control);
    if (!context.entered()) return TextAnswer(500, "cannot enter the object context");
    client::ResizeDriver object(client::ResizeDriver::Creation::ProgId);
    // The object refuses a larger picture before decoding it, and any transform beyond it.
    object.SetMaxPixels(static_cast<int32_t>(
        std::min<int64_t>(page.maxPixels, std::numeric_limits<int32_t>::max())));
    client::ImageSource source;
    std::optional<client::ByteArray> upload;
    if (page.file) {
      // The file the host opened, reached through its descriptor: never by its name again.
      source.file = RootFiles::DescriptorPath(page.file);
    } else {
      source.inMemory = true;
      source.bytes = &upload.emplace(
          std::span(reinterpret_cast<const uint8_t*>(page.upload.data()), page.upload.size()));
    }
    client::LoadAndApply(object, source, page.steps);
    object.StreamImage();
    return Written(response);
  } catch (const std::exception& e) {
    switch (control.stopped()) {
      case RequestControl::Stop::Deadline:
        return TextAnswer(504, "the request took longer than its time limit");
      case RequestControl::Stop::ClientGone:
        return TextAnswer(504, "cancelled: the client went away");
      case RequestControl::Stop::None:
        break;
    }
    // Memory that ran out is the moment's condition, not the request's fault: try again later.
    const auto* failure = dynamic_cast<const client::DriverError*>(&e);
    if (control.memoryBusy() || (failure != nullptr && failure->outOfMemory()) ||
        dynamic_cast<const std::bad_alloc*>(&e) != nullptr)
      return Unavailable();
    if (dynamic_cast<const client::ObjectError*>(&e) != nullptr) return TextAnswer(422, e.what());
    return TextAnswer(500, e.what());
  }
}

}  // namespace quorvex::webhost
