// An ordered list of text lines "name=value"; names are compared without regard to case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

class TStringList {
 public:
  size_t Count() const noexcept { return lines_.size(); }
  bool Empty() const noexcept { return lines_.empty(); }
  void Clear() noexcept { lines_.clear(); }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Add(std::string_view name, std::string_view value);

  const std::string& operator[](size_t index) const { return lines_.at(index); }
  const std::vector<std::string>& Lines() const noexcept { return lines_; }
  auto begin() const noexcept { return lines_.begin(); }
  auto end() const noexcept { return lines_.end(); }

  // The text before the first '=' (the whole line when there is none).
  static std::string_view NameOf(std::string_view line) noexcept;
  // The text after the first '=' (empty when there is none).
  static std::string_view ValueOf(std::string_view line) noexcept;

  // Index of the first line with this name, or -1.
  std::ptrdiff_t IndexOfName(std::string_view name) const noexcept;
  // Value of the first line with this name; empty when there is none.
  std::string Value(std::string_view name) const;
  // Replaces the value of the first line with this name, or appends a line.
  void SetValue(std::string_view name, std::string_view value);

  friend bool operator==(const TStringList&, const TStringList&) = default;

 private:
  std::vector<std::string> lines_;
};

}  // namespace quorvex
