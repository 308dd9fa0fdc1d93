// Numbers as text (see numbers.h).
#include "platform/numbers.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace zuba {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The end of the digits that start at `at`.
size_t SkipDigits(std::string_view text, size_t at) {
  while (at < text.size() && IsDigit(text[at])) ++at;
  return at;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text, NumberSyntax syntax) {
  // The notation first, so that nothing from_chars would also take (a leading '+' aside) passes.
  size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  const size_t integerEnd = SkipDigits(text, at);
  size_t end = integerEnd;
  size_t digits = integerEnd - at;
  if (end < text.size() && text[end] == '.') {
    const size_t fractionEnd = SkipDigits(text, end + 1);
    digits += fractionEnd - end - 1;
    end = fractionEnd;
  }
  if (digits == 0) return std::nullopt;
  size_t exponent = std::string_view::npos;  // position of the exponent letter
  if (end < text.size()) {
    const char c = text[end];
    const bool letter = c == 'e' || c == 'E' || (syntax.fortranExponent && (c == 'd' || c == 'D'));
    if (!letter) return std::nullopt;
    exponent = end;
    size_t e = end + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    const size_t exponentEnd = SkipDigits(text, e);
    if (exponentEnd == e || exponentEnd != text.size()) return std::nullopt;
    end = exponentEnd;
  }
  // from_chars takes no '+' and no D exponent: the text it reads drops the one and respells the
  // other.
  const size_t from = text.front() == '+' ? 1 : 0;
  std::string respelt;
  std::string_view digitsText = text.substr(from);
  if (exponent != std::string_view::npos && (text[exponent] == 'd' || text[exponent] == 'D')) {
    respelt.assign(digitsText);
    respelt[exponent - from] = 'e';
    digitsText = respelt;
  }
  double value = 0;
  const auto [stop, error] =
      std::from_chars(digitsText.data(), digitsText.data() + digitsText.size(), value);
  if (stop != digitsText.data() + digitsText.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    // Beyond the range of double, or below its smallest value: the latter is zero.
    bool nonZero = false;
    for (size_t i = 0; i < (exponent == std::string_view::npos ? text.size() : exponent); ++i)
      nonZero = nonZero || (IsDigit(text[i]) && text[i] != '0');
    const bool negativeExponent = exponent != std::string_view::npos &&
                                  exponent + 1 < text.size() && text[exponent + 1] == '-';
    if (nonZero && !negativeExponent) return std::nullopt;
    return text.front() == '-' ? -0.0 : 0.0;
  }
  if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<int64_t> ParseWholeNumber(std::string_view text) {
  size_t from = 0;
  if (!text.empty() && text.front() == '+') from = 1;
  const std::string_view digits = text.substr(from);
  if (digits.empty() || (digits.front() == '-' && from == 1)) return std::nullopt;
  const size_t first = digits.front() == '-' ? 1 : 0;
  if (first == digits.size()) return std::nullopt;
  for (size_t i = first; i < digits.size(); ++i)
    if (!IsDigit(digits[i])) return std::nullopt;
  int64_t value = 0;
  const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || stop != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::string FormatNumber(double value, NumberFormat format) {
  char buffer[400];  // %.17f of the largest double, with sign and point, fits
  char* const last = buffer + sizeof buffer;
  std::to_chars_result written{};
  switch (format.notation) {
    case Notation::Shortest:
      written = std::to_chars(buffer, last, value);
      break;
    case Notation::Significant:
      written = std::to_chars(buffer, last, value, std::chars_format::general, format.precision);
      break;
    case Notation::Fixed:
      written = std::to_chars(buffer, last, value, std::chars_format::fixed, format.precision);
      break;
    case Notation::Scientific:
      written = std::to_chars(buffer, last, value, std::chars_format::scientific, format.precision);
      break;
  }
  if (written.ec != std::errc()) return {};
  return std::string(buffer, written.ptr);
}

}  // namespace zuba
