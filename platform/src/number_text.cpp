#include "platform/src/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace platform_detail {

namespace {

// Exponent digits beyond this only push the value further out of every range.
constexpr int64_t kExponentCap = 100000;

bool IsSpace(char16_t c) {
  return c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0xA0;
}
bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

class Reader {
 public:
  explicit Reader(std::u16string_view text) : text_(text) {}
  char16_t Peek(size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : 0;
  }
  void Skip(size_t n = 1) { pos_ += n; }
  bool AtEnd() const { return pos_ >= text_.size(); }

 private:
  std::u16string_view text_;
  size_t pos_ = 0;
};

// What ParseNumber has seen so far.
struct NumberScan {
  bool leadingPlus = false, leadingMinus = false, currency = false, parens = false;
  bool decimal = false, exponent = false, sawZero = false;
  bool negative = false, closed = false;
  int radixShift = 0;  // 4 for "&H", 3 for "&O", 0 for decimal
  std::string digits;
  int power10 = 0;
};

// Leading symbols and blanks, in any order, each at most once.
HRESULT ReadLeadingSymbols(Reader& in, NumberScan& s) {
  for (;;) {
    const char16_t c = in.Peek();
    if (c == u'.') {
      s.decimal = true;
      in.Skip();
      return S_OK;
    } else if (IsSpace(c)) {
      while (IsSpace(in.Peek())) in.Skip();
    } else if (c == u',') {
      return DISP_E_TYPEMISMATCH;  // a thousands separator before the first digit
    } else if (c == u'+' && !s.leadingPlus) {
      s.leadingPlus = true;
      in.Skip();
    } else if (c == u'-' && !s.leadingMinus) {
      s.leadingMinus = true;
      in.Skip();
    } else if (c == u'$' && !s.currency) {
      s.currency = true;
      in.Skip();
    } else if (c == u'(' && !s.parens) {
      s.parens = true;
      in.Skip();
    } else {
      return S_OK;
    }
  }
}

// "&H" or "&O" before the digits: the bits per digit, or 0.
int ReadRadixPrefix(Reader& in, const NumberScan& s) {
  if (s.currency || s.decimal || in.Peek() != u'&') return 0;
  const char16_t r = in.Peek(1);
  int radixShift = 0;
  if (r == u'H' || r == u'h') radixShift = 4;
  if (r == u'O' || r == u'o') radixShift = 3;
  if (radixShift != 0) in.Skip(2);
  return radixShift;
}

// The digits of a hexadecimal or octal number, into `out`.
HRESULT ReadRadixDigits(Reader& in, NumberScan& s, ParsedNumber* out) {
  uint64_t value = 0;
  bool any = false;
  for (;;) {
    const char16_t c = in.Peek();
    int d = -1;
    if (IsDigit(c)) d = c - u'0';
    if (s.radixShift == 4 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
    if (s.radixShift == 4 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
    if (d < 0 || d >= (1 << s.radixShift)) break;
    if (value > ((std::numeric_limits<uint64_t>::max() >> s.radixShift))) return DISP_E_OVERFLOW;
    value = (value << s.radixShift) | static_cast<uint64_t>(d);
    any = true;
    in.Skip();
  }
  out->hexOrOctal = true;
  out->radixValue = value;
  s.sawZero = any;
  s.digits.assign(any ? 1 : 0, 'x');
  return S_OK;
}

// The exponent after its "e": signs, then digits, added to the power of ten.
HRESULT ReadExponent(Reader& in, int* power10) {
  bool negativeExponent = false;
  for (;;) {
    if (in.Peek() == u'+') {
      in.Skip();
    } else if (in.Peek() == u'-') {
      negativeExponent = true;
      in.Skip();
    } else {
      break;
    }
  }
  if (!IsDigit(in.Peek())) return DISP_E_TYPEMISMATCH;  // no exponent digits
  int64_t e = 0;
  while (IsDigit(in.Peek())) {
    if (e < kExponentCap) e = e * 10 + (in.Peek() - u'0');
    in.Skip();
  }
  *power10 += static_cast<int>(negativeExponent ? -e : e);
  return S_OK;
}

// Leading zeros, then digits with separators, one decimal point and one exponent.
HRESULT ReadDecimalDigits(Reader& in, NumberScan& s) {
  if (s.decimal) {
    while (in.Peek() == u'0') {
      s.sawZero = true;
      --s.power10;
      in.Skip();
    }
  }
  while (in.Peek() == u'0') {
    s.sawZero = true;
    in.Skip();
  }
  for (;;) {
    const char16_t c = in.Peek();
    if (IsDigit(c)) {
      if (s.digits.empty() && c == u'0') {
        // zeros between the point and the first significant digit
        s.sawZero = true;
        if (s.decimal) --s.power10;
      } else {
        s.digits += static_cast<char>(c);
        if (s.decimal) --s.power10;
      }
      in.Skip();
    } else if (c == u',') {
      in.Skip();
    } else if (c == u'.' && !s.decimal && !s.exponent) {
      s.decimal = true;
      in.Skip();
    } else if ((c == u'e' || c == u'E') && !s.exponent && !s.currency) {
      s.exponent = true;
      in.Skip();
      const HRESULT hr = ReadExponent(in, &s.power10);
      if (FAILED(hr)) return hr;
    } else {
      return S_OK;
    }
  }
}

// Trailing blanks, separators and symbols.
void ReadTrailingSymbols(Reader& in, NumberScan& s) {
  s.negative = s.leadingMinus;
  for (;;) {
    const char16_t c = in.Peek();
    if (c == u',' && s.radixShift == 0) {
      in.Skip();
    } else if (IsSpace(c)) {
      while (IsSpace(in.Peek())) in.Skip();
    } else if (c == u'+' && !s.leadingPlus) {
      s.leadingPlus = true;
      in.Skip();
    } else if (c == u'-' && !s.leadingMinus) {
      s.leadingMinus = s.negative = true;
      in.Skip();
    } else if (c == u')' && s.parens && !s.closed) {
      s.closed = s.negative = true;
      in.Skip();
    } else if (c == u'$' && s.radixShift == 0) {
      s.currency = true;
      in.Skip();
    } else {
      return;
    }
  }
}

// The whole text read: checks what is left and hands the digits over.
HRESULT Finish(const Reader& in, NumberScan& s, ParsedNumber* out) {
  if (s.parens && !s.closed) return DISP_E_TYPEMISMATCH;
  if (!in.AtEnd()) return DISP_E_TYPEMISMATCH;
  if (s.digits.empty()) {
    if (!s.sawZero) return DISP_E_TYPEMISMATCH;
    s.digits.assign(1, '0');  // assign(): GCC 12 warns wrongly on = "0" here
    s.power10 = 0;
  }
  if (s.radixShift == 0) {
    // Keep the digits short: trailing zeros become powers of ten.
    while (s.digits.size() > 1 && s.digits.back() == '0') {
      s.digits.pop_back();
      ++s.power10;
    }
    out->digits = s.digits;
    out->power10 = s.power10;
  }
  out->negative = s.negative;
  return S_OK;
}

}  // namespace

HRESULT ParseNumber(std::u16string_view text, ParsedNumber* out) {
  *out = ParsedNumber();
  Reader in(text);
  NumberScan s;
  HRESULT hr = ReadLeadingSymbols(in, s);
  if (FAILED(hr)) return hr;
  s.radixShift = ReadRadixPrefix(in, s);
  hr = s.radixShift != 0 ? ReadRadixDigits(in, s, out) : ReadDecimalDigits(in, s);
  if (FAILED(hr)) return hr;
  ReadTrailingSymbols(in, s);
  return Finish(in, s, out);
}

bool RoundedMagnitude(const ParsedNumber& number, uint64_t* magnitude) {
  const std::string& d = number.digits;
  const int count = static_cast<int>(d.size());
  const int whole = number.power10 >= 0 ? count : count + number.power10;
  uint64_t value = 0;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  for (int i = 0; i < whole; ++i) {
    const uint64_t digit = i < count ? static_cast<uint64_t>(d[i] - '0') : 0;
    if (value > (kMax - digit) / 10) return false;
    value = value * 10 + digit;
  }
  for (int i = 0; i < number.power10 && whole == count; ++i) {
    if (value > kMax / 10) return false;
    value *= 10;
  }
  // Round on the fraction: above one half rounds up, exactly one half rounds to even.
  if (whole < count) {
    const int first = whole;
    bool up = false;
    if (first >= 0) {
      const int f = d[first] - '0';
      bool rest = false;
      for (int i = first + 1; i < count; ++i) rest = rest || d[i] != '0';
      up = f > 5 || (f == 5 && (rest || (value & 1) != 0));
    }
    if (up) {
      if (value == kMax) return false;
      ++value;
    }
  }
  *magnitude = value;
  return true;
}

double ToDouble(const ParsedNumber& number) {
  if (number.digits == "0") return number.negative ? -0.0 : 0.0;
  // Appended piece by piece: GCC 12 misreads string operator+ temporaries as overlapping.
  std::string text = number.digits;
  text += 'e';
  text += std::to_string(number.power10);
  // from_chars, unlike strtod, reads the same whatever the process's C locale is.
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    const bool large = static_cast<long>(number.digits.size()) + number.power10 > 0;
    value = large ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return number.negative ? -value : value;
}

// Formatting with to_chars, which follows printf's %g and %f but never the C locale.
std::u16string FormatReal(double value, int digits) {
  char buffer[512];
  char* end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits).ptr;
  const char* e = std::find(buffer, end, 'e');
  if (e != end) {
    // Small exponents are written out in full, as the automation library does.
    const char* dot = std::find(buffer, end, '.');
    const long extraDecimals = dot != end ? (e - dot - 2) : 0;
    const char* exponentStart = e + 1 + (e[1] == '+' ? 1 : 0);
    long exponent = 0;
    std::from_chars(exponentStart, end, exponent);
    if (std::labs(exponent) + extraDecimals < digits) {
      end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits)
                .ptr;
      while (end > buffer && end[-1] == '0') --end;
    }
  }
  std::string text(buffer, end);
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  // No negative zero.
  if (!text.empty() && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos)
    text = "0";
  return std::u16string(text.begin(), text.end());
}

}  // namespace platform_detail
