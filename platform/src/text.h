// UTF-16 text helpers shared by the platform sources: conversion to and from UTF-8, case folding
// for the case-insensitive names of the registry and of type information, and owned BSTRs.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/winapi.h"

namespace platform_detail {

// Conversions replace ill-formed sequences (lone surrogates, bad UTF-8) with U+FFFD and report
// through `invalid` whether they had to.
std::string ToUtf8(std::u16string_view text, bool* invalid = nullptr);
std::u16string FromUtf8(std::string_view text, bool* invalid = nullptr);

// Length of a zero-terminated UTF-16 string; 0 for null.
size_t WideLength(const OLECHAR* text);
std::u16string_view WideView(const OLECHAR* text);

// Simple case folding to upper case: ASCII, Latin-1, Greek and Cyrillic letters. Windows folds
// more of Unicode, but names in registries and type libraries are in these ranges.
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
std::u16string Folded(std::u16string_view text);

struct BstrDeleter {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

// A new BSTR with the given text; throws std::bad_alloc when memory is exhausted.
BSTR MakeBstr(std::u16string_view text);

}  // namespace platform_detail
