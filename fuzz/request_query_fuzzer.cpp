// Fuzzes the web host's reading of a request target as received: the path and query items, the
// operations they name, and the signature. With arbitrary target bytes:
//   - a target that parses holds no NUL byte in its path, names or values, and its canonical
//     spelling (every byte but the unreserved ones percent-encoded) parses to the same items;
//   - the operations, the format negotiation and the weighing of the results (for an unknown
//     source and for one of any size) take whatever the items are;
//   - a target split at its signature is exactly the signed text, the separator, "sig=" and the
//     signature, which holds neither separator;
//   - the target signed as received (its HMAC appended as the last item, by one of several
//     keys) splits back into the received bytes and verifies, and parses to the received items
//     and the signature last; the signature does not verify any other spelling of the target,
//     nor its own spelling in capitals, cut short or under another key.
//
// Input: a key length byte (% 33) and the key, a byte choosing the other spelling (the place of
// a change, the change: a byte altered, a character percent-encoded, an escape's case changed,
// a byte added or dropped), an Accept header length byte (% 64) and the header, the source's
// width and height (four bytes each, least significant first, of which the low 16 bits count, as
// in a JPEG frame header; both 0: unknown), then the target.
//
// The kept corpus (fuzz/corpus/request_query/, minimised by scripts/fuzz-campaign --merge; inputs
// that found a fault under crashes/, which merging leaves alone) grew from seeds written by a short
// script from this layout: plain and percent-encoded paths and items, every operation of the table
// with a value, '+' blanks, empty items, a malformed escape, %00, a target without a query and one
// signed already.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "webhost/request_query.h"
#include "webhost/request_signature.h"
#include "webhost/result_plan.h"

namespace {

using namespace quorvex::webhost;
using quorvex::fuzzing::TFuzzInput;

[[noreturn]] void Fault(const std::string& what, std::string_view target) {
  std::fprintf(stderr, "request_query_fuzzer: %s (target %zu bytes: ", what.c_str(), target.size());
  for (unsigned char c : target) std::fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
  std::fprintf(stderr, ")\n");
  std::abort();
}

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::string Encoded(std::string_view text, bool path) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (Unreserved(c) || (path && c == '/')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    }
  }
  return out;
}

std::string Canonical(const RequestTarget& target) {
  std::string out = Encoded(target.path, true);
  char separator = '?';
  for (const QueryItem& item : target.items) {
    out += separator;
    separator = '&';
    out += Encoded(item.name, false);
    if (item.hasValue) out += '=' + Encoded(item.value, false);
  }
  return out;
}

bool SameItems(const std::vector<QueryItem>& a, const std::vector<QueryItem>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].value != b[i].value || a[i].hasValue != b[i].hasValue)
      return false;
  return true;
}

// What the host does with parsed items before any image work, the source's size as its header
// gives it (or unknown); only whether it throws or overflows matters.
void Operations(const RequestTarget& target, std::string_view accept,
                std::optional<PictureSize> source) {
  std::string error;
  std::vector<quorvex::client::Step> steps = ParseOperations(target.items, &error);
  OperationCount(target.items);
  if (!error.empty()) return;
  NegotiateFormat(steps, accept, true);
  const quorvex::client::OutputFormat* format = quorvex::client::FindOutputFormat(FormatOf(steps));
  if (format == nullptr) Fault("no output format", target.path);
  LoadsUpright(steps);
  PlanResults(std::nullopt, steps, int64_t{1} << 26, *format);
  if (source) PlanResults(source, steps, int64_t{1} << 26, *format);
}

// Another spelling of target, or nothing when the change leaves it as it was.
std::optional<std::string> Respelled(std::string_view target, uint8_t where, uint8_t how) {
  std::string other(target);
  const size_t at = other.empty() ? 0 : where % other.size();
  switch (how % 5) {
    case 0:
      if (other.empty()) return std::nullopt;
      other[at] = static_cast<char>(other[at] ^ (how | 1));
      break;
    case 1: {
      if (other.empty()) return std::nullopt;
      static constexpr char kDigits[] = "0123456789abcdef";
      const auto c = static_cast<unsigned char>(other[at]);
      other.replace(at, 1, {'%', kDigits[c >> 4], kDigits[c & 15]});
      break;
    }
    case 2: {
      const size_t escape = other.find('%', at);
      if (escape == std::string::npos) return std::nullopt;
      for (size_t i = escape + 1; i < other.size() && i < escape + 3; ++i) {
        char& c = other[i];
        c = c >= 'a' && c <= 'z'   ? static_cast<char>(c - 32)
            : c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32)
                                   : c;
      }
      break;
    }
    case 3:
      other.insert(at, 1, static_cast<char>(how));
      break;
    default:
      if (other.empty()) return std::nullopt;
      other.erase(at, 1);
      break;
  }
  if (other == target) return std::nullopt;
  return other;
}

