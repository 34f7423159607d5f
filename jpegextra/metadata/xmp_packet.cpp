// Text edits of an XMP packet. The packet is untrusted XML: every search stays inside it and an
// edit is made only where the property's form is the plain one writers use.
#include "jpegextra/metadata/xmp_packet.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace quorvex {
namespace {

constexpr std::string_view kTiffNamespace = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kExifNamespace = "http://ns.adobe.com/exif/1.0/";

bool IsSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EndsName(char c) noexcept {
  return IsSpace(c) || c == '=' || c == '>' || c == '/';
}

// The prefixes the packet binds to a namespace (xmlns:prefix="uri").
std::vector<std::string> Prefixes(std::string_view text, std::string_view uri) {
  std::vector<std::string> prefixes;
  constexpr std::string_view kXmlns = "xmlns:";
  for (size_t at = text.find(kXmlns); at != std::string_view::npos;
       at = text.find(kXmlns, at + 1)) {
    const size_t nameStart = at + kXmlns.size();
    size_t nameEnd = nameStart;
    while (nameEnd < text.size() && !EndsName(text[nameEnd])) ++nameEnd;
    size_t p = nameEnd;
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p >= text.size() || text[p] != '=') continue;
    ++p;
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p >= text.size() || (text[p] != '"' && text[p] != '\'')) continue;
    if (text.substr(p + 1, uri.size()) == uri && p + 1 + uri.size() < text.size() &&
        text[p + 1 + uri.size()] == text[p] && nameEnd > nameStart)
      prefixes.emplace_back(text.substr(nameStart, nameEnd - nameStart));
  }
  return prefixes;
}

// Calls edit(start of the qualified name, its end) for every use of prefix:name* whose local
// name begins with stem, as an attribute or as a start tag.
template <typename Edit>
void ForEachProperty(std::string_view text, const std::string& prefix, std::string_view stem,
                     Edit edit) {
  const std::string name = prefix + ":" + std::string(stem);
  for (size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
    if (at == 0 || !(IsSpace(text[at - 1]) || text[at - 1] == '<')) continue;
    size_t end = at + name.size();
    while (end < text.size() && !EndsName(text[end])) ++end;
    if (end >= text.size()) return;
    edit(at, end);
  }
}

// Where the value of the property named at [start, end) lies: after `="` for an attribute,
// after `>` for an element; npos when the form is neither.
std::pair<size_t, size_t> ValueRange(std::string_view text, size_t start, size_t end) {
  constexpr auto none = std::string_view::npos;
  size_t p = end;
  while (p < text.size() && IsSpace(text[p])) ++p;
  if (p >= text.size()) return {none, none};
  if (start > 0 && text[start - 1] == '<') {
    if (text[p] != '>') return {none, none};
    const size_t close = text.find('<', p + 1);
    return {p + 1, close};
  }
  if (text[p] != '=') return {none, none};
  ++p;
  while (p < text.size() && IsSpace(text[p])) ++p;
  if (p >= text.size() || (text[p] != '"' && text[p] != '\'')) return {none, none};
  return {p + 1, text.find(text[p], p + 1)};
}

std::string_view TextOf(const std::vector<uint8_t>& payload) {
  return {reinterpret_cast<const char*>(payload.data()), payload.size()};
}

}  // namespace

void MarkXmpUpright(std::vector<uint8_t>& payload) {
  const std::string_view text = TextOf(payload);
  for (const std::string& prefix : Prefixes(text, kTiffNamespace))
    ForEachProperty(text, prefix, "Orientation", [&](size_t start, size_t end) {
      if (end - start != prefix.size() + 12) return;  // Orientation itself, not a longer name
      const auto [from, to] = ValueRange(text, start, end);
      if (from == std::string_view::npos || to == std::string_view::npos) return;
      // A single digit, perhaps with spaces around it: the same length with 1.
      size_t digit = std::string_view::npos;
      for (size_t i = from; i < to; ++i) {
        if (IsSpace(text[i])) continue;
        if (digit != std::string_view::npos || text[i] < '1' || text[i] > '8') return;
        digit = i;
      }
      if (digit != std::string_view::npos) payload[digit] = '1';
    });
}

void RemoveXmpGps(std::vector<uint8_t>& payload) {
  const std::string_view text = TextOf(payload);
  for (const std::string& prefix : Prefixes(text, kExifNamespace))
    ForEachProperty(text, prefix, "GPS", [&](size_t start, size_t end) {
      size_t from = start, to = std::string_view::npos;
      if (text[start - 1] == '<') {
        // An element: up to the end of its closing tag, or of itself when it is empty.
        from = start - 1;
        const size_t tagEnd = text.find('>', end);
        if (tagEnd == std::string_view::npos) return;
        if (text[tagEnd - 1] == '/') {
          to = tagEnd + 1;
        } else {
          const std::string closing = "</" + std::string(text.substr(start, end - start)) + ">";
          const size_t close = text.find(closing, tagEnd);
          if (close == std::string_view::npos) return;
          to = close + closing.size();
        }
      } else {
        const auto [valueFrom, valueTo] = ValueRange(text, start, end);
        if (valueFrom == std::string_view::npos || valueTo == std::string_view::npos) return;
        to = valueTo + 1;
      }
      std::fill(payload.begin() + static_cast<std::ptrdiff_t>(from),
                payload.begin() + static_cast<std::ptrdiff_t>(to), ' ');
    });
}

}  // namespace quorvex
