#include "webhost/page_answer.h"

namespace quorvex::webhost {

PageAnswer TextAnswer(unsigned status, std::string text) {
  PageAnswer answer;
  answer.status = status;
  answer.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
  answer.body = std::move(text);
  return answer;
}

}  // namespace quorvex::webhost
