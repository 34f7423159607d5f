#include "jpegextra/metadata/string_list.h"

#include <algorithm>

namespace quorvex {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) noexcept {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

void TStringList::Add(std::string_view name, std::string_view value) {
  std::string line;
  line.reserve(name.size() + 1 + value.size());
  line.append(name).append(1, '=').append(value);
  lines_.push_back(std::move(line));
}

std::string_view TStringList::NameOf(std::string_view line) noexcept {
  return line.substr(0, line.find('='));
}

std::string_view TStringList::ValueOf(std::string_view line) noexcept {
  const size_t equals = line.find('=');
  return equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
}

std::ptrdiff_t TStringList::IndexOfName(std::string_view name) const noexcept {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].find('=') != std::string::npos && EqualNoCase(NameOf(lines_[i]), name))
      return static_cast<std::ptrdiff_t>(i);
  return -1;
}

std::string TStringList::Value(std::string_view name) const {
  const std::ptrdiff_t index = IndexOfName(name);
  return index < 0 ? std::string() : std::string(ValueOf(lines_[static_cast<size_t>(index)]));
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  const std::ptrdiff_t index = IndexOfName(name);
  if (index < 0) {
    Add(name, value);
    return;
  }
  std::string& line = lines_[static_cast<size_t>(index)];
  line.resize(line.find('=') + 1);
  line.append(value);
}

}  // namespace quorvex
