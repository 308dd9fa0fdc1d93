// Text routines shared by the report and the field map reader: token cutting and number
// formatting.
#pragma once

#include <cstddef>
#include <string_view>

namespace zuba {

// Returns the next token of text from cursor on and moves cursor past it. Separators are TAB, LF,
// VT, CR and space; every other byte (form feed, NUL, bytes 128..255 included) belongs to a token.
// The separator that ends a token is not consumed. The end of the text ends a token like a
// separator; at the end of the text the token is empty and cursor stays at the end. Never reads
// past the end of text.
std::string_view ReadToken(std::string_view text, std::size_t& cursor);

}  // namespace zuba
