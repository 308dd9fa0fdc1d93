// The one number reader and writer: what reads as a number and what does not, the Fortran
// exponent as an option, whole numbers, and the writer against the C library's printf.
#include "platform/numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace zuba {
namespace {

TEST(ParseNumber, ReadsDecimalNotationOnly) {
  struct Case {
    const char* text;
    double value;
  };
  for (const Case& c :
       {Case{"0", 0.0}, Case{"-0", -0.0}, Case{"+2.5", 2.5}, Case{".5", 0.5}, Case{"5.", 5.0},
        Case{"-1.25e+2", -125.0}, Case{"1E-3", 1e-3}, Case{"007", 7.0}, Case{"0.1", 0.1},
        Case{"1e-400", 0.0}, Case{"1.7976931348623157e308", std::numeric_limits<double>::max()}}) {
    SCOPED_TRACE(c.text);
    const std::optional<double> value = ParseNumber(c.text);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, c.value);
    EXPECT_EQ(std::signbit(*value), std::signbit(c.value));
  }
  for (const char* text :
       {"",    " ",     " 1",    "1 ",    "0x10",   "0X1p3", "1e",  "1e+",  "e5",       ".",
        "-",   "+-1",   "-+1",   "--1",   "nan",    "NAN",   "inf", "-inf", "infinity", "12abc",
        "1,5", "1.5.2", "7e0e1", "1e400", "-1e400", "1.5D3", "1d0", "\t2"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseNumber(text));
  }
}

TEST(ParseNumber, TakesFortransDExponentOnlyWhenAsked) {
  const NumberSyntax fortran{.fortranExponent = true};
  EXPECT_EQ(ParseNumber("1.5D3", fortran), 1500.0);
  EXPECT_EQ(ParseNumber("-2.5d-1", fortran), -0.25);
  EXPECT_EQ(ParseNumber("+1D+0", fortran), 1.0);
  EXPECT_EQ(ParseNumber("1.5E3", fortran), 1500.0);
  for (const char* text : {"1D", "D3", "1.5D3x", "0x1D", "1Dd2"})
    EXPECT_FALSE(ParseNumber(text, fortran)) << text;
}

TEST(ParseNumber, IgnoresTheLocale) {
  // A locale with a decimal comma, where the C library would read "1,5"; skipped where the
  // machine has none.
  const char* const locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
  const char* set = nullptr;
  for (const char* name : locales)
    if ((set = std::setlocale(LC_NUMERIC, name)) != nullptr) break;
  if (set == nullptr) GTEST_SKIP() << "no locale with a decimal comma";
  EXPECT_EQ(ParseNumber("1.5"), 1.5);
  EXPECT_FALSE(ParseNumber("1,5"));
  EXPECT_EQ(FormatNumber(1.5, Fixed(2)), "1.50");
  std::setlocale(LC_NUMERIC, "C");
}

TEST(ParseWholeNumber, ReadsSignAndDigitsOnly) {
  EXPECT_EQ(ParseWholeNumber("42"), 42);
  EXPECT_EQ(ParseWholeNumber("+42"), 42);
  EXPECT_EQ(ParseWholeNumber("-007"), -7);
  EXPECT_EQ(ParseWholeNumber("9223372036854775807"), std::numeric_limits<int64_t>::max());
  for (const char* text :
       {"", "+", "-", "0x10", "1e3", "1.0", "12abc", " 1", "+-1", "9223372036854775808", "inf"})
    EXPECT_FALSE(ParseWholeNumber(text)) << text;
}

TEST(FormatNumber, WritesAsPrintfInTheCLocaleAndShortestReadsBack) {
  struct Case {
    NumberFormat format;
    const char* printf;
  };
  const Case cases[] = {{Significant(6), "%.6g"}, {Significant(17), "%.17g"},
                        {Significant(1), "%.1g"}, {Fixed(0), "%.0f"},
                        {Fixed(6), "%.6f"},       {Scientific(1), "%.1e"},
                        {Scientific(3), "%.3e"}};
  for (double value : {0.0, -0.0, 1.0, -2.5, 0.1, 1.0 / 3, 123456789.0, 1e-7, 6.02214076e23, 0.5,
                       1.5, 2.5, 1e300, -1e-300}) {
    for (const Case& c : cases) {
      char expected[512];
      std::snprintf(expected, sizeof expected, c.printf, value);
      EXPECT_EQ(FormatNumber(value, c.format), expected) << c.printf << " " << value;
    }
    const std::string shortest = FormatNumber(value);
    EXPECT_EQ(ParseNumber(shortest), value) << shortest;
    EXPECT_LE(shortest.size(), 24u);
  }
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(kNoValue), "2147483647");
  EXPECT_EQ(FormatNumber(std::numeric_limits<double>::infinity(), Significant(6)), "inf");
}

}  // namespace
}  // namespace zuba