void Signatures(std::string_view raw, const std::string& key,
                const std::optional<RequestTarget>& parsed, uint8_t where, uint8_t how) {
  // Any target split at its signature is made of the parts.
  if (const std::optional<SignedTarget> split = SplitSignature(raw)) {
    if (split->signature.find_first_of("?&") != std::string_view::npos)
      Fault("the signature holds a separator", raw);
    const size_t separator = split->text.size();
    if (separator >= raw.size() || raw.substr(0, separator) != split->text ||
        (raw[separator] != '?' && raw[separator] != '&') ||
        raw.substr(separator + 1) != "sig=" + std::string(split->signature))
      Fault("the split does not make up the target", raw);
  }
  if (key.empty()) return;

  const std::string signature = SigningKeys::Sign(key, raw);
  const std::string sent =
      std::string(raw) + (raw.find('?') == std::string_view::npos ? "?sig=" : "&sig=") + signature;
  const SigningKeys keys({"an older key", key});
  const std::optional<SignedTarget> split = SplitSignature(sent);
  if (!split || split->text != raw || split->signature != signature)
    Fault("a signed target does not split into what was signed", sent);
  if (!keys.Verify(split->text, split->signature))
    Fault("a target signed as received does not verify", sent);
  if (parsed) {
    std::string error;
    const std::optional<RequestTarget> received = ParseTarget(sent, &error);
    if (!received || received->path != parsed->path ||
        received->items.size() != parsed->items.size() + 1 ||
        !SameItems({received->items.begin(), received->items.end() - 1}, parsed->items) ||
        received->items.back().name != kSignatureItem || received->items.back().value != signature)
      Fault("a signed target parses to other items than the target", sent);
  }

  std::string capitals = signature;
  for (char& c : capitals)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 32);
  if (keys.Verify(raw, capitals)) Fault("the signature in capitals verifies", raw);
  if (keys.Verify(raw, std::string_view(signature).substr(0, signature.size() - 1)))
    Fault("a signature cut short verifies", raw);
  // HMAC pads a short key with zero bytes, so a key and the same with zero bytes after it sign
  // alike.
  if (key.substr(0, key.find_last_not_of('\0') + 1) != "another key" &&
      SigningKeys({"another key"}).Verify(raw, signature))
    Fault("another key verifies the signature", raw);
  if (const std::optional<std::string> other = Respelled(raw, where, how))
    if (keys.Verify(*other, signature)) Fault("the signature verifies another spelling", *other);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  std::string key(in.Byte() % 33, '\0');
  for (char& c : key) c = static_cast<char>(in.Byte());
  const uint8_t where = in.Byte(), how = in.Byte();
  std::string accept(in.Byte() % 64, '\0');
  for (char& c : accept) c = static_cast<char>(in.Byte());
  std::optional<PictureSize> source;
  // Sides as a JPEG frame header gives them, 16 bits each.
  if (const uint32_t width = in.Word() & 0xFFFF, height = in.Word() & 0xFFFF;
      width != 0 || height != 0)
    source = PictureSize{width, height};
  std::string raw;
  while (!in.Empty()) raw += static_cast<char>(in.Byte());

  std::string error;
  const std::optional<RequestTarget> parsed = ParseTarget(raw, &error);
  if (parsed) {
    const auto holdsNul = [](const std::string& text) {
      return text.find('\0') != std::string::npos;
    };
    if (holdsNul(parsed->path)) Fault("a NUL byte in the path", raw);
    for (const QueryItem& item : parsed->items)
      if (holdsNul(item.name) || holdsNul(item.value) || (!item.hasValue && !item.value.empty()))
        Fault("an item with a NUL byte, or a value without '='", raw);
    const std::string canonical = Canonical(*parsed);
    std::string again;
    const std::optional<RequestTarget> reparsed = ParseTarget(canonical, &again);
    if (!reparsed) Fault("the canonical spelling fails: " + again, canonical);
    if (reparsed->path != parsed->path || !SameItems(reparsed->items, parsed->items))
      Fault("the canonical spelling parses to other items", canonical);
    Operations(*parsed, accept, source);
  } else if (error.empty()) {
    Fault("a refused target without a reason", raw);
  }
  Signatures(raw, key, parsed, where, how);
  return 0;
}
