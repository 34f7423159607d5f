#include "webhost/request_query.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "client/output_formats.h"

namespace quorvex::webhost {

namespace {

bool IsOperation(const QueryItem& item) {
  return item.name != kSignatureItem && item.name != kExpiresItem;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes percent-encoding (and '+' for a blank in the query); false on a malformed escape or
// a NUL byte, which no path or value may hold.
bool Decode(std::string_view text, bool query, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+' && query) {
      c = ' ';
    }
    if (c == '\0') return false;
    *out += c;
  }
  return true;
}

}  // namespace

std::optional<RequestTarget> ParseTarget(std::string_view raw, std::string* error) {
  RequestTarget target;
  const size_t question = raw.find('?');
  if (!Decode(raw.substr(0, question), false, &target.path)) {
    *error = "malformed path";
    return std::nullopt;
  }
  if (question == std::string_view::npos) return target;
  std::string_view query = raw.substr(question + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view text = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (text.empty()) continue;
    const size_t equals = text.find('=');
    QueryItem item;
    item.hasValue = equals != std::string_view::npos;
    if (!Decode(text.substr(0, equals), true, &item.name) ||
        (item.hasValue && !Decode(text.substr(equals + 1), true, &item.value))) {
      *error = "malformed query item '" + std::string(text) + "'";
      return std::nullopt;
    }
    target.items.push_back(std::move(item));
  }
  return target;
}

bool NegotiateFormat(std::vector<client::Step>& steps, std::string_view accept, bool negotiate) {
  if (const std::string given(client::GivenFormat(steps)); given != "auto") {
    client::SettleFormat(steps, given);
    return false;
  }
  if (client::FindStep(steps, "format") == nullptr && !negotiate) return false;
  client::SettleFormat(steps, client::NegotiatedFormat(accept).name);
  return true;
}

std::string_view FormatOf(const std::vector<client::Step>& steps) {
  const std::string_view given = client::GivenFormat(steps);
  return given != "auto" ? given : client::OutputFormats()[0].name;
}

size_t OperationCount(const std::vector<QueryItem>& items) {
  return static_cast<size_t>(std::count_if(items.begin(), items.end(), IsOperation));
}

std::vector<client::Step> ParseOperations(const std::vector<QueryItem>& items, std::string* error) {
  std::vector<client::Step> steps;
  for (const QueryItem& item : items) {
    if (!IsOperation(item)) continue;
    const client::Operation* row = client::FindOperation(item.name);
    if (row == nullptr || (row->hosts & client::kWebHost) == 0) {
      *error = "unknown operation '" + item.name + "'";
      return {};
    }
    const std::optional<std::string_view> value =
        item.hasValue ? std::optional<std::string_view>(item.value) : std::nullopt;
    std::optional<client::Step> step = client::ParseStep(*row, value);
    if (!step) {
      *error = item.name + ": " + client::ValueError(*row, value);
      return {};
    }
    // There is one load, so one box to load into.
    if (row->stage == client::Stage::Load &&
        std::any_of(steps.begin(), steps.end(),
                    [&](const client::Step& earlier) { return earlier.operation == row; })) {
      *error = item.name + " given more than once";
      return {};
    }
    steps.push_back(std::move(*step));
  }
  return client::WithHostDefaults(std::move(steps), client::kWebHost);
}

}  // namespace quorvex::webhost
