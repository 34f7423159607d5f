// RationalToFloat and the number texts behind it.
#include "jpegextra/metadata/rational.h"

#include <gtest/gtest.h>

#include "jpegextra/metadata/metadata_errors.h"
#include "jpegextra/metadata/number_text.h"
#include "jpegextra/metadata/utf8.h"

namespace quorvex {
namespace {

struct Converts {
  const char* Text;
  double Value;
};

class RationalValue : public ::testing::TestWithParam<Converts> {};

TEST_P(RationalValue, Converts) {
  EXPECT_DOUBLE_EQ(RationalToFloat(GetParam().Text), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Texts, RationalValue,
                         ::testing::Values(Converts{"72/1", 72}, Converts{"72", 72},
                                           Converts{"118/1", 118}, Converts{"-1/2", -0.5},
                                           Converts{"1/-4", -0.25}, Converts{"4294967295/1", -1},
                                           Converts{"72.5", 72.5}, Converts{"72/1,72/1", 0},
                                           Converts{"", 0}, Converts{"//", 0}, Converts{"1/2/3", 0},
                                           Converts{"3\r\n4", 0.75}));

struct Fails {
  const char* Text;
  const char* Message;
};

class RationalFailure : public ::testing::TestWithParam<Fails> {};

TEST_P(RationalFailure, RaisesConvertError) {
  try {
    RationalToFloat(GetParam().Text);
    ADD_FAILURE() << "no error for " << GetParam().Text;
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), GetParam().Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RationalFailure,
    ::testing::Values(Fails{"1/0", "Conversion error - division by zero."},
                      Fails{"72/4294967296", "Conversion error - division by zero."},
                      Fails{"abc", "Conversion error - value is not a number."},
                      Fails{"72/", "Conversion error - value is not a number."},
                      Fails{"/72", "Conversion error - value is not a number."},
                      Fails{"inf", "Conversion error - value is not a number."},
                      Fails{"nan", "Conversion error - value is not a number."},
                      Fails{"x/1", "'x' is not a valid integer value"},
                      Fails{"1/99999999999999999999",
                            "'99999999999999999999' is not a valid integer value"}));

TEST(NumberText, StrictIntegers) {
  EXPECT_EQ(ParseInt64("42"), 42);
  EXPECT_EQ(ParseInt64("+42"), 42);
  EXPECT_EQ(ParseInt64("-42"), -42);
  for (const char* bad : {"", "+", "-", "4 2", " 42", "42 ", "0x10", "++1", "1.0"})
    EXPECT_FALSE(ParseInt64(bad).has_value()) << bad;
  EXPECT_EQ(ParseHex("aB"), 0xAB);
  EXPECT_FALSE(ParseHex("").has_value());
  EXPECT_FALSE(ParseHex("g").has_value());
  EXPECT_EQ(HexByte(0x0A), "0A");
}

TEST(Utf8, WellFormedness) {
  EXPECT_TRUE(IsWellFormedUtf8(""));
  EXPECT_TRUE(IsWellFormedUtf8("plain"));
  EXPECT_TRUE(IsWellFormedUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  for (const char* bad : {"\xE9", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xC3", "\xE2\x82", "\x80", "\xFF"})
    EXPECT_FALSE(IsWellFormedUtf8(bad)) << "byte " << int(static_cast<uint8_t>(bad[0]));
}

}  // namespace
}  // namespace quorvex
