// The web response a page writes into, as the component sees it: the server's IResponse.
// The members a component calls when it streams an image (Expires, Clear, ContentType,
// BinaryWrite) are recorded here; the host turns them into the HTTP answer once the page is
// done. Every other member answers E_NOTIMPL.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/response_base.h"
#include "platform/winapi.h"

namespace quorvex::webhost {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The freshness of an answer the page marked to expire minutes from now (nothing when it did not
// say), dated date: Expires, and Cache-Control: no-cache when it expires at once. With maxAge
// seconds the host gives such an answer a public lifetime instead: the page asks for immediate
// expiry as for any dynamic page, but the host knows its answer is a pure function of a file it
// can validate, so a cache may keep it for that long and then ask again.
void AddFreshness(const std::optional<long>& minutes, unsigned maxAge, std::time_t date,
                  HeaderList* headers);

class PageResponse final : public ResponseBase {
 public:
  explicit PageResponse(unsigned maxAge = 0) : maxAge_(maxAge) {}
  PageResponse(const PageResponse&) = delete;
  PageResponse& operator=(const PageResponse&) = delete;

  const std::optional<std::string>& contentType() const { return contentType_; }
  // Minutes from now until the answer expires, when the page set it.
  const std::optional<long>& expiresMinutes() const { return expiresMinutes_; }
  std::vector<uint8_t>& body() { return body_; }
  // Content-Type and freshness as the page wrote them, for an answer dated date.
  void AddHeaders(std::time_t date, HeaderList* headers) const;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  // The response lives on the stack of the page that owns it; counting only keeps callers honest.
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }

  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR contentType) override;
  HRESULT STDMETHODCALLTYPE put_Expires(long minutes) override;
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT input) override;
  HRESULT STDMETHODCALLTYPE Clear() override;

 private:
  unsigned maxAge_;
  std::atomic<LONG> references_{1};
  std::optional<std::string> contentType_;
  std::optional<long> expiresMinutes_;
  std::vector<uint8_t> body_;
};

}  // namespace quorvex::webhost
