// Numbers as text, whatever the locale: the one reader of a number wherever the program reads one
// (map files, coil tables, run fields, options of the command line and the dialogs) and the one
// writer of a number into a text; the marker of a missing value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zuba {

// The marker of a missing value in the per-energy tables, the value rows and the plots' series
// (an energy without values, an unstable tune): the real 2147483647.0.
inline constexpr double kNoValue = 2147483647.0;
// The same marker where a series holds integers.
inline constexpr int32_t kNoValueInt = 2147483647;

struct NumberSyntax {
  // Fortran's double-precision exponent: D or d in place of E ("1.5D+03"), as laboratory programs
  // write their maps.
  bool fortranExponent = false;
};

// The whole text as a finite number in decimal notation: an optional sign, digits with an
// optional point (at least one digit), an optional exponent (E or e, with the option also D or d)
// with an optional sign and at least one digit. Anything else is no number: an empty text, blanks,
// hexadecimal ("0x10"), an exponent without digits ("1e"), "inf", "nan", trailing characters
// ("12abc"), a decimal comma, a value beyond the range of double. A value below the smallest
// double reads as zero of its sign.
std::optional<double> ParseNumber(std::string_view text, NumberSyntax syntax = {});

// The whole text as an integer in decimal: an optional sign and digits, nothing else; empty when
// the value does not fit in 64 bits.
std::optional<int64_t> ParseWholeNumber(std::string_view text);

// How a number is written.
enum class Notation {
  Shortest,     // the shortest text that reads back as the same double
  Significant,  // printf's %.Ng: `precision` significant digits, fixed or exponent form
  Fixed,        // printf's %.Nf: `precision` digits after the point
  Scientific,   // printf's %.Ne: one digit, the point, `precision` digits, the exponent
};
struct NumberFormat {
  Notation notation = Notation::Shortest;
  int precision = 0;
};
constexpr NumberFormat Significant(int digits) {
  return {Notation::Significant, digits};
}
constexpr NumberFormat Fixed(int decimals) {
  return {Notation::Fixed, decimals};
}
constexpr NumberFormat Scientific(int decimals) {
  return {Notation::Scientific, decimals};
}

// The value as the format says, as printf writes it in the "C" locale (a point, never a comma;
// "inf", "-inf", "nan").
std::string FormatNumber(double value, NumberFormat format = {});

}  // namespace zuba
