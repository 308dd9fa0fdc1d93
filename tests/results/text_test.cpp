#include "results/text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>

#include "platform/message.h"
#include "tests/shown.h"

namespace zuba {
namespace {

__extension__ typedef unsigned __int128 Wide;

// Independent reference: the exact value M * 2^e of a double, scaled by 10^decimals in 128-bit
// integer arithmetic and rounded half away from zero. Valid for magnitudes and decimals whose
// products fit (checked by the callers' ranges).
std::string ReferenceFixed(double value, int decimals) {
  int exponent = 0;
  double fraction = std::frexp(std::fabs(value), &exponent);
  Wide mantissa = static_cast<Wide>(std::ldexp(fraction, 53));
  int shift = exponent - 53;
  Wide scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  Wide scaled;
  if (shift >= 0) {
    scaled = (mantissa << shift) * scale;
  } else {
    Wide num = mantissa * scale, den = Wide(1) << -shift;
    scaled = num / den;
    if (2 * (num % den) >= den) ++scaled;
  }
  auto toText = [](Wide x) {
    std::string s;
    do {
      s.insert(s.begin(), char('0' + int(x % 10)));
      x /= 10;
    } while (x != 0);
    return s;
  };
  std::string integer = scaled / scale == 0 ? "" : toText(scaled / scale);
  std::string frac = toText(scaled % scale);
  if (frac.size() < size_t(decimals)) frac.insert(0, size_t(decimals) - frac.size(), '0');
  if (decimals == 0) frac.clear();
  return (std::signbit(value) ? "-" : "+") + integer + "." + frac;
}

struct FixedCase {
  double value;
  int decimals;
  const char* text;
};

TEST(FormatFixed, GivesSignDigitsPointAndExactlyTheRequestedDecimals) {
  const FixedCase cases[] = {
      {26.26, 6, "+26.260000"},
      {0.6, 6, "+.600000"},
      {0.0001, 6, "+.000100"},
      {0, 6, "+.000000"},
      {-0.0123456789, 6, "-.012346"},
      {6.283185307179586, 6, "+6.283185"},
      {9.9999999, 6, "+10.000000"},
      {0.9999999, 6, "+1.000000"},
      {-9.9999999, 6, "-10.000000"},
      {0.00000075, 6, "+.000001"},
      {0.0000002, 6, "+.000000"},
      {0.0000004, 6, "+.000000"},
      {1.007276466812, 15, "+1.007276466812000"},
      {14.000330460238006, 15, "+14.000330460238006"},
      {60.6, 6, "+60.600000"},
      {-1.5, 6, "-1.500000"},
      {2147483647.0, 6, "+2147483647.000000"},
      {123.456, 0, "+123."},
      {0.4, 0, "+."},
      {1, 0, "+1."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatFixed(c.value, c.decimals), c.text) << c.value << " " << c.decimals;
  }
}

TEST(FormatFixed, NegativeZeroAndValuesRoundingToZeroKeepTheirSign) {
  EXPECT_EQ(FormatFixed(-0.0, 6), "-.000000");
  EXPECT_EQ(FormatFixed(-0.0000001, 6), "-.000000");
  EXPECT_EQ(FormatFixed(-0.0, 0), "-.");
}

TEST(FormatFixed, RoundsExactTiesAwayFromZeroNotToEven) {
  // These are exact binary values lying exactly half-way; printf would give 0, 2, .12, .38.
  EXPECT_EQ(FormatFixed(0.5, 0), "+1.");
  EXPECT_EQ(FormatFixed(2.5, 0), "+3.");
  EXPECT_EQ(FormatFixed(-2.5, 0), "-3.");
  EXPECT_EQ(FormatFixed(0.125, 2), "+.13");
  EXPECT_EQ(FormatFixed(-0.125, 2), "-.13");
  EXPECT_EQ(FormatFixed(0.375, 2), "+.38");
  EXPECT_EQ(FormatFixed(1.0000005, 6), "+1.000001");  // exact value 1.000000499999999969889...
  EXPECT_EQ(FormatFixed(0.0000005, 6), "+.000000");   // exact value 4.99999999999999977e-7
  EXPECT_EQ(FormatFixed(0.0000015, 6), "+.000002");   // exact value 1.50000000000000004e-6
  EXPECT_EQ(FormatFixed(std::ldexp(1.0, -21), 6), "+.000000");  // 4.76837158203125e-7
  EXPECT_EQ(FormatFixed(0.000000476837158203125 * 3, 6), "+.000001");
}

TEST(FormatFixed, TinyMagnitudesGiveTheRequestedCountOfZeros) {
  EXPECT_EQ(FormatFixed(1e-9, 6), "+.000000");
  EXPECT_EQ(FormatFixed(4.9406564584124654e-324, 15), "+.000000000000000");
  EXPECT_EQ(FormatFixed(-1e-300, 6), "-.000000");
}

TEST(FormatFixed, HugeValuesGiveAllTheirIntegerDigits) {
  EXPECT_EQ(FormatFixed(std::ldexp(1.0, 60), 0), "+1152921504606846976.");
  const std::string big = FormatFixed(1e308, 6);
  ASSERT_EQ(big.size(), 1 + 309 + 1 + 6);
  EXPECT_EQ(big.substr(0, 18), "+10000000000000000");
  EXPECT_EQ(big.substr(big.size() - 7), ".000000");
}

TEST(FormatFixed, DigitStringsBeyondTheBufferAreAConversionFailure) {
  MessageCapture capture;
  EXPECT_EQ(test::FormatFixedShown(1e308, 60), "");
  EXPECT_EQ(test::FormatFixedShown(1.0, -1), "");
  EXPECT_EQ(test::FormatFixedShown(1.0, 400), "");
  ASSERT_EQ(capture.messages().size(), 3u);
  EXPECT_EQ(capture.messages()[0], (Message{"Error of conversion of double to string!", "Error",
                                            Icon::Error, Owner::None}));
  EXPECT_EQ(FormatFixed(0.5, 300).size(), 302u);  // within the buffer: converts
}

TEST(FormatFixed, NonFiniteValuesHaveAShortText) {
  EXPECT_EQ(FormatFixed(INFINITY, 6), "+inf");
  EXPECT_EQ(FormatFixed(-INFINITY, 6), "-inf");
  EXPECT_EQ(FormatFixed(NAN, 6), "+nan");
}

TEST(FormatFixed, AgreesWithExactIntegerArithmeticOnRandomValues) {
  std::mt19937_64 rng(20191101);
  std::uniform_real_distribution<double> uniform(-1000.0, 1000.0);
  std::uniform_int_distribution<int> places(0, 15);
  for (int i = 0; i < 20000; ++i) {
    double v = uniform(rng);
    int d = places(rng);
    ASSERT_EQ(FormatFixed(v, d), ReferenceFixed(v, d)) << v << " " << d;
  }
  // Dyadic values with few bits hit exact ties often.
  std::uniform_int_distribution<int> numerators(-4096, 4096);
  for (int i = 0; i < 5000; ++i) {
    double v = std::ldexp(numerators(rng), -(i % 12));
    int d = i % 6;
    ASSERT_EQ(FormatFixed(v, d), ReferenceFixed(v, d)) << v << " " << d;
  }
}

TEST(FormatInt, WritesPlainDecimal) {
  EXPECT_EQ(FormatInt(4), "4");
  EXPECT_EQ(FormatInt(0), "0");
  EXPECT_EQ(FormatInt(-1), "-1");
  EXPECT_EQ(FormatInt(2147483647), "2147483647");
  EXPECT_EQ(FormatInt(-2147483647 - 1), "-2147483648");
}

TEST(ReportSystemError, NamesTheFunctionAndTheLastErrorCode) {
  MessageCapture capture;
  errno = 8;
  ReportSystemError("CreateThread");
  errno = 0;
  ReportSystemError(nullptr);
  errno = ENOENT;
  ReportSystemError("");
  ASSERT_EQ(capture.messages().size(), 3u);
  EXPECT_EQ(capture.messages()[0], (Message{"CreateThread has failed with error code: 8", "Error",
                                            Icon::Error, Owner::None}));
  EXPECT_EQ(capture.texts()[1], " has failed with error code: 0");
  EXPECT_EQ(capture.texts()[2], " has failed with error code: " + std::to_string(ENOENT));
}

TEST(ReadToken, SkipsSeparatorsAndStopsOnTheNextOne) {
  const std::string_view text = "  12.5\r\n7";
  size_t cursor = 0;
  EXPECT_EQ(ReadToken(text, cursor), "12.5");
  EXPECT_EQ(cursor, 6u);  // on the CR
  EXPECT_EQ(ReadToken(text, cursor), "7");
  EXPECT_EQ(cursor, text.size());
  EXPECT_EQ(ReadToken(text, cursor), "");
  EXPECT_EQ(cursor, text.size());
}

TEST(ReadToken, OnlyTabLfVtCrAndSpaceSeparate) {
  const std::string text("a\fb c\t\v\x00\x80z", 10);
  size_t cursor = 0;
  EXPECT_EQ(ReadToken(text, cursor), "a\fb");
  EXPECT_EQ(ReadToken(text, cursor), "c");
  EXPECT_EQ(ReadToken(text, cursor), std::string_view("\x00\x80z", 3));
  EXPECT_EQ(ReadToken(text, cursor), "");
}

TEST(ReadToken, EmptyAndAllSeparatorTexts) {
  size_t cursor = 0;
  EXPECT_EQ(ReadToken("", cursor), "");
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(ReadToken(" \t\r\n\v", cursor), "");
  EXPECT_EQ(cursor, 5u);
}

}  // namespace
}  // namespace zuba
