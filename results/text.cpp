// Token cutting, trimming, number formatting and the report of a failed system call.
#include "results/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>

namespace zuba {
namespace {
bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\r';
}

// Longest digit string, terminator included, that the fixed-point conversion may produce.
constexpr int32_t kDigitBufferSize = 349;

// A double has at most 1074 binary fraction digits, hence at most 1074 decimal fraction digits,
// and at most 309 integer digits.
constexpr int kMaxFractionDigits = 1074;

// A failure appended where the caller keeps them.
void Fail(std::vector<Failure>* failures, const char* text, double value) {
  if (failures != nullptr) failures->push_back(ErrorFailure(text, "value", value));
}

// How many decimal fraction digits the exact value of the finite magnitude needs at most: the
// number of its binary fraction digits (each 2^-k has exactly k decimal fraction digits).
int ExactFractionDigits(double magnitude) {
  if (magnitude == 0) return 0;
  int exponent = 0;
  std::frexp(magnitude, &exponent);  // magnitude = f * 2^exponent, 0.5 <= f < 1
  // The 53-bit significand has its lowest bit at 2^(exponent - 53).
  return std::clamp(53 - exponent, 0, kMaxFractionDigits);
}

std::string FormatFixedDigits(double value, int32_t decimals, std::vector<Failure>* failures) {
  const bool negative = std::signbit(value);
  const char sign = negative ? '-' : '+';
  if (std::isnan(value)) return std::string(1, sign) + "nan";
  if (std::isinf(value)) return std::string(1, sign) + "inf";
  if (decimals < 0 || decimals >= kDigitBufferSize) {
    Fail(failures, "Error of conversion of double to string!", value);
    return {};
  }
  const double magnitude = std::fabs(value);

  // Printing with at least as many fraction digits as the binary value has makes the conversion
  // exact (no rounding at all); the rounding to `decimals` places is then ours, halves away from
  // zero, on the exact digits.
  const int precision = std::max(decimals + 1, ExactFractionDigits(magnitude));
  char exact[309 + 1 + kMaxFractionDigits + 16];
  auto [end, ec] =
      std::to_chars(exact, exact + sizeof exact, magnitude, std::chars_format::fixed, precision);
  if (ec != std::errc{}) {
    Fail(failures, "Error of conversion of double to string!", value);
    return {};
  }
  const std::string_view text(exact, static_cast<size_t>(end - exact));
  const size_t point = text.find('.');
  std::string_view integer = text.substr(0, point);
  if (integer == "0") integer = {};  // no zero stands before the point
  const std::string_view fraction = text.substr(point + 1);

  std::string digits;
  digits.reserve(integer.size() + static_cast<size_t>(decimals) + 1);
  digits.append(integer);
  digits.append(fraction.substr(0, static_cast<size_t>(decimals)));
  // The exact value lies at or beyond the half-way point when the first dropped digit is 5 or more.
  if (fraction[static_cast<size_t>(decimals)] >= '5') {
    size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i > 0) {
      ++digits[i - 1];
    } else {
      digits.insert(digits.begin(), '1');  // the carry runs out of the first digit
    }
  }
  const size_t integerDigits = digits.size() - static_cast<size_t>(decimals);
  if (digits.size() + 1 > static_cast<size_t>(kDigitBufferSize)) {
    Fail(failures, "Error of conversion of double to string!", value);
    return {};
  }
  std::string result;
  result.reserve(digits.size() + 2);
  result += sign;
  result.append(digits, 0, integerDigits);
  result += '.';
  result.append(digits, integerDigits);
  return result;
}
}  // namespace

std::string FormatFixed(double value, int32_t decimals, std::vector<Failure>* failures) {
  try {
    return FormatFixedDigits(value, decimals, failures);
  } catch (const std::bad_alloc&) {
    Fail(failures, "Error of allocation of memory!", value);
    return {};
  }
}

std::string FormatInt(int32_t value, std::vector<Failure>* failures) {
  char buffer[12];  // "-2147483648" and a terminator always fit
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc{}) {
    Fail(failures, "Error of conversion of int to string!", value);
    return {};
  }
  return std::string(buffer, end);
}

std::string_view ReadToken(std::string_view text, std::size_t& cursor) {
  while (cursor < text.size() && IsSeparator(text[cursor])) ++cursor;
  std::size_t start = cursor;
  while (cursor < text.size() && !IsSeparator(text[cursor])) ++cursor;
  return text.substr(start, cursor - start);
}

std::string TrimSpace(std::string_view text) {
  constexpr std::string_view kSpace = " \t\n\v\f\r";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kSpace) - first + 1));
}

}  // namespace zuba
