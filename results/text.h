// Text routines shared by the report, the field map readers and the command line: number
// formatting, token cutting and trimming.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

// The value with exactly `decimals` fraction digits: sign ('+' or '-', negative zero included),
// integer digits (none when the rounded magnitude is below 1: no zero stands before the point),
// the point, the fraction digits. The digits are the exact decimal value of the binary number
// rounded to nearest, halves away from zero ("+26.260000", "+.600000", "-.000000",
// 9.9999999 -> "+10.000000").
// A magnitude that rounds to zero always gives exactly `decimals` zeros after the point, however
// small it is. Infinities and not-a-number give "+inf", "-inf", "+nan" or "-nan".
// A digit string longer than 348 characters (integer digits plus decimals), or a negative count of
// decimals, cannot be converted: the result is empty and the failure "Error of conversion of
// double to string!" (caption "Error", no owner) is appended to failures when given.
std::string FormatFixed(double value, int32_t decimals, std::vector<Failure>* failures = nullptr);

// The value in decimal: '-' for negative values, no sign otherwise, no padding ("-2147483648").
// A failed conversion gives an empty text and appends "Error of conversion of int to string!".
std::string FormatInt(int32_t value, std::vector<Failure>* failures = nullptr);

// Returns the next token of text from cursor on and moves cursor past it. Separators are TAB, LF,
// VT, CR and space; every other byte (form feed, NUL, bytes 128..255 included) belongs to a token.
// The separator that ends a token is not consumed. The end of the text ends a token like a
// separator; at the end of the text the token is empty and cursor stays at the end. Never reads
// past the end of text.
std::string_view ReadToken(std::string_view text, std::size_t& cursor);

// The text without its leading and trailing white space (space, TAB, LF, VT, FF, CR).
std::string TrimSpace(std::string_view text);

}  // namespace zuba
